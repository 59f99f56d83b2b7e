// What a console child has written since its reader last cleared it, searched from two threads:
// the reader appends, the owner and the reader's handler query and clear. Every operation takes
// the one lock, so a query never sees half a chunk.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

class ConsoleOutputBuffer {
 public:
  // Far more than a child prints between two points where its reader clears the buffer, yet
  // small enough that a child writing forever without a line end cannot exhaust memory.
  static constexpr size_t kDefaultLimit = 256 * 1024;

  explicit ConsoleOutputBuffer(size_t limit = kDefaultLimit) : limit_(limit) {}

  // Past the limit the oldest bytes go: prompts and the latest status lines are at the end.
  void Append(const char* data, size_t length);
  void Clear();
  std::string Get() const;
  // The contents and an empty buffer in one step, so nothing appended in between is lost.
  std::string Take();
  // Byte comparison with the last bytes; prompts are written without a line end.
  bool EndsWith(std::string_view text) const;
  bool Contains(std::string_view text) const;
  // The bytes between the first `start` and the first `end` after it. False, with `result`
  // emptied, unless both are there.
  bool ExtractBetween(std::string_view start, std::string_view end, std::string& result) const;
  size_t size() const;
  size_t limit() const { return limit_; }

 private:
  mutable std::mutex mutex_;
  std::string bytes_;
  const size_t limit_;
};
