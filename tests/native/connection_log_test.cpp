#include "app/connection_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/text.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kSomeTime = 1700000000;

class ConnectionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("kv_log_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The data folder as the program finds it: ours or not.
  ProgramDataFolder Folder(bool owned, const std::string& sub = "") {
    const std::wstring path = AnsiToWide((dir_ / sub).string()) + L"/";
    return ProgramDataFolder([path, owned] { return ProgramDataFolder::Location{path, owned}; });
  }
  std::string Read(const char* name) {
    std::ifstream file(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
  }

  fs::path dir_;
};

TEST_F(ConnectionLogTest, LinesAreDatedJoinedAndKeptInOrder) {
  ProgramDataFolder data = Folder(true);
  {
    ConnectionLog log(data, [] { return kSomeTime; });
    log.Write(L"拨号失败\r\n错误 809\n详情\r");
    for (int i = 0; i < 500; ++i) log.Write(std::to_wstring(i));
  }  // ending writes what was queued
  const std::string stamp = WideToUtf8(FormatLocalTime(kSomeTime, L"%Y-%m-%d %H:%M:%S"));
  ASSERT_EQ(stamp.size(), 19u);
  std::string expected = stamp + " 拨号失败 错误 809 详情 \r\n";
  for (int i = 0; i < 500; ++i) expected += stamp + " " + std::to_string(i) + "\r\n";
  EXPECT_EQ(Read("Kavrin.log"), expected);
}

TEST_F(ConnectionLogTest, RollsOverBeforePassingTheLimitAndKeepsTwoFiles) {
  ProgramDataFolder data = Folder(true);
  ConnectionLog log(data);
  const std::wstring filler(1000, L'x');
  // About 2.2 MiB: two roll-overs.
  for (int i = 0; i < 2200; ++i) log.Write(std::to_wstring(10000 + i) + filler);
  log.Flush();
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) files += entry.is_regular_file();
  EXPECT_EQ(files, 2u);
  const std::string current = Read("Kavrin.log");
  const std::string old = Read("Kavrin.log.1");
  EXPECT_LE(current.size(), kConnectionLogLimitBytes);
  EXPECT_LE(old.size(), kConnectionLogLimitBytes);
  EXPECT_GT(old.size(), kConnectionLogLimitBytes - 1100);
  // The old file ends where the new one begins: no line lost or split at the roll-over.
  const size_t lastOld = old.rfind("\r\n", old.size() - 3) + 2;
  const int oldNumber = std::stoi(old.substr(lastOld + 20, 5));
  EXPECT_EQ(std::stoi(current.substr(20, 5)), oldNumber + 1);
  EXPECT_EQ(current.substr(current.size() - 7), "xxxxx\r\n");
  EXPECT_NE(current.find(" 12199x"), std::string::npos);
}

// A folder that is not ours gets nothing; a folder that cannot be written costs lines only.
TEST_F(ConnectionLogTest, WritesNothingWhereTheFolderIsNotOursAndSurvivesAFailingDisk) {
  ProgramDataFolder foreign = Folder(false);
  ConnectionLog none(foreign);
  none.Write(L"secret");
  none.Flush();
  EXPECT_FALSE(none.writing());

  ProgramDataFolder missing = Folder(true, "gone");
  ConnectionLog failing(missing);
  for (int i = 0; i < 100; ++i) failing.Write(L"line");
  failing.Flush();
  EXPECT_TRUE(fs::is_empty(dir_));
}

// A full queue drops lines, and says how many once it can write again.
TEST_F(ConnectionLogTest, LinesDroppedByAFullQueueAreCounted) {
  ProgramDataFolder data = Folder(true);
  const int written = 2000;
  {
    ConnectionLog log(data, nullptr, 1);
    for (int i = 0; i < written; ++i) log.Write(L"l");
  }
  const std::string text = Read("Kavrin.log");
  int lines = 0;
  int dropped = 0;
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) {
    const size_t start = text.rfind('\n', at - 1);
    const std::string line = text.substr(start == std::string::npos ? 0 : start + 1,
                                         at - (start == std::string::npos ? 0 : start + 1));
    if (line.substr(20) == "l") {
      ++lines;
    } else {
      dropped += std::stoi(line.substr(line.find("，") + 3));
    }
  }
  EXPECT_EQ(lines + dropped, written);
}

}  // namespace
