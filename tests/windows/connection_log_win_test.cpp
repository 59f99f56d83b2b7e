// The connection log's window on the real system: one window at a time, the log's last lines
// followed as they come unless the user scrolled up, the folder that is not ours, the copy to
// the clipboard, and the diagnostics gathered from this system.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "app/diagnostics_win.h"
#include "app/dlg_connection_log_win.h"
#include "app/log_tail.h"
#include "base/text.h"
#include "config/text_table.h"
#include "fakes/fake_data_protection.h"
#include "fakes/fake_registry_profile.h"
#include "policy/bind_catalog_win.h"
#include "service/adapter_list_win.h"
#include "test_skin_win.h"

namespace {

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

std::string Numbered(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "2026-12-09 10:00:00 连接 " + std::to_string(i) + "\r\n";
  return text;
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return L"<clipboard not open>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

class ConnectionLogWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestSkin();
    BuildTextTable();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kavrin-log-window-" + std::to_wstring(GetCurrentProcessId()) +
              L"\\";
    CreateDirectoryW(folder_.c_str(), nullptr);
    files_ = FolderLogFiles(folder_);
  }
  void TearDown() override {
    DeleteFileW((folder_ + kConnectionLogName).c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  void Append(const std::string& bytes) {
    std::ofstream(std::wstring(folder_ + kConnectionLogName).c_str(),
                  std::ios::binary | std::ios::app)
        << bytes;
  }
  static int Count(HWND list) { return static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0)); }
  static int Top(HWND list) { return static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0)); }
  static bool ShowsLast(HWND list) {
    RECT client = {};
    GetClientRect(list, &client);
    const int row = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    return Top(list) + client.bottom / row >= Count(list);
  }

  std::wstring folder_;
  std::unique_ptr<LogFiles> files_;
};

TEST_F(ConnectionLogWinTest, OneWindowShowsTheLinesAndFollowsNewOnesUnlessScrolledUp) {
  Append(Numbered(1, 50));
  ConnectionLogWindow logWindow(ConnectionLogSources{.log = files_.get(), .diagnostics = {}});
  logWindow.Open();
  Pump();
  CDlgConnectionLog* window = logWindow.window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window->hwnd()));
  EXPECT_EQ(Count(window->lines()), 50);
  EXPECT_EQ(window->shownLines().back(), L"2026-12-09 10:00:00 连接 50");
  EXPECT_TRUE(ShowsLast(window->lines()));

  // The menu item again: the same window, brought forward.
  const HWND first = window->hwnd();
  logWindow.Open();
  ASSERT_NE(logWindow.window(), nullptr);
  EXPECT_EQ(logWindow.window()->hwnd(), first);

  // New lines arrive: followed at the end; the list keeps the last 300.
  Append(Numbered(51, 400));
  window->Refresh();
  EXPECT_EQ(Count(window->lines()), static_cast<int>(CDlgConnectionLog::kShownLines));
  EXPECT_EQ(window->shownLines().front(), L"2026-12-09 10:00:00 连接 101");
  EXPECT_TRUE(ShowsLast(window->lines()));

  // Scrolled up, the rows being read stay where they are.
  SendMessageW(window->lines(), LB_SETTOPINDEX, 10, 0);
  Append(Numbered(401, 402));
  window->Refresh();
  EXPECT_EQ(window->shownLines().back(), L"2026-12-09 10:00:00 连接 402");
  EXPECT_EQ(Top(window->lines()), 10);

  // Closed, and opened again: a new window.
  SendMessageW(first, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  Pump();
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(logWindow.window(), nullptr);
  logWindow.Open();
  EXPECT_NE(logWindow.window(), nullptr);
}

TEST_F(ConnectionLogWinTest, WithoutALogItSaysWhy) {
  // The data folder is not ours: no log is kept, and the window says so in place of lines.
  ConnectionLogWindow notOurs(ConnectionLogSources{.log = nullptr, .diagnostics = {}});
  notOurs.Open();
  ASSERT_NE(notOurs.window(), nullptr);
  EXPECT_TRUE(IsWindowVisible(notOurs.window()->note()));
  EXPECT_FALSE(IsWindowVisible(notOurs.window()->lines()));
  EXPECT_EQ(CWindow::GetWindowText(notOurs.window()->note()), GetText("ConnectionLogNotKept"));

  // Ours, but nothing written yet; the first line replaces the note.
  ConnectionLogWindow empty(ConnectionLogSources{.log = files_.get(), .diagnostics = {}});
  empty.Open();
  ASSERT_NE(empty.window(), nullptr);
  EXPECT_EQ(CWindow::GetWindowText(empty.window()->note()), GetText("ConnectionLogEmpty"));
  Append(Numbered(1, 1));
  empty.window()->Refresh();
  EXPECT_FALSE(IsWindowVisible(empty.window()->note()));
  EXPECT_EQ(Count(empty.window()->lines()), 1);
}

TEST_F(ConnectionLogWinTest, TheButtonPutsTheDiagnosticsOnTheClipboard) {
  const std::wstring diagnostics = L"OrumaVPN diagnostics\r\n诊断 \U0001F600\r\n";
  ConnectionLogWindow logWindow(ConnectionLogSources{
      .log = files_.get(), .diagnostics = [&] { return diagnostics; }});
  logWindow.Open();
  CDlgConnectionLog* window = logWindow.window();
  ASSERT_NE(window, nullptr);
  const HWND button = window->GetDlgItem(CDlgConnectionLog::kCopyId);
  ASSERT_NE(button, nullptr);
  SendMessageW(window->hwnd(), WM_COMMAND, MAKEWPARAM(CDlgConnectionLog::kCopyId, BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  EXPECT_EQ(ClipboardText(), diagnostics);
  EXPECT_EQ(window->GetDlgItemText(CDlgConnectionLog::kStatusId), GetText("DiagnosticsCopied"));

}

TEST_F(ConnectionLogWinTest, DiagnosticsNameThisSystemAndKeepThePasswordOut) {
  FakeRegistryProfile registry;
  FakeDataProtection protection;
  SettingsStore settings(registry, protection);
  settings.SaveCredentials(L"demo", L"Pa55-word");
  Append("2026-12-09 10:00:00 login?p=Pa55-word\r\n" + Numbered(2, 400));
  SystemAdapterList adapters;
  SystemSocketCatalog catalog;
  DiagnosticsSources sources{.settings = settings,
                             .loginHosts = {L"http://a/"},
                             .log = files_.get(),
                             .bindModulePath = L"C:\\OrumaVPN\\KavrinBind.dll",
                             .adapters = adapters,
                             .catalog = catalog};
  const DiagnosticsFacts facts = GatherDiagnostics(sources);
  EXPECT_NE(facts.windowsVersion.find(L"(RtlGetVersion)"), std::wstring::npos)
      << facts.windowsVersion;
  // The machine's architecture, which a 32-bit build under WOW64 sees as well.
  SYSTEM_INFO native = {};
  GetNativeSystemInfo(&native);
  EXPECT_EQ(facts.systemArchitecture, ProcessorArchitectureName(native.wProcessorArchitecture));
  EXPECT_EQ(facts.processArchitecture, sizeof(void*) == 8 ? L"x64" : L"x86");
  EXPECT_EQ(facts.logLines.size(), kDiagnosticsLogLines);
  EXPECT_TRUE(facts.adapters.has_value());
  // Wine loads no socket providers: the catalog reads as empty or unreadable, never as ours.
  EXPECT_EQ(facts.catalog.ourEntries, 0u);
  const std::wstring text = FormatDiagnostics(facts);
  EXPECT_EQ(text.find(L"Pa55-word"), std::wstring::npos);
  EXPECT_NE(text.find(L"连接 400\r\n"), std::wstring::npos);
}

}  // namespace
