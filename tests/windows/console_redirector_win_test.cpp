#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/text.h"
#include "vpn/console_redirector.h"
#include "vpn/piped_console_child_win.h"

namespace {

// The stand-in child is built beside the test program.
std::wstring StandIn(const std::wstring& arguments) {
  wchar_t path[MAX_PATH] = {};
  std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return L"\"" + folder + L"openvpn.exe\" " + arguments;
}

class RecordingRedirector : public CConsoleRedirector {
 public:
  RecordingRedirector() : CConsoleRedirector(std::make_unique<PipedConsoleChild>()) {}
  ~RecordingRedirector() override { Stop(); }

  bool WaitForOutput(const std::string& text) {
    for (int waited = 0; waited < 10000 && !OutputContains(text); waited += 20) Sleep(20);
    return OutputContains(text);
  }

  std::mutex mutex;
  std::vector<size_t> chunks;
  std::atomic<int> ended = 0;
  std::atomic<bool> outputAfterEnd = false;

 protected:
  void OnOutput(const char* data, size_t length) override {
    if (ended > 0) outputAfterEnd = true;
    {
      std::lock_guard lock(mutex);
      chunks.push_back(length);
    }
    AppendOutput(data, length);
  }
  void OnProcessEnded() override { ++ended; }
};

TEST(ConsoleRedirectorWinTest, EverythingWrittenArrivesInBoundedChunksEvenRightBeforeExit) {
  RecordingRedirector redirector;
  ASSERT_TRUE(redirector.Start(StandIn(L"--standin-burst 10000")));
  ASSERT_TRUE(redirector.WaitForReader(10000));
  EXPECT_EQ(redirector.ended, 1);
  EXPECT_FALSE(redirector.outputAfterEnd);
  for (const size_t chunk : redirector.chunks) EXPECT_LE(chunk, 4096u);
  const std::string all = redirector.GetOutput();
  ASSERT_EQ(all.size(), 10000u);
  EXPECT_EQ(all[9900], static_cast<char>('A' + 99 % 26));

  // Standard error shares the buffer.
  ASSERT_TRUE(redirector.Start(StandIn(L"--standin-stderr")));
  ASSERT_TRUE(redirector.WaitForReader(10000));
  EXPECT_TRUE(redirector.OutputContains("to standard output\n"));
  EXPECT_TRUE(redirector.OutputContains("to standard error\n"));
}

TEST(ConsoleRedirectorWinTest, InputIsSentInTheAnsiCodePageAndClearsTheOutput) {
  RecordingRedirector redirector;
  ASSERT_TRUE(redirector.Start(StandIn(L"--standin-echo")));
  ASSERT_TRUE(redirector.WaitForOutput("ready>"));
  redirector.SendInput(L"\u7528\u6237 1\n");
  EXPECT_FALSE(redirector.OutputContains("ready>"));
  const std::string expected = WideToAnsi(L"got[\u7528\u6237 1]\n");
  ASSERT_EQ(expected.size(), 12u);  // two double-byte characters of code page 936
  EXPECT_TRUE(redirector.WaitForOutput(expected));
}

TEST(ConsoleRedirectorWinTest, StopEndsALiveChildOnceHoweverOftenItIsCalled) {
  RecordingRedirector redirector;
  ASSERT_TRUE(redirector.Start(StandIn(L"--standin-sleep 60000")));
  const auto begin = std::chrono::steady_clock::now();
  redirector.Stop();
  redirector.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_EQ(redirector.ended, 1);
  EXPECT_TRUE(redirector.WaitForReader(0));

  EXPECT_FALSE(redirector.Start(L"\"C:\\no such folder\\missing.exe\""));
  EXPECT_EQ(redirector.ended, 1);
}

TEST(ConsoleRedirectorWinTest, OwnerStopRacingTheReadersOwnStopShutsDownOnce) {
  // The child leaves at once; the owner stops a little later each round, so some stops come
  // before the child's end, some while the reader is stopping, some after.
  for (int round = 0; round < 15; ++round) {
    SCOPED_TRACE(round);
    RecordingRedirector redirector;
    ASSERT_TRUE(redirector.Start(StandIn(L"--standin-sleep 0")));
    Sleep(static_cast<DWORD>(round * 10));
    redirector.Stop();
    redirector.Stop();
    EXPECT_EQ(redirector.ended, 1);
  }
}

}  // namespace
