#include "service/md5.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// Bytes that differ from block to block, so a block read twice or skipped changes the digest.
std::string Pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

// Around the 56-byte padding limit, the 64-byte block and the 4096-byte file block.
constexpr struct {
  size_t length;
  const wchar_t* digest;
} kPatternDigests[] = {
    {55, L"52c0e574e1198de5fe3f8f11440dcb1b"},    {56, L"46c9907fc908ee68b1e7b8e71286a518"},
    {63, L"a62f6d59e837867693f042f5b8f5a236"},    {64, L"7160b8fb5e9e4023d549c3971fbaeead"},
    {65, L"70bd662e7aefbda85a0f7244167b7897"},    {4095, L"53de317667ca40d9642e2d859bfbfd16"},
    {4096, L"d105289f5617c241f52a191c6b2fc809"},  {4097, L"c7cfb8a6d3d4929f9035e0918250b62d"},
    {10000, L"941546d1c333e2f0d9efd902e5cb94b7"},
};

}  // namespace

TEST(Md5, SuiteOfRfc1321) {
  EXPECT_EQ(Md5Hex(""), L"d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), L"0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), L"900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), L"f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), L"c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            L"d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"),
            L"57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, SameDigestWhateverTheFeedingSizes) {
  for (const auto& known : kPatternDigests) {
    const std::string bytes = Pattern(known.length);
    for (size_t piece : {1u, 63u, 64u, 100u, 100000u}) {
      Md5 md5;
      for (size_t at = 0; at < bytes.size(); at += piece) {
        md5.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
      }
      EXPECT_EQ(Md5DigestHex(md5.Finish()), known.digest) << known.length << " by " << piece;
    }
  }
}

TEST(Md5, FileDigestAcrossReadBlocksAndNoneForWhatCannotBeRead) {
  const fs::path dir = fs::temp_directory_path() / "kv-md5-files";
  fs::create_directories(dir);
  for (const auto& known : kPatternDigests) {
    const std::string bytes = Pattern(known.length);
    std::ofstream(dir / "f", std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(FileMd5Hex((dir / "f").wstring()), known.digest) << known.length;
  }
  EXPECT_EQ(FileMd5Hex((dir / "missing.exe").wstring()), L"");
  EXPECT_EQ(FileMd5Hex(dir.wstring()), L"");
  fs::remove_all(dir);
}
