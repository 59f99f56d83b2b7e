#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/log_tail.h"
#include "fakes/fake_log_files.h"

namespace {

using namespace std::string_literals;

std::string Numbered(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "2026-12-09 10:00:00 line " + std::to_string(i) + "\r\n";
  return text;
}

std::wstring Line(int i) { return L"2026-12-09 10:00:00 line " + std::to_wstring(i); }

std::vector<std::wstring> Lines(int from, int to) {
  std::vector<std::wstring> lines;
  for (int i = from; i <= to; ++i) lines.push_back(Line(i));
  return lines;
}

TEST(LogTailTest, NewestLinesComeFromBothFilesOldestFirst) {
  FakeLogFiles files;
  EXPECT_TRUE(ReadLogTail(files, 10).empty()) << "no log yet";

  files.files[kConnectionLogOldName] = Numbered(1, 5);
  // The writer is in the middle of line 9: what it wrote so far is shown.
  files.files[kConnectionLogName] = Numbered(6, 8) + "2026-12-09 10:00:00 line 9 half";
  EXPECT_EQ(ReadLogTail(files, 4),
            (std::vector<std::wstring>{Line(6), Line(7), Line(8), L"2026-12-09 10:00:00 line 9 half"}));
  EXPECT_EQ(ReadLogTail(files, 100).front(), Line(1));

  // The older file's end without its line break stays a line of its own.
  files.files[kConnectionLogOldName] = "2026-12-09 09:00:00 cut short";
  files.files[kConnectionLogName] = Numbered(6, 6);
  EXPECT_EQ(ReadLogTail(files, 5),
            (std::vector<std::wstring>{L"2026-12-09 09:00:00 cut short", Line(6)}));

  // Between roll-over and the first new line there is only the older file; a file that cannot
  // be opened is passed over.
  files.files.erase(kConnectionLogName);
  EXPECT_EQ(ReadLogTail(files, 5).size(), 1u);
  files.files[kConnectionLogName] = Numbered(6, 6);
  files.locked.insert(kConnectionLogOldName);
  EXPECT_EQ(ReadLogTail(files, 5), Lines(6, 6));
  EXPECT_TRUE(ReadLogTail(files, 0).empty());
}

TEST(LogTailTest, ReadsOnlyTheEndOfFullFiles) {
  FakeLogFiles files;
  // Both files at about the writer's limit: 32,000 lines each.
  files.files[kConnectionLogOldName] = Numbered(1, 32000);
  files.files[kConnectionLogName] = Numbered(32001, 64000);
  EXPECT_EQ(ReadLogTail(files, 300), Lines(63701, 64000));
  EXPECT_LE(files.bytesRead, kLogTailFirstRead) << "only as much of the end as 300 lines take";

  // A few lines in the newer file: the older one is read from its end as well.
  files.bytesRead = 0;
  files.files[kConnectionLogName] = Numbered(32001, 32010);
  EXPECT_EQ(ReadLogTail(files, 300), Lines(31711, 32010));
  EXPECT_LE(files.bytesRead, 2 * kLogTailFirstRead);
}

TEST(LogTailTest, RollOverBetweenTheTwoReadsShowsNoLineTwice) {
  FakeLogFiles files;
  files.files[kConnectionLogOldName] = Numbered(1, 3);
  files.files[kConnectionLogName] = Numbered(4, 6);
  // After the newer file was read, the writer rolls over and writes line 7.
  files.beforeRead = [&](int read) {
    if (read == 2) files.RollOver(Numbered(7, 7));
  };
  EXPECT_EQ(ReadLogTail(files, 100), Lines(4, 7));

  // A writer that rolls over before every read of the older file: the newest lines, once each.
  int rolls = 0;
  files.beforeRead = [&](int read) {
    if (read % 3 == 2) {
      files.RollOver(Numbered(10 + rolls, 10 + rolls));
      ++rolls;
    }
  };
  files.reads = 0;
  EXPECT_EQ(ReadLogTail(files, 100), Lines(11, 11));
}

TEST(LogTailTest, WhateverTheFileHoldsComesOutAsLinesOfText) {
  std::vector<std::wstring> lines;
  // Invalid UTF-8, NULs (a zero-filled end after a power cut), control characters, bare LF,
  // a CR inside a line, blank lines.
  AppendLogLines("ok \xC3\xA9\xE4\xB8\xAD\r\nbad \xFF\xC3 end\r\n"s + "\0\0\0\0\r\n"s +
                     "a\0b\x01\x7F\tc\rd\n\n\r\nlast"s,
                 true, lines);
  EXPECT_EQ(lines, (std::vector<std::wstring>{L"ok \u00E9\u4E2D", L"bad \uFFFD\uFFFD end",
                                              L"ab\uFFFD\uFFFD\tc\uFFFDd", L"last"}));

  // Read from the middle of a file: the piece of a line before the first break is left out.
  lines.clear();
  AppendLogLines("ne 5\r\nline 6\r\n", false, lines);
  EXPECT_EQ(lines, std::vector<std::wstring>{L"line 6"});
  lines.clear();
  AppendLogLines("no break at all", false, lines);
  EXPECT_TRUE(lines.empty());

  // A line longer than the writer makes is cut, never inside a character.
  std::string chinese;
  while (chinese.size() < kLogLineMaxBytes + 10) chinese += "\xE4\xB8\xAD";
  const std::wstring cut = DecodeLogLine(std::string("x") + chinese);
  EXPECT_EQ(cut.back(), L'\u2026');
  EXPECT_EQ(cut.find(L'\uFFFD'), std::wstring::npos);
  EXPECT_LE(cut.size(), kLogLineMaxBytes);

  // A file of one endless line: read up to the limit, and the piece shown cut.
  FakeLogFiles files;
  files.files[kConnectionLogName] = std::string(3 * kLogTailReadLimit, 'x');
  const std::vector<std::wstring> endless = ReadLogTail(files, 300);
  ASSERT_EQ(endless.size(), 1u);
  EXPECT_EQ(endless[0].size(), kLogLineMaxBytes + 1);
  EXPECT_LE(files.bytesRead, 2 * kLogTailReadLimit);
}

}  // namespace
