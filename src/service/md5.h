// MD5 (RFC 1321), for checking downloaded update packages against the digest the service names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class Md5 {
 public:
  using Digest = std::array<uint8_t, 16>;

  Md5();
  void Update(const void* data, size_t size);
  // Pads, appends the bit length and returns the digest; the object starts over afterwards.
  Digest Finish();

 private:
  void Transform(const uint8_t block[64]);
  void Reset();

  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes taken so far
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

// 32 lower-case hexadecimal digits.
std::wstring Md5DigestHex(const Md5::Digest& digest);
std::wstring Md5Hex(std::string_view bytes);

// The MD5 of a file's contents, read in blocks of 4096 bytes; empty text when the file cannot
// be opened or read to its end.
std::wstring FileMd5Hex(const std::wstring& path);
