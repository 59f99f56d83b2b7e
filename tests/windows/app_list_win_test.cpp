// The accelerated-application list against the real shell and ini functions: shortcuts made
// through the shell link object, the list control with its check boxes, drops and sorting, and
// the options dialog.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/private_profile.h"
#include "config/profile_access.h"
#include "config/text_table.h"
#include "framework/window_win.h"
#include "policy/app_shell_win.h"
#include "policy/dlg_vpn_app_bind_setting_win.h"
#include "policy/vpn_app_list_ctrl_win.h"
#include "skin/skin_control_win.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_startup_win.h"
#include "test_skin_win.h"

namespace {

void UseSkin() {
  TestSkin();
  BuildTextTable();
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// A folder of its own under the temporary folder, with empty files to point at.
class Scratch {
 public:
  Scratch() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kavrin-app-list-" + std::to_wstring(GetCurrentProcessId()) +
              L"-" + std::to_wstring(counter_++) + L"\\";
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  ~Scratch() {
    SHFILEOPSTRUCTW remove = {};
    std::wstring from = folder_ + L'\0';
    remove.wFunc = FO_DELETE;
    remove.pFrom = from.c_str();
    remove.fFlags = FOF_NO_UI;
    SHFileOperationW(&remove);
  }
  std::wstring Touch(const std::wstring& name) {
    const std::wstring path = folder_ + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
    return path;
  }
  std::wstring Path(const std::wstring& name) const { return folder_ + name; }

 private:
  static inline int counter_ = 0;
  std::wstring folder_;
};

// Made the way the shell makes one.
bool MakeShortcut(const std::wstring& shortcut, const std::wstring& target) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return false;
  }
  IPersistFile* file = nullptr;
  bool saved = SUCCEEDED(link->SetPath(target.c_str())) &&
               SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
               SUCCEEDED(file->Save(shortcut.c_str(), TRUE));
  if (file) file->Release();
  link->Release();
  return saved;
}

class AppListWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    UseSkin();
  }
  void TearDown() override { CoUninitialize(); }

  std::wstring Value(const std::wstring& section, const std::wstring& key) {
    return ReadProfileText(SystemPrivateProfile(), listFile_, section, key, L"-");
  }

  Scratch scratch_;
  std::wstring listFile_ = scratch_.Path(L"applist.ini");
};

TEST_F(AppListWinTest, AnUpperCaseShortcutToAnUpperCaseProgramIsResolved) {
  const std::wstring program = scratch_.Touch(L"Y.EXE");
  const std::wstring shortcut = scratch_.Path(L"X.LNK");
  ASSERT_TRUE(MakeShortcut(shortcut, program));
  std::wstring target;
  ASSERT_TRUE(ResolveShortcutTarget(shortcut, target));
  EXPECT_EQ(lstrcmpiW(target.c_str(), program.c_str()), 0) << target;

  SystemAppShell shell;
  CWindow host;
  host.Create(0, nullptr, L"host", WS_POPUP, RECT{0, 0, 600, 200}, nullptr, 0);
  CVpnAppListCtrl list;
  ASSERT_TRUE(list.Create(host.hwnd(), RECT{0, 0, 540, 100}, 1018, listFile_,
                          SystemPrivateProfile(), &shell));
  std::vector<std::wstring> messages;
  list.showMessage = [&](const std::wstring& text) { messages.push_back(text); };
  list.AddDropped({shortcut});
  ASSERT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.RowText(0, 0), L"X.LNK");
  EXPECT_EQ(lstrcmpiW(list.RowText(0, 1).c_str(), program.c_str()), 0);
  EXPECT_TRUE(messages.empty());

  // A shortcut whose program is gone resolves to nothing and is refused.
  const std::wstring stale = scratch_.Path(L"Stale.lnk");
  const std::wstring gone = scratch_.Touch(L"Gone.exe");
  ASSERT_TRUE(MakeShortcut(stale, gone));
  DeleteFileW(gone.c_str());
  EXPECT_FALSE(ResolveShortcutTarget(stale, target));
  EXPECT_FALSE(ResolveShortcutTarget(scratch_.Path(L"Missing.lnk"), target));
  list.AddDropped({stale});
  EXPECT_EQ(list.RowCount(), 1);
  EXPECT_EQ(messages, std::vector<std::wstring>{GetText("MustBeShortcutOrEXE")});
}

TEST_F(AppListWinTest, TheListTakesDropsAndShowsChecksSortsAndRemovals) {
  const std::wstring beta = scratch_.Touch(L"beta.exe");
  const std::wstring alpha = scratch_.Touch(L"Alpha.EXE");
  const std::wstring gamma = scratch_.Touch(L"gamma[2].exe");
  const std::wstring notes = scratch_.Touch(L"notes.txt");
  CWindow host;
  host.Create(0, nullptr, L"host", WS_POPUP, RECT{0, 0, 600, 200}, nullptr, 0);
  CVpnAppListCtrl list;
  ASSERT_TRUE(list.Create(host.hwnd(), RECT{0, 0, 540, 100}, 1018, listFile_));
  std::vector<std::wstring> messages;
  list.showMessage = [&](const std::wstring& text) { messages.push_back(text); };

  // Dropped from the shell: a DROPFILES block with the paths one after another.
  std::wstring names = beta + L'\0' + notes + L'\0' + alpha + L'\0' + gamma + L'\0' + L'\0';
  const size_t bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GHND, bytes);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(),
              names.size() * sizeof(wchar_t));
  GlobalUnlock(block);
  SendMessageW(list.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
  Pump();

  ASSERT_EQ(list.RowCount(), 3);
  EXPECT_EQ(messages.size(), 1u);
  for (int row = 0; row < 3; ++row) EXPECT_TRUE(list.IsRowChecked(row)) << row;
  EXPECT_EQ(list.RowText(0, 0), L"beta.exe");
  EXPECT_EQ(list.RowText(0, 1), beta);
  EXPECT_EQ(Value(gamma, L"AppFullname"), gamma);

  list.SortColumn(0);  // already column 0: reversed
  list.SortColumn(0);
  EXPECT_EQ(list.RowText(0, 0), L"Alpha.EXE");
  EXPECT_EQ(list.RowText(1, 0), L"beta.exe");
  EXPECT_EQ(list.RowText(2, 0), L"gamma[2].exe");
  list.SortColumn(0);
  EXPECT_EQ(list.RowText(0, 0), L"gamma[2].exe");

  list.SetRowChecked(0, false);
  EXPECT_TRUE(list.SaveChecks());
  EXPECT_EQ(Value(gamma, L"Active"), L"0");
  EXPECT_EQ(Value(alpha, L"Active"), L"1");

  // The context menu's removal takes the selected rows and their sections.
  list.SelectRow(0, true);
  list.SelectRow(2, true);
  list.RunCommand(CVpnAppListCtrl::kRemove);
  ASSERT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.RowKey(0), beta);
  EXPECT_EQ(EnumProfileSections(SystemPrivateProfile(), listFile_),
            std::vector<std::wstring>{beta});

  list.SetRowChecked(0, false);
  EXPECT_FALSE(list.SaveChecks());
}

// Wine has no message filter between integrity levels, so the calls are what is checked: the
// drop messages are let through to the list's own window, never to the whole process.
TEST_F(AppListWinTest, OnlyTheListsWindowTakesDropsFromProgramsWithFewerRights) {
  CWindow host;
  host.Create(0, nullptr, L"host", WS_POPUP, RECT{0, 0, 600, 200}, nullptr, 0);
  CVpnAppListCtrl list;
  std::vector<std::pair<HWND, UINT>> allowed;
  list.allowMessage = [&](HWND window, UINT message) {
    allowed.emplace_back(window, message);
    return true;
  };
  ASSERT_TRUE(list.Create(host.hwnd(), RECT{0, 0, 540, 100}, 1018, listFile_));
  const std::vector<std::pair<HWND, UINT>> expected = {
      {list.hwnd(), WM_DROPFILES}, {list.hwnd(), WM_COPYDATA}, {list.hwnd(), 0x0049}};
  EXPECT_EQ(allowed, expected);
}

TEST_F(AppListWinTest, ALoadedListKeepsTheFilesCheckStates) {
  const std::wstring one = scratch_.Touch(L"one.exe");
  const std::wstring two = scratch_.Touch(L"two.exe");
  WriteProfileText(SystemPrivateProfile(), listFile_, two, L"AppFullname", two);
  WriteProfileText(SystemPrivateProfile(), listFile_, two, L"Active", L"0");
  WriteProfileText(SystemPrivateProfile(), listFile_, one, L"AppFullname", one);
  CWindow host;
  host.Create(0, nullptr, L"host", WS_POPUP, RECT{0, 0, 600, 200}, nullptr, 0);
  CVpnAppListCtrl list;
  ASSERT_TRUE(list.Create(host.hwnd(), RECT{0, 0, 540, 100}, 1018, listFile_));
  list.Load();
  ASSERT_EQ(list.RowCount(), 2);
  EXPECT_EQ(list.RowKey(0), one);  // sorted by name
  EXPECT_TRUE(list.IsRowChecked(0));
  EXPECT_FALSE(list.IsRowChecked(1));
}

// ---- the options dialog --------------------------------------------------------------------

struct OptionsProbe {
  HWND dialog = nullptr;
  std::wstring caption;
  RECT window = {};
  LRESULT asyncChecked = -1;
  LRESULT forceChecked = -1;
};
OptionsProbe g_probe;

void CALLBACK AnswerOptions(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowW(L"#32770", (L"OrumaVPN" + GetText("AcceleratedAppSetting")).c_str());
  if (dialog == nullptr) return;
  KillTimer(nullptr, timer);
  g_probe.dialog = dialog;
  wchar_t caption[128] = {};
  GetWindowTextW(dialog, caption, 128);
  g_probe.caption = caption;
  GetWindowRect(dialog, &g_probe.window);
  HWND async = GetDlgItem(dialog, CDlgVpnAppBindSetting::kUseAsyncModeId);
  HWND force = GetDlgItem(dialog, CDlgVpnAppBindSetting::kForceWspBindId);
  g_probe.asyncChecked = SendMessageW(async, BM_GETCHECK, 0, 0);
  g_probe.forceChecked = SendMessageW(force, BM_GETCHECK, 0, 0);
  SendMessageW(async, BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageW(force, BM_SETCHECK, BST_CHECKED, 0);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST_F(AppListWinTest, TheOptionsDialogShowsBothFlagsAndOkTakesThemBack) {
  g_probe = {};
  CDlgVpnAppBindSetting dialog(AppBindOptions{true, false});
  SetTimer(nullptr, 0, 100, AnswerOptions);
  EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
  EXPECT_EQ(g_probe.caption, L"OrumaVPN" + GetText("AcceleratedAppSetting"));
  EXPECT_EQ(g_probe.window.right - g_probe.window.left, CDlgVpnAppBindSetting::kWidth);
  EXPECT_EQ(g_probe.window.bottom - g_probe.window.top, CDlgVpnAppBindSetting::kHeight);
  EXPECT_EQ(g_probe.asyncChecked, BST_CHECKED);
  EXPECT_EQ(g_probe.forceChecked, BST_UNCHECKED);
  EXPECT_FALSE(dialog.options().useAsyncMode);
  EXPECT_TRUE(dialog.options().forceWspBind);
}

}  // namespace
