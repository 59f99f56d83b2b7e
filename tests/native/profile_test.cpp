#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "base/text.h"
#include "config/native_private_profile.h"
#include "config/profile_access.h"

namespace {

namespace fs = std::filesystem;

// Passes calls on to the native implementation and notes the buffer sizes asked for.
class RecordingProfile : public PrivateProfile {
 public:
  uint32_t GetString(const std::wstring& section, const std::wstring& key,
                     const std::wstring& fallback, wchar_t* buffer, uint32_t size,
                     const std::wstring& file) override {
    sizes.push_back(size);
    return inner.GetString(section, key, fallback, buffer, size, file);
  }
  uint32_t GetStringBytes(const std::string& section, const std::string& key,
                          const std::string& fallback, char* buffer, uint32_t size,
                          const std::string& file) override {
    sizes.push_back(size);
    return inner.GetStringBytes(section, key, fallback, buffer, size, file);
  }
  bool WriteString(const std::wstring& section, const std::optional<std::wstring>& key,
                   const std::optional<std::wstring>& value, const std::wstring& file) override {
    return inner.WriteString(section, key, value, file);
  }
  uint32_t GetSectionNames(wchar_t* buffer, uint32_t size, const std::wstring& file) override {
    sizes.push_back(size);
    return inner.GetSectionNames(buffer, size, file);
  }

  NativePrivateProfile inner;
  std::vector<uint32_t> sizes;
};

// An implementation that always claims to have filled the buffer, as a broken one might.
class AlwaysFullProfile : public PrivateProfile {
 public:
  uint32_t GetString(const std::wstring&, const std::wstring&, const std::wstring&, wchar_t* buffer,
                     uint32_t size, const std::wstring&) override {
    ++calls;
    buffer[0] = L'x';
    return size - 1;
  }
  uint32_t GetStringBytes(const std::string&, const std::string&, const std::string&, char*,
                          uint32_t size, const std::string&) override {
    ++calls;
    return size - 1;
  }
  bool WriteString(const std::wstring&, const std::optional<std::wstring>&,
                   const std::optional<std::wstring>&, const std::wstring&) override {
    return false;
  }
  uint32_t GetSectionNames(wchar_t* buffer, uint32_t size, const std::wstring&) override {
    ++calls;
    buffer[0] = L'S';
    return size - 2;
  }
  int calls = 0;
};

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("kavrin_profile_test_" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = Utf8ToWide((dir_ / "test.ini").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteFile(const std::string& bytes) {
    std::ofstream(dir_ / "test.ini", std::ios::binary) << bytes;
  }
  std::string ReadFile() {
    std::ifstream in(dir_ / "test.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::wstring Text(const std::wstring& section, const std::wstring& key,
                    const std::wstring& fallback = L"-") {
    return ReadProfileText(profile_, file_, section, key, fallback);
  }

  fs::path dir_;
  std::wstring file_;
  RecordingProfile profile_;
};

TEST(SectionNameTest, EscapesOnlyTheCharactersThatBreakAHeader) {
  EXPECT_EQ(EscapeSectionName(L"A[1]%"), L"A%5b1%5d%25");
  EXPECT_EQ(EscapeSectionName(L"a\tb\nc\rd"), L"a%09b%0ac%0dd");
  EXPECT_EQ(EscapeSectionName(L"C:\\Program Files\\QQ.exe"), L"C:\\Program Files\\QQ.exe");
  EXPECT_EQ(EscapeSectionName(L"中文 = ;"), L"中文 = ;");
  for (const std::wstring name : {L"A[1]%", L"%%[[]]", L"\t\r\n", L"100%", L"%25"}) {
    EXPECT_EQ(UnescapeSectionName(EscapeSectionName(name)), name);
  }
}

TEST(SectionNameTest, LeavesMalformedEscapesAlone) {
  EXPECT_EQ(UnescapeSectionName(L"A%5b1%5D%25"), L"A[1]%");
  EXPECT_EQ(UnescapeSectionName(L"%41%42"), L"AB");
  EXPECT_EQ(UnescapeSectionName(L"100%"), L"100%");
  EXPECT_EQ(UnescapeSectionName(L"ends%4"), L"ends%4");
  EXPECT_EQ(UnescapeSectionName(L"%zz%g1"), L"%zz%g1");
  EXPECT_EQ(UnescapeSectionName(L"nul%00here"), L"nul%00here");
}

TEST_F(ProfileTest, EscapedSectionIsWrittenAndEnumeratedBack) {
  EXPECT_TRUE(WriteProfileText(profile_, file_, L"A[1]%", L"Key", L"value"));
  EXPECT_TRUE(WriteProfileInt(profile_, file_, L"Plain", L"Count", -12));
  EXPECT_EQ(ReadFile(), "[A%5b1%5d%25]\r\nKey=value\r\n[Plain]\r\nCount=-12\r\n");
  EXPECT_EQ(EnumProfileSections(profile_, file_), (std::vector<std::wstring>{L"A[1]%", L"Plain"}));
  EXPECT_EQ(Text(L"A[1]%", L"Key"), L"value");
  EXPECT_EQ(ReadProfileInt(profile_, file_, L"Plain", L"Count", 0), -12);

  EXPECT_TRUE(DeleteProfileSection(profile_, file_, L"A[1]%"));
  EXPECT_EQ(EnumProfileSections(profile_, file_), std::vector<std::wstring>{L"Plain"});
}

TEST_F(ProfileTest, LongValuesAreReadWholeByGrowingTheBuffer) {
  const std::wstring longValue(5000, L'v');
  const std::wstring edgeValue(2047, L'e');
  WriteFile("[S]\nlong=" + WideToUtf8(longValue) + "\nedge=" + WideToUtf8(edgeValue) +
            "\nshort=abc\n");

  EXPECT_EQ(Text(L"S", L"long"), longValue);
  EXPECT_EQ(profile_.sizes, (std::vector<uint32_t>{2048, 4096, 8192}));

  profile_.sizes.clear();
  EXPECT_EQ(Text(L"S", L"edge"), edgeValue);
  EXPECT_EQ(profile_.sizes, (std::vector<uint32_t>{2048, 4096}));

  profile_.sizes.clear();
  EXPECT_EQ(ReadProfileUtf8Text(profile_, file_, L"S", L"long"), longValue);
  EXPECT_EQ(profile_.sizes, (std::vector<uint32_t>{2048, 4096, 8192}));

  profile_.sizes.clear();
  EXPECT_EQ(Text(L"S", L"short"), L"abc");
  EXPECT_EQ(profile_.sizes, std::vector<uint32_t>{2048});
}

TEST_F(ProfileTest, ManySectionsAreEnumeratedByGrowingTheBuffer) {
  std::string bytes;
  std::vector<std::wstring> expected;
  for (int i = 0; i < 400; ++i) {
    bytes += "[Section number " + std::to_string(i) + "]\r\nk=v\r\n";
    expected.push_back(L"Section number " + std::to_wstring(i));
  }
  WriteFile(bytes);
  EXPECT_EQ(EnumProfileSections(profile_, file_), expected);
  EXPECT_EQ(profile_.sizes, (std::vector<uint32_t>{2048, 4096, 8192}));
}

TEST(ProfileGrowthTest, StopsGrowingAtTheCap) {
  AlwaysFullProfile broken;
  const std::wstring value = ReadProfileText(broken, L"f.ini", L"S", L"k", L"");
  EXPECT_EQ(value.size(), kMaxProfileValueSize - 1);
  EXPECT_EQ(broken.calls, 14);

  broken.calls = 0;
  EXPECT_EQ(ReadProfileUtf8Text(broken, L"f.ini", L"S", L"k"), L"");
  EXPECT_EQ(broken.calls, 14);

  broken.calls = 0;
  EXPECT_EQ(EnumProfileSections(broken, L"f.ini"), std::vector<std::wstring>{L"S"});
  EXPECT_EQ(broken.calls, 14);
}

TEST_F(ProfileTest, IntegersParseLikeTheCRuntimeWithBaseZero) {
  WriteFile(
      "[N]\nhex=0x1F\nupper=0XfF\noctal=010\nnegative=-5\nplus=+7\njunk=12abc\nspaces=   42  \n"
      "word=abc\nzero_x=0x\nnine=09\nempty=\nquoted=\"33\"\nbig=99999999999\nsmall=-99999999999\n"
      "min=-2147483648\nwide=0x7fffffffffffffff\nwide_min=-9223372036854775808\n"
      "wider=123456789012345678901234\n");
  auto read = [&](const wchar_t* key) { return ReadProfileInt(profile_, file_, L"N", key, -77); };
  EXPECT_EQ(read(L"hex"), 31);
  EXPECT_EQ(read(L"octal"), 8);
  EXPECT_EQ(read(L"negative"), -5);
  EXPECT_EQ(read(L"plus"), 7);
  EXPECT_EQ(read(L"junk"), 12);
  EXPECT_EQ(read(L"spaces"), 42);
  EXPECT_EQ(read(L"word"), 0);
  EXPECT_EQ(read(L"zero_x"), 0);
  EXPECT_EQ(read(L"nine"), 0);
  EXPECT_EQ(read(L"quoted"), 33);
  EXPECT_EQ(read(L"empty"), -77);
  EXPECT_EQ(read(L"absent"), -77);
  EXPECT_EQ(read(L"big"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(read(L"small"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(read(L"min"), std::numeric_limits<int32_t>::min());

  auto read64 = [&](const wchar_t* key) { return ReadProfileInt64(profile_, file_, L"N", key); };
  EXPECT_EQ(read64(L"upper"), 255);
  EXPECT_EQ(read64(L"big"), 99999999999);
  EXPECT_EQ(read64(L"small"), -99999999999);
  EXPECT_EQ(read64(L"wide"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(read64(L"wide_min"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(read64(L"wider"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(read64(L"empty"), 0);
  EXPECT_EQ(read64(L"absent"), 0);
}

TEST_F(ProfileTest, MissingFileReadsAsDefaults) {
  EXPECT_EQ(Text(L"S", L"k", L"fallback"), L"fallback");
  EXPECT_EQ(ReadProfileUtf8Text(profile_, file_, L"S", L"k"), L"");
  EXPECT_EQ(ReadProfileInt(profile_, file_, L"S", L"k", 5), 5);
  EXPECT_EQ(ReadProfileInt64(profile_, file_, L"S", L"k"), 0);
  EXPECT_TRUE(EnumProfileSections(profile_, file_).empty());
  EXPECT_TRUE(DeleteProfileSection(profile_, file_, L"S"));
  EXPECT_FALSE(fs::exists(dir_ / "test.ini"));
}

TEST_F(ProfileTest, ReadsFollowTheSystemsRules) {
  WriteFile(
      "top=before any section\r\n"
      "[Main]\r\n"
      "  Spaced Key  =   padded value   \r\n"
      "double=\"quoted\"\r\n"
      "single='quoted'\r\n"
      "mismatched=\"quoted'\r\n"
      "lone=\"\r\n"
      ";comment=not special\r\n"
      "bare line\r\n"
      "dup=first\r\n"
      "dup=second\r\n"
      "msg=中文消息\r\n"
      "[main]\r\n"
      "later=hidden by the first [Main]\r\n"
      "[ Other ]\r\n"
      "x=1");
  EXPECT_EQ(Text(L"MAIN", L"spaced key"), L"padded value");
  EXPECT_EQ(Text(L" Main ", L" Spaced Key "), L"padded value");
  EXPECT_EQ(Text(L"Main", L"double"), L"quoted");
  EXPECT_EQ(Text(L"Main", L"single"), L"quoted");
  EXPECT_EQ(Text(L"Main", L"mismatched"), L"\"quoted'");
  EXPECT_EQ(Text(L"Main", L"lone"), L"\"");
  EXPECT_EQ(Text(L"Main", L";comment"), L"not special");
  EXPECT_EQ(Text(L"Main", L"bare line"), L"-");
  EXPECT_EQ(Text(L"Main", L"dup"), L"first");
  EXPECT_EQ(Text(L"Main", L"msg"), L"中文消息");
  EXPECT_EQ(ReadProfileUtf8Text(profile_, file_, L"Main", L"msg"), L"中文消息");
  EXPECT_EQ(Text(L"Main", L"later"), L"-");
  EXPECT_EQ(Text(L"Main", L"top"), L"-");
  EXPECT_EQ(Text(L"", L"top"), L"-");
  EXPECT_EQ(Text(L"Other", L"x"), L"1");
  EXPECT_EQ(Text(L"Main", L"absent", L"  front  "), L"  front");
  EXPECT_EQ(Text(L"Main", L"absent", L"'quoted default'"), L"quoted default");
  EXPECT_EQ(EnumProfileSections(profile_, file_),
            (std::vector<std::wstring>{L"Main", L"main", L"Other"}));
}

TEST_F(ProfileTest, WritesChangeOnlyTheLinesConcerned) {
  WriteFile(
      "; kept comment\n"
      "[Apps]\n"
      "Active=1\n"
      "Path = C:\\old.exe\n"
      "\n"
      "[Other]\n"
      "x=1\n");
  WriteProfileText(profile_, file_, L"apps", L"path", L"C:\\new.exe");
  WriteProfileInt(profile_, file_, L"Apps", L"Count", 3);
  WriteProfileText(profile_, file_, L"New", L"k", L"  leading blanks dropped");
  EXPECT_EQ(ReadFile(),
            "; kept comment\n"
            "[Apps]\n"
            "Active=1\n"
            "Path=C:\\new.exe\n"
            "Count=3\n"
            "\n"
            "[Other]\n"
            "x=1\n"
            "[New]\n"
            "k=leading blanks dropped\n");

  EXPECT_TRUE(profile_.WriteString(L"Apps", L"ACTIVE", std::nullopt, file_));
  DeleteProfileSection(profile_, file_, L"Other");
  EXPECT_EQ(ReadFile(),
            "; kept comment\n"
            "[Apps]\n"
            "Path=C:\\new.exe\n"
            "Count=3\n"
            "\n"
            "[New]\n"
            "k=leading blanks dropped\n");
}

TEST_F(ProfileTest, UnterminatedLastLineGetsALineBreakBeforeAdditions) {
  WriteFile("[S]\r\na=1");
  WriteProfileText(profile_, file_, L"S", L"b", L"2");
  WriteProfileText(profile_, file_, L"T", L"c", L"3");
  EXPECT_EQ(ReadFile(), "[S]\r\na=1\r\nb=2\r\n[T]\r\nc=3\r\n");
  DeleteProfileSection(profile_, file_, L"T");
  EXPECT_EQ(ReadFile(), "[S]\r\na=1\r\nb=2\r\n");
}

TEST_F(ProfileTest, Utf16FileIsReadAndWrittenInItsEncoding) {
  const std::string utf16 =
      std::string("\xFF\xFE", 2) + std::string("[\0S\0]\0\r\0\n\0k\0=\0\x2D\x4E\x87\x65", 18);
  WriteFile(utf16);
  EXPECT_EQ(Text(L"S", L"k"), L"中文");
  WriteProfileText(profile_, file_, L"S", L"n", L"1");
  EXPECT_EQ(ReadFile(), utf16 + std::string("\r\0\n\0n\0=\0\x31\0\r\0\n\0", 14));
}

TEST_F(ProfileTest, PortReportsCutValuesAndListsLikeTheSystem) {
  WriteFile("[Alpha]\n[Beta]\n[S]\nk=abcdef\n");
  NativePrivateProfile& native = profile_.inner;
  wchar_t buffer[16] = {};
  EXPECT_EQ(native.GetString(L"S", L"k", L"", buffer, 4, file_), 3u);
  EXPECT_EQ(std::wstring(buffer), L"abc");
  EXPECT_EQ(native.GetString(L"S", L"k", L"", buffer, 16, file_), 6u);
  EXPECT_EQ(native.GetString(L"S", L"k", L"", buffer, 0, file_), 0u);

  EXPECT_EQ(native.GetSectionNames(buffer, 16, file_), 13u);
  EXPECT_EQ(std::wstring(buffer, 14), std::wstring(L"Alpha\0Beta\0S\0\0", 14));
  EXPECT_EQ(native.GetSectionNames(buffer, 9, file_), 7u);
  EXPECT_EQ(std::wstring(buffer, 9), std::wstring(L"Alpha\0B\0\0", 9));
  EXPECT_EQ(native.GetSectionNames(buffer, 1, file_), 0u);

  char bytes[4] = {};
  EXPECT_EQ(native.GetStringBytes("S", "k", "", bytes, 4, WideToUtf8(file_)), 3u);
  EXPECT_EQ(std::string(bytes), "abc");
}

}  // namespace
