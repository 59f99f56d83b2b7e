#include <windows.h>
// Needs the types of <windows.h>.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/program_data_folder_win.h"
#include "config/text_table.h"
#include "fakes/loopback_http_server.h"
#include "app/user_shell_win.h"
#include "service/dlg_online_update_win.h"
#include "service/md5.h"
#include "skin/busy_bar_win.h"

namespace {

namespace fs = std::filesystem;

// What the dialog showed while it ran, sampled from a timer on the dialog's own thread.
struct Observed {
  bool progressShown = false;
  bool busyShown = false;
  int maxPosition = 0;
  unsigned busySteps = 0;
  std::vector<std::wstring> statuses;
  int questions = 0;
};

Observed g_seen;
// What the sampler does once it sees the dialog: 0 watch only, IDOK press Enter, IDCANCEL press
// the Cancel button and answer the question with g_answer.
int g_action = 0;
int g_answer = IDOK;

HWND UpdateDialog() { return FindWindowW(L"#32770", GetText("VpnAppOnlineUpdateTitle").c_str()); }

struct BoxSearch {
  HWND dialog;
  HWND found;
};

BOOL CALLBACK FindOtherDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (window == search->dialog || std::wstring(name) != L"#32770" || !IsWindowVisible(window)) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

// A message box of this thread: the dialog's question.
HWND QuestionBox(HWND dialog) {
  BoxSearch search{dialog, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), FindOtherDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Later in a run: press Cancel once more and agree this time.
void CALLBACK CancelAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  g_answer = IDOK;
  g_action = IDCANCEL;
}

void CALLBACK Sample(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = UpdateDialog();
  if (!dialog) return;
  if (HWND box = QuestionBox(dialog)) {
    ++g_seen.questions;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(g_answer, BN_CLICKED), 0);
    g_action = 0;
    return;
  }
  HWND progress = GetDlgItem(dialog, CDlgOnlineUpdate::kProgressId);
  HWND busy = GetDlgItem(dialog, CDlgOnlineUpdate::kBusyBarId);
  if (IsWindowVisible(progress)) g_seen.progressShown = true;
  if (IsWindowVisible(busy)) {
    g_seen.busyShown = true;
    g_seen.busySteps = std::max(g_seen.busySteps, BusyBarStep(busy));
  }
  g_seen.maxPosition =
      std::max(g_seen.maxPosition, static_cast<int>(SendMessageW(progress, PBM_GETPOS, 0, 0)));
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, CDlgOnlineUpdate::kStatusId, text, 256);
  if (g_seen.statuses.empty() || g_seen.statuses.back() != text) g_seen.statuses.push_back(text);
  if (g_action != 0) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(g_action, BN_CLICKED), 0);
    g_action = 0;
  }
}

std::string Package(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + 5);
  return bytes;
}

// The body in pieces with pauses, so the dialog sees several progress reports.
LoopbackHttpServer::Script Slowly(const std::string& body, bool withLength) {
  return [body, withLength](LoopbackHttpServer::Connection& c) {
    std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    if (withLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    c.Send(head + "\r\n");
    std::vector<std::string> pieces;
    for (size_t at = 0; at < body.size(); at += body.size() / 8) {
      pieces.push_back(body.substr(at, body.size() / 8));
    }
    c.SendPaced(pieces, std::chrono::milliseconds(250));
  };
}

class OnlineUpdateDialogWin : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildTextTable();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    ASSERT_TRUE(RegisterBusyBarClass(GetModuleHandleW(nullptr)));
    g_seen = {};
    g_action = 0;
    g_answer = IDOK;
    dir_ =
        fs::temp_directory_path() /
        ("kv-upd-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    parent_ = dir_.wstring() + L"\\";
    timer_ = SetTimer(nullptr, 0, 50, Sample);
  }
  void TearDown() override {
    KillTimer(nullptr, timer_);
    package_.reset();
    fs::remove_all(dir_);
  }

  UpdateDownloader::Result Download(const std::wstring& url) {
    package_.reset();
    return downloader_.Download(url, L"Kavrin.exe", package_);
  }
  std::string Downloaded() const {
    if (!package_) return "";
    std::ifstream in(fs::path(package_->Path()), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
  std::wstring parent_;
  UINT_PTR timer_ = 0;
  DialogUpdateDownloader downloader_{(fs::temp_directory_path() /
                                      ("kv-upd-" + std::string(::testing::UnitTest::GetInstance()
                                                                   ->current_test_info()
                                                                   ->name())))
                                         .wstring() +
                                     L"\\"};
  std::unique_ptr<DownloadedPackage> package_;
};

}  // namespace

TEST_F(OnlineUpdateDialogWin, KnownLengthMovesTheProgressBar) {
  const std::string body = Package(64 * 1024);
  LoopbackHttpServer server(Slowly(body, true));
  EXPECT_EQ(Download(server.Url(L"127.0.0.1/Kavrin.exe")), UpdateDownloader::Result::kCompleted);
  EXPECT_EQ(Downloaded(), body);
  EXPECT_TRUE(g_seen.progressShown);
  EXPECT_GT(g_seen.maxPosition, 0);
  const std::wstring speed = GetText("DownloadingUpdateFileSpeed");
  EXPECT_TRUE(std::any_of(g_seen.statuses.begin(), g_seen.statuses.end(),
                          [&](const std::wstring& s) { return s.rfind(speed, 0) == 0; }));
}

TEST_F(OnlineUpdateDialogWin, UnknownLengthRunsTheBusyBarAndShowsNoPercentage) {
  const std::string body = Package(32 * 1024);
  LoopbackHttpServer server(Slowly(body, false));
  EXPECT_EQ(Download(server.Url(L"127.0.0.1/Kavrin.exe")), UpdateDownloader::Result::kCompleted);
  EXPECT_EQ(Downloaded(), body);
  EXPECT_TRUE(g_seen.busyShown);
  EXPECT_GT(g_seen.busySteps, 0u);
  EXPECT_FALSE(g_seen.progressShown);
  const std::wstring speed = GetText("DownloadingUpdateFileSpeed");
  bool sawSpeed = false;
  for (const std::wstring& status : g_seen.statuses) {
    if (status.rfind(speed, 0) == 0) sawSpeed = true;
    EXPECT_EQ(status.find(L'%'), std::wstring::npos) << "percentage in " << status.size();
  }
  EXPECT_TRUE(sawSpeed);
}

TEST_F(OnlineUpdateDialogWin, CancelAsksFirstAndOnlyYesCancels) {
  LoopbackHttpServer hanging([](LoopbackHttpServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nMZ");
    c.Hang();
  });
  // First answer "Cancel" to the question: the download goes on; then Escape and OK.
  g_action = IDCANCEL;
  g_answer = IDCANCEL;
  CDlgOnlineUpdate dialog(hanging.Url(L"127.0.0.1/Kavrin.exe"), parent_, L"Kavrin.exe");
  const UINT_PTR again = SetTimer(nullptr, 0, 1500, CancelAgain);
  const INT_PTR result = dialog.DoModal();
  KillTimer(nullptr, again);
  hanging.Release();
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(dialog.cancelled());
  EXPECT_EQ(g_seen.questions, 2);
}

TEST_F(OnlineUpdateDialogWin, EnterCancelsWithoutAsking) {
  LoopbackHttpServer hanging([](LoopbackHttpServer::Connection& c) { c.Hang(); });
  g_action = IDOK;
  EXPECT_EQ(Download(hanging.Url(L"127.0.0.1/Kavrin.exe")), UpdateDownloader::Result::kCancelled);
  EXPECT_EQ(package_, nullptr);
  hanging.Release();
  EXPECT_EQ(g_seen.questions, 0);
  // Nothing arrived: the dialog still said it was connecting, with the busy bar running.
  EXPECT_EQ(g_seen.statuses, std::vector<std::wstring>{GetText("ConnectingToOnlineUpdateServer")});
  EXPECT_TRUE(g_seen.busyShown);
  EXPECT_FALSE(g_seen.progressShown);
}

TEST_F(OnlineUpdateDialogWin, EndlessBodyStopsAtTheSizeBound) {
  LoopbackHttpServer endless([](LoopbackHttpServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\n\r\n");
    const std::string block(8192, 'x');
    while (c.Send(block)) {
    }
  });
  CDlgOnlineUpdate dialog(endless.Url(L"127.0.0.1/Kavrin.exe"), parent_, L"Kavrin.exe");
  dialog.SetSizeLimit(256 * 1024);
  EXPECT_EQ(dialog.DoModal(), IDOK);  // ended: the digest will refuse it
  EXPECT_FALSE(dialog.cancelled());
  const std::unique_ptr<HeldUpdatePackage> package = dialog.TakePackage();
  ASSERT_NE(package, nullptr);
  EXPECT_LE(fs::file_size(fs::path(package->Path())), 256u * 1024);
}

TEST_F(OnlineUpdateDialogWin, TargetThatCannotBeWrittenFailsAtOnce) {
  LoopbackHttpServer server(Slowly(Package(1024), true));
  DialogUpdateDownloader nowhere((dir_ / "no-such-folder").wstring() + L"\\");
  std::unique_ptr<DownloadedPackage> package;
  EXPECT_EQ(nowhere.Download(server.Url(L"127.0.0.1/Kavrin.exe"), L"Kavrin.exe", package),
            UpdateDownloader::Result::kFailed);
  EXPECT_EQ(package, nullptr);
  EXPECT_TRUE(server.requests().empty());
}

namespace {

bool OpensFor(const std::wstring& path, DWORD access) {
  HANDLE file = CreateFileW(path.c_str(), access,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Pages go to the user's own shell, and only web addresses go at all: a program, a document or
// an address that would carry a second argument is refused before the shell is asked.
TEST(UserShellWin, OnlyWebAddressesAreHandedToTheDesktopShell) {
  for (const wchar_t* text :
       {L"C:\\Windows\\notepad.exe", L"file:///C:/Windows/notepad.exe", L"notepad",
        L"javascript:alert(1)", L"http://example.com/ C:\\Windows\\notepad.exe",
        L"http://example.com/\" /c calc", L"https://example.com/\r\nx", L""}) {
    EXPECT_FALSE(OpenWebPageAsUser(text)) << text;
  }
}

}  // namespace

// From its first byte to the start of the package nobody else can write, replace or delete the
// file, and its digest is taken from what is held.
TEST_F(OnlineUpdateDialogWin, PackageIsHeldFromDownloadToStart) {
  std::unique_ptr<HeldUpdatePackage> first = HeldUpdatePackage::Create(parent_, L"Kavrin.exe");
  std::unique_ptr<HeldUpdatePackage> second = HeldUpdatePackage::Create(parent_, L"Kavrin.exe");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->Folder(), second->Folder()) << "a new folder for every download";
  second.reset();

  const std::wstring path = first->Path();
  const std::string bytes = Package(100000);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(first->WriteHandle(), bytes.data(), static_cast<DWORD>(bytes.size()),
                        &written, nullptr));
  for (const bool finished : {false, true}) {
    EXPECT_FALSE(OpensFor(path, GENERIC_WRITE)) << finished;
    EXPECT_FALSE(OpensFor(path, DELETE)) << finished;
    EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".old").c_str())) << finished;
    if (!finished) {
      ASSERT_TRUE(first->FinishWriting());
    }
  }
  EXPECT_TRUE(OpensFor(path, GENERIC_READ)) << "the system can still start it";
  EXPECT_EQ(first->Md5Hex(), Md5Hex(bytes));

  first.reset();
  EXPECT_TRUE(OpensFor(path, GENERIC_WRITE));
  // This download's folder and the one given up before it.
  EXPECT_EQ(DeleteLeftoverUpdateFolders(SystemFolderSecurityInstance(),
                                        parent_.substr(0, parent_.size() - 1), {}),
            2u);
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
}
