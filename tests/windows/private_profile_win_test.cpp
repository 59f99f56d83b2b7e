// The portable ini implementation against the system's: the same files and the same calls must
// give the same answers, lengths and buffers included.
#include "config/private_profile_win.h"
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/native_private_profile.h"
#include "config/profile_access.h"

namespace {

namespace fs = std::filesystem;

struct Query {
  std::wstring section;
  std::wstring key;
  std::wstring fallback = L"<def>";
  uint32_t size = 64;
};

struct ReadCase {
  const char* name;
  std::string file;  // bytes; empty means no file at all
  std::vector<Query> queries;
};

struct Write {
  std::wstring section;
  std::optional<std::wstring> key;
  std::optional<std::wstring> value;
};

struct WriteCase {
  const char* name;
  std::string file;
  std::vector<Write> writes;
  std::vector<Query> queries;
};

std::string Utf16LeFile(const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  for (const wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes;
}

const std::vector<ReadCase>& ReadCases() {
  static const std::vector<ReadCase> cases = {
      {"plain",
       "[Main]\r\nKey=Value\r\nEmpty=\r\n",
       {{L"Main", L"Key"},
        {L"main", L"KEY"},
        {L"  Main\t", L" Key "},
        {L"Main", L"Empty"},
        {L"Main", L"Missing"},
        {L"Missing", L"Key"},
        {L"Main", L"Key", L"", 3},
        {L"Main", L"Key", L"", 6},
        {L"Main", L"Key", L"", 1},
        {L"Main", L"Missing", L"fallback", 4}}},
      {"blanks around names and values",
       "  [S]  \r\n  a  =   b c   \r\n\tt\t=\tx\t\r\nsp ace = v\r\n",
       {{L"S", L"a"}, {L"S", L"t"}, {L"S", L"sp ace"}, {L"S", L"space"}}},
      {"quotes",
       "[Q]\r\nd=\"double\"\r\ns='single'\r\nm=\"mixed'\r\nl=\"\r\ne=''\r\ni=a\"b\"\r\n"
       "p=\"  padded  \"\r\nh=\"half\r\n",
       {{L"Q", L"d"},
        {L"Q", L"s"},
        {L"Q", L"m"},
        {L"Q", L"l"},
        {L"Q", L"e"},
        {L"Q", L"i"},
        {L"Q", L"p"},
        {L"Q", L"h"}}},
      {"semicolon lines are ordinary",
       "[C]\r\n;c=1\r\n; spaced = 2\r\n#h=3\r\nreal=4\r\n",
       {{L"C", L";c"}, {L"C", L"; spaced"}, {L"C", L"#h"}, {L"C", L"real"}}},
      {"first section and first key win",
       "[D]\r\nk=1\r\nk=2\r\n[d]\r\nk=3\r\nonly=4\r\n[D]\r\nk=5\r\n",
       {{L"D", L"k"}, {L"d", L"only"}}},
      {"lines without equals",
       "[N]\r\nbare\r\nbare=1\r\nafter=2\r\n",
       {{L"N", L"bare"}, {L"N", L"after"}}},
      // Section "" is left out: the program never names it, and what it reaches is the least
      // settled corner of the system's behaviour.
      {"keys before any section", "top=1\r\n[S]\r\nk=2\r\n", {{L"S", L"top"}, {L"S", L"k"}}},
      {"header shapes",
       "[ Spaced ]\r\na=1\r\n[x]junk\r\nb=2\r\n[y]]\r\nc=3\r\n[]\r\nd=4\r\n",
       {{L"Spaced", L"a"}, {L" Spaced ", L"a"}, {L"x", L"b"}, {L"y]", L"c"}, {L"y", L"c"}}},
      {"line ends", "[L]\na=1\n\n\nb=2\r\n\r\nc=3", {{L"L", L"a"}, {L"L", L"b"}, {L"L", L"c"}}},
      {"defaults",
       "[S]\r\n",
       {{L"S", L"k", L"def  "},
        {L"S", L"k", L"\"quoted\""},
        {L"S", L"k", L"  lead"},
        {L"S", L"k", L""},
        {L"S", L"k", L"abcdef", 4}}},
      {"missing file", "", {{L"S", L"k"}, {L"S", L"k", L"x", 2}}},
      {"utf-16 file",
       Utf16LeFile(L"[中文]\r\n键=值 value\r\n[S]\r\nk=v\r\n"),
       {{L"中文", L"键"}, {L"S", L"k"}}},
      {"long value",
       "[S]\r\nlong=" + std::string(3000, 'x') + "\r\n",
       {{L"S", L"long", L"", 2048}, {L"S", L"long", L"", 4096}}},
  };
  return cases;
}

const std::vector<WriteCase>& WriteCases() {
  static const std::vector<WriteCase> cases = {
      {"new key, changed key, new section",
       "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n",
       {{L"A", L"z", L"3"}, {L"a", L"X", L"10"}, {L"C", L"w", L"   4"}, {L"B", L"y", L""}},
       {{L"A", L"x"}, {L"A", L"z"}, {L"C", L"w"}, {L"B", L"y"}}},
      {"deletions",
       "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n[a]\r\nx=4\r\n",
       {{L"A", L"x", std::nullopt}, {L"B", std::nullopt, std::nullopt}},
       {{L"A", L"x"}, {L"A", L"y"}, {L"B", L"z"}, {L"a", L"x"}}},
      {"delete only the first section of a name",
       "[A]\r\nx=1\r\n[B]\r\ny=2\r\n[a]\r\nz=3\r\n",
       {{L"A", std::nullopt, std::nullopt}},
       {{L"A", L"x"}, {L"A", L"z"}, {L"B", L"y"}}},
      {"write creates the file", "", {{L"S", L"k", L"v"}}, {{L"S", L"k"}}},
      {"section name with brackets escaped",
       "",
       {{EscapeSectionName(L"A[1]%"), L"k", L"v"}},
       {{EscapeSectionName(L"A[1]%"), L"k"}}},
  };
  return cases;
}

class PrivateProfileCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kavrin_ini_compare_" + std::to_string(GetSeq()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A fresh name for every file: the system caches profile files by name and modification time.
  std::wstring NewFile(const std::string& bytes) {
    const fs::path path = dir_ / ("f" + std::to_string(GetSeq()) + ".ini");
    if (!bytes.empty()) std::ofstream(path, std::ios::binary) << bytes;
    return path.wstring();
  }

  static int GetSeq() {
    static std::atomic<int> seq{0};
    return seq++;
  }

  struct Answer {
    uint32_t length;
    std::wstring buffer;
    bool operator==(const Answer&) const = default;
    friend void PrintTo(const Answer& answer, std::ostream* out) {
      std::wstring shown;
      for (const wchar_t c : answer.buffer)
        shown += c == L'\0' ? std::wstring(L"\\0") : std::wstring(1, c);
      *out << answer.length << " \"" << WideToUtf8(shown) << "\"";
    }
  };

  static Answer Ask(PrivateProfile& profile, const Query& q, const std::wstring& file) {
    std::wstring buffer(q.size + 1, L'#');
    const uint32_t length =
        profile.GetString(q.section, q.key, q.fallback, buffer.data(), q.size, file);
    return {length, buffer.substr(0, std::min<size_t>(length + 1, q.size))};
  }

  static Answer AskNames(PrivateProfile& profile, uint32_t size, const std::wstring& file) {
    std::wstring buffer(size + 1, L'#');
    const uint32_t length = profile.GetSectionNames(buffer.data(), size, file);
    return {length, buffer.substr(0, std::min<size_t>(length + 2, size))};
  }

  void CompareNames(const std::wstring& winFile, const std::wstring& nativeFile) {
    for (const uint32_t size : {1u, 2u, 3u, 5u, 8u, 13u, 200u}) {
      EXPECT_EQ(AskNames(system_, size, winFile), AskNames(native_, size, nativeFile))
          << "section names, size " << size;
    }
  }

  fs::path dir_;
  WinPrivateProfile system_;
  NativePrivateProfile native_;
};

std::string Describe(const Query& q) {
  return WideToUtf8(L"[" + q.section + L"] " + q.key + L" default '" + q.fallback + L"' size ") +
         std::to_string(q.size);
}

TEST_F(PrivateProfileCompareTest, ReadsMatchTheSystem) {
  for (const ReadCase& c : ReadCases()) {
    SCOPED_TRACE(c.name);
    const std::wstring winFile = NewFile(c.file);
    const std::wstring nativeFile = NewFile(c.file);
    for (const Query& q : c.queries) {
      EXPECT_EQ(Ask(system_, q, winFile), Ask(native_, q, nativeFile)) << Describe(q);
    }
    CompareNames(winFile, nativeFile);
  }
}

TEST_F(PrivateProfileCompareTest, NarrowReadsMatchTheSystem) {
  const std::string text = "[S]\r\nk = \"v a l\" \r\nn=123456789\r\n";
  const std::string winFile = WideToAnsi(NewFile(text));
  const std::string nativeFile = WideToAnsi(NewFile(text));
  for (const char* key : {"k", "n", "missing"}) {
    for (const uint32_t size : {1u, 4u, 64u}) {
      std::string a(size, '#');
      std::string b(size, '#');
      EXPECT_EQ(GetPrivateProfileStringA("s", key, "dflt ", a.data(), size, winFile.c_str()),
                native_.GetStringBytes("s", key, "dflt ", b.data(), size, nativeFile))
          << key << " " << size;
      EXPECT_STREQ(a.c_str(), b.c_str()) << key << " " << size;
    }
  }
}

// Service answers are UTF-8; the system's narrow read would pass them through code page 936
// and lose every character whose bytes are not valid there.
TEST_F(PrivateProfileCompareTest, Utf8TextsArriveWhole) {
  const std::wstring titles[] = {L"海外网站加速", L"全局加速", L"电信 / 联通", L"東京 ✓"};
  std::string text = "[Routes]\r\n";
  for (size_t i = 0; i < std::size(titles); ++i) {
    text += "Title" + std::to_string(i) + "=" + WideToUtf8(titles[i]) + "\r\n";
  }
  const std::wstring file = NewFile(text);
  for (size_t i = 0; i < std::size(titles); ++i) {
    EXPECT_EQ(ReadProfileUtf8Text(system_, file, L"Routes", L"Title" + std::to_wstring(i)),
              titles[i]);
  }
}

TEST_F(PrivateProfileCompareTest, WritesMatchTheSystem) {
  for (const WriteCase& c : WriteCases()) {
    SCOPED_TRACE(c.name);
    const std::wstring winFile = NewFile(c.file);
    const std::wstring nativeFile = NewFile(c.file);
    for (const Write& w : c.writes) {
      EXPECT_EQ(system_.WriteString(w.section, w.key, w.value, winFile),
                native_.WriteString(w.section, w.key, w.value, nativeFile));
    }
    for (const Query& q : c.queries) {
      EXPECT_EQ(Ask(system_, q, winFile), Ask(native_, q, nativeFile)) << Describe(q);
    }
    CompareNames(winFile, nativeFile);
  }
}

TEST_F(PrivateProfileCompareTest, LayerReadsLongValuesThroughTheSystem) {
  const std::wstring value(9000, L'v');
  const std::wstring file = NewFile("");
  WriteProfileText(system_, file, L"A[1]%", L"long", value);
  EXPECT_EQ(ReadProfileText(system_, file, L"A[1]%", L"long", L""), value);
  EXPECT_EQ(ReadProfileUtf8Text(system_, file, L"A[1]%", L"long"), value);
  EXPECT_EQ(EnumProfileSections(system_, file), std::vector<std::wstring>{L"A[1]%"});
}

}  // namespace
