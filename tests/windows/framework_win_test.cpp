#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "config/route_set_code.h"
#include "framework/application_win.h"
#include "framework/dialog_win.h"
#include "framework/module_win.h"
#include "framework/user_registry_profile_win.h"
#include "framework/window_message_target_win.h"
#include "framework/worker_thread_win.h"

namespace {

// A key of our own per run, so a crashed run cannot leave values that make the next one pass.
class RegistryProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    company_ = L"KavrinTest" + std::to_wstring(GetCurrentProcessId());
    profile_.SetRegistryKey(company_);
    profile_.SetAppName(L"App");
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + company_).c_str());
  }
  // Plants a value of any type straight into the section key.
  void Plant(const wchar_t* entry, DWORD type, const void* data, DWORD size) {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (profile_.AppKeyPath() + L"\\Main").c_str(), 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), entry, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }

  std::wstring company_;
  CUserRegistryProfile profile_;
};

TEST_F(RegistryProfileTest, ValuesRoundTripUnderTheAppKey) {
  EXPECT_TRUE(profile_.WriteProfileInt(L"Main", L"LastVpnRouteIndex",
                                       static_cast<uint32_t>(kRouteSetAllTraffic)));
  EXPECT_TRUE(profile_.WriteProfileString(L"Main", L"Username", std::wstring(L"\u5f20\u4e09")));
  EXPECT_TRUE(profile_.WriteProfileString(L"Main", L"Empty", std::wstring()));
  const std::vector<uint8_t> blob = {0, 1, 2, 0xFF, 0};
  EXPECT_TRUE(profile_.WriteProfileBinary(L"Main", L"Password", blob));

  EXPECT_EQ(static_cast<int32_t>(profile_.GetProfileInt(L"Main", L"LastVpnRouteIndex", 7)),
            kRouteSetAllTraffic);
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"Username", L"x"), L"\u5f20\u4e09");
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"Empty", L"x"), L"");
  EXPECT_EQ(profile_.GetProfileBinary(L"Main", L"Password"), blob);

  // Stored as the registry types other tools expect, text with its terminating NUL counted.
  wchar_t text[16] = {};
  DWORD type = 0;
  DWORD size = sizeof(text);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, (L"Software\\" + company_ + L"\\App\\Main").c_str(),
                         L"Username", RRF_RT_ANY, &type, text, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 3 * sizeof(wchar_t));
}

TEST_F(RegistryProfileTest, WritingNoTextDeletesTheValue) {
  ASSERT_TRUE(profile_.WriteProfileString(L"Main", L"Username", std::wstring(L"someone")));
  EXPECT_TRUE(profile_.WriteProfileString(L"Main", L"Username", std::nullopt));
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"Username", L"gone"), L"gone");
  // Already absent, in an existing and in a never-created section: nothing left to do.
  EXPECT_TRUE(profile_.WriteProfileString(L"Main", L"Username", std::nullopt));
  EXPECT_TRUE(profile_.WriteProfileString(L"Never", L"Username", std::nullopt));
}

TEST_F(RegistryProfileTest, AbsentOrWrongTypedValuesGiveTheDefault) {
  EXPECT_EQ(profile_.GetProfileInt(L"Main", L"LastVpnServerId", static_cast<uint32_t>(-1)),
            static_cast<uint32_t>(-1));
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"Username", L"dflt"), L"dflt");
  EXPECT_FALSE(profile_.GetProfileBinary(L"Main", L"Password").has_value());

  Plant(L"IntAsText", REG_SZ, L"12", 3 * sizeof(wchar_t));
  const DWORD number = 5;
  Plant(L"TextAsInt", REG_DWORD, &number, sizeof(number));
  Plant(L"BlobAsInt", REG_DWORD, &number, sizeof(number));
  Plant(L"ShortInt", REG_BINARY, &number, 2);
  EXPECT_EQ(profile_.GetProfileInt(L"Main", L"IntAsText", 9), 9u);
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"TextAsInt", L"dflt"), L"dflt");
  EXPECT_FALSE(profile_.GetProfileBinary(L"Main", L"BlobAsInt").has_value());
}

TEST_F(RegistryProfileTest, UnterminatedTextIsReadSafely) {
  const wchar_t raw[] = {L'a', L'b', L'c'};
  Plant(L"NoNul", REG_SZ, raw, sizeof(raw));
  Plant(L"OddSize", REG_SZ, raw, sizeof(raw) - 1);
  const wchar_t embedded[] = {L'a', 0, L'b', 0};
  Plant(L"Embedded", REG_SZ, embedded, sizeof(embedded));
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"NoNul", L""), L"abc");
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"OddSize", L""), L"ab");
  EXPECT_EQ(profile_.GetProfileString(L"Main", L"Embedded", L""), L"a");
}

TEST(RegistryProfile, WithoutNamesNothingIsWrittenAnywhere) {
  CUserRegistryProfile profile;
  profile.SetAppName(L"App");
  EXPECT_FALSE(profile.WriteProfileInt(L"Main", L"X", 1));
  EXPECT_EQ(profile.GetProfileInt(L"Main", L"X", 3), 3u);
}

TEST(Application, ProfileFollowsTheNamesItIsGiven) {
  CApplication app;
  EXPECT_EQ(CApplication::Current(), &app);
  const std::wstring company = L"KavrinAppTest" + std::to_wstring(GetCurrentProcessId());
  app.SetAppName(L"Kavrin");
  app.SetRegistryKey(company);
  EXPECT_TRUE(app.WriteProfileInt(L"Main", L"VpnType", 2));
  DWORD value = 0;
  DWORD size = sizeof(value);
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, (L"Software\\" + company + L"\\Kavrin\\Main").c_str(),
                         L"VpnType", RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + company).c_str());
}

class CountingApp : public CApplication {
 public:
  bool InitInstance() override {
    ++initCalls;
    return initResult;
  }
  int ExitInstance() override {
    ++exitCalls;
    return 17;
  }
  bool initResult = true;
  int initCalls = 0;
  int exitCalls = 0;
};

TEST(Application, RunEndsAtOnceWithoutMainWindow) {
  for (bool initResult : {false, true}) {
    CountingApp app;
    app.initResult = initResult;
    EXPECT_EQ(app.Run(), 17);
    EXPECT_EQ(app.initCalls, 1);
    EXPECT_EQ(app.exitCalls, 1);
  }
}

constexpr UINT kReport = WM_APP + 5;
constexpr UINT kButtonId = 1234;

class ProbeDialog : public CDialog {
 public:
  std::vector<std::wstring> seen;
  HWND button = nullptr;

 protected:
  bool OnInitDialog() override {
    SetWindowText(L"Probe");
    RECT rect = {10, 10, 90, 40};
    button_.Create(0, L"BUTTON", L"Go", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, rect, hwnd(),
                   kButtonId);
    button = button_.hwnd();
    PostMessage(kReport, 7, 8);
    return true;
  }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    if (message != kReport) return false;
    seen.push_back(L"report " + std::to_wstring(wParam) + L" " + std::to_wstring(lParam));
    // Clicking the child goes through the system button, which notifies us by WM_COMMAND.
    ::SendMessageW(button, BM_CLICK, 0, 0);
    result = 0;
    return true;
  }
  bool OnCommand(UINT id, UINT notifyCode) override {
    if (id != kButtonId) return false;
    seen.push_back(L"command " + std::to_wstring(notifyCode));
    EndDialog(42);
    return true;
  }

 private:
  CWindow button_;
};

TEST(Dialog, ModalRunDispatchesTypedHandlersAndReturnsTheEndCode) {
  ProbeDialog dialog;
  EXPECT_EQ(dialog.DoModal(), 42);
  EXPECT_EQ(dialog.seen, (std::vector<std::wstring>{L"report 7 8", L"command 0"}));
  // Both the dialog and its child control have left the map with their windows.
  EXPECT_EQ(dialog.hwnd(), nullptr);
  EXPECT_EQ(CWindow::FromHandle(dialog.button), nullptr);
}

class KeyDialog : public CDialog {
 public:
  explicit KeyDialog(WPARAM key) : key_(key) {}
  HWND windowInInit = nullptr;
  std::wstring className;
  int okCalls = 0;

 protected:
  bool OnInitDialog() override {
    windowInInit = hwnd();
    wchar_t name[32] = {};
    GetClassNameW(hwnd(), name, 32);
    className = name;
    PostMessage(WM_KEYDOWN, key_, 0);
    // Whatever the key does, the run must end, so a lost key fails the test instead of
    // hanging it.
    SetTimer(1, 5000);
    return true;
  }
  void OnOK() override {
    ++okCalls;
    EndDialog(IDOK);
  }
  void OnTimer(UINT_PTR) override { EndDialog(-5); }

 private:
  WPARAM key_;
};

TEST(Dialog, EnterAndEscapeRouteToOkAndCancel) {
  KeyDialog enter(VK_RETURN);
  EXPECT_EQ(enter.DoModal(), IDOK);
  EXPECT_EQ(enter.okCalls, 1);
  EXPECT_NE(enter.windowInInit, nullptr);
  // Found by other processes as a dialog.
  EXPECT_EQ(enter.className, L"#32770");

  KeyDialog escape(VK_ESCAPE);
  EXPECT_EQ(escape.DoModal(), IDCANCEL);
  EXPECT_EQ(escape.okCalls, 0);
}

TEST(Dialog, ModelessDialogIsDestroyedByEndDialog) {
  CDialog dialog;
  ASSERT_TRUE(dialog.Create());
  HWND window = dialog.hwnd();
  EXPECT_EQ(CWindow::FromHandle(window), &dialog);
  dialog.SetWindowText(L"Modeless");
  EXPECT_EQ(dialog.GetWindowText(), L"Modeless");
  dialog.EndDialog(IDOK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(CWindow::FromHandle(window), nullptr);
}

class TimerWindow : public CWindow {
 public:
  std::vector<UINT_PTR> fired;
  std::vector<std::wstring> posted;

 protected:
  void OnTimer(UINT_PTR id) override {
    fired.push_back(id);
    KillTimer(id);
    DestroyWindow();
  }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&) override {
    if (message != kReport) return false;
    posted.push_back(std::to_wstring(wParam));
    return true;
  }
};

TEST(Window, WorkersReachTheWindowThroughItsMessageTarget) {
  TimerWindow window;
  ASSERT_TRUE(window.Create(0, nullptr, L"", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
  WindowMessageTarget target(window.hwnd());
  CWorkerThread worker;
  ASSERT_TRUE(worker.Start([&] { target.Post(kReport, 99, 0); }));
  worker.Join();
  EXPECT_FALSE(worker.Joinable());
  ASSERT_TRUE(window.SetTimer(3, 10));
  MSG message;
  while (window.hwnd() && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  EXPECT_EQ(window.posted, std::vector<std::wstring>{L"99"});
  EXPECT_EQ(window.fired, std::vector<UINT_PTR>{3});
  EXPECT_FALSE(target.Post(kReport, 1, 0));  // the window is gone
}

TEST(WorkerThread, OneThreadAtATimeAndJoinedOnDestruction) {
  std::atomic<int> runs{0};
  {
    CWorkerThread worker;
    ASSERT_TRUE(worker.Start([&] {
      Sleep(50);
      ++runs;
    }));
    EXPECT_FALSE(worker.Start([&] { ++runs; }));
  }
  EXPECT_EQ(runs.load(), 1);
}

TEST(Module, LoadsFromTheSystemFolderOnly) {
  UniqueModule user32 = LoadSystemModule(L"user32.dll");
  ASSERT_TRUE(user32);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(user32.get(), path, MAX_PATH);
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(_wcsnicmp(path, system, wcslen(system)), 0) << path;

  EXPECT_FALSE(LoadSystemModule(L"..\\system32\\user32.dll"));
  EXPECT_FALSE(LoadSystemModule(L"C:user32.dll"));
  EXPECT_FALSE(LoadSystemModule(L""));
  // Present only in the current folder, which must not count.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring planted = std::wstring(temp) + L"kv_planted_module.dll";
  ASSERT_TRUE(CopyFileW(path, planted.c_str(), FALSE));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(temp);
  EXPECT_FALSE(LoadSystemModule(L"kv_planted_module.dll"));
  SetCurrentDirectoryW(previous);
  DeleteFileW(planted.c_str());
}

// After hardening, a bare name is looked for in the program's folder and the system folder
// alone: a module found on PATH before is not found any more. The process stays hardened, as the
// program does from its first line on.
TEST(Module, HardenedSearchSkipsPathAndTheCurrentFolder) {
  // A module of our own build: a copy of a system module can be a stand-in Wine refuses to load.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring original(self);
  original = original.substr(0, original.find_last_of(L'\\') + 1) + L"KavrinTestProvider.dll";
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"kv-path-modules";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring planted = folder + L"\\kv_path_module.dll";
  ASSERT_TRUE(CopyFileW(original.c_str(), planted.c_str(), FALSE));
  wchar_t path[32767] = {};
  GetEnvironmentVariableW(L"PATH", path, 32767);
  SetEnvironmentVariableW(L"PATH", (folder + L";" + path).c_str());
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);

  HMODULE before = LoadLibraryW(L"kv_path_module.dll");
  EXPECT_NE(before, nullptr) << "the test needs a module the classic order finds on PATH";
  if (before) FreeLibrary(before);
  HardenModuleSearchPath();
  EXPECT_EQ(LoadLibraryW(L"kv_path_module.dll"), nullptr);
  SetCurrentDirectoryW(folder.c_str());
  EXPECT_EQ(LoadLibraryW(L"kv_path_module.dll"), nullptr);
  // The system's modules still load, by name and by their full path.
  EXPECT_NE(LoadLibraryW(L"version.dll"), nullptr);
  EXPECT_TRUE(LoadSystemModule(L"wintrust.dll"));

  SetCurrentDirectoryW(previous);
  SetEnvironmentVariableW(L"PATH", path);
  DeleteFileW(planted.c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST(UniqueHandle, TreatsBothFailureValuesAsEmptyAndClosesOnce) {
  UniqueHandle invalid(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(invalid);
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const HANDLE raw = event.get();
  UniqueHandle moved = std::move(event);
  EXPECT_FALSE(event);
  EXPECT_EQ(moved.get(), raw);
  moved.reset();
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

}  // namespace
