#include "app/tray_notify_icon_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr UINT kShow = 32772;

// The shell and the resources, recorded; the menu is menu 128's layout built in memory, since
// the test binary carries no resources.
class RecordingTray : public TraySystem {
 public:
  struct Call {
    DWORD message;
    NOTIFYICONDATAW data;
  };

  DWORD ShellMajorVersion() override { return version; }

  bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override {
    calls.push_back({message, data});
    if (message == NIM_ADD && refuseAdds > 0 && refuseAdds-- > 0) return false;
    return !toShell || SystemTray().NotifyIcon(message, data);
  }

  HMENU LoadMenuResource(UINT id) override {
    if (id != CTrayNotifyIcon::kMenuId || noMenu) return nullptr;
    HMENU bar = CreateMenu();
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, kShow, L"显示主窗口(&S)");
    AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup, MF_STRING, 32779, L"Oruma主页(&H)");
    AppendMenuW(popup, MF_STRING, 32781, L"帐号充值(&P)");
    AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup, MF_STRING, 32775, L"关于(&A)...");
    AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup, MF_STRING, 32774, L"退出(&X)");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"Tray");
    return bar;
  }

  HICON LoadIconResource(UINT id, bool& owned) override {
    owned = false;
    if (id == 132) return LoadIconW(nullptr, IDI_APPLICATION);
    if (id == 135) return LoadIconW(nullptr, IDI_INFORMATION);
    return nullptr;
  }

  void AllowMessageFromLowerRights(HWND window, UINT message) override {
    allowed.push_back({window, message});
    if (toShell) SystemTray().AllowMessageFromLowerRights(window, message);
  }

  // Shell_NotifyIconGetRect's answer: the icon's place, or E_FAIL from a shell that cannot say.
  bool IconRect(const NOTIFYICONDATAW& data, RECT& rect) override {
    if (!iconShown || data.uID != CTrayNotifyIcon::kIconId) return false;
    rect = iconRect;
    return true;
  }
  POINT CursorPosition() override { return cursor; }

  std::vector<DWORD> Messages() const {
    std::vector<DWORD> out;
    for (const Call& call : calls) out.push_back(call.message);
    return out;
  }

  DWORD version = 6;
  int refuseAdds = 0;
  // Passes every call on to the system's shell as well.
  bool toShell = false;
  bool noMenu = false;
  bool iconShown = true;
  RECT iconRect = {1000, 740, 1016, 756};
  POINT cursor = {1008, 748};
  std::vector<Call> calls;
  std::vector<std::pair<HWND, UINT>> allowed;
};

// The owner window: hands tray callbacks to the icon and records what reaches its procedure.
struct OwnerLog {
  CTrayNotifyIcon* icon = nullptr;
  std::vector<UINT> commands;
  std::vector<UINT> seen;
};
OwnerLog g_owner;

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_owner.seen.push_back(message);
  if (message == CTrayNotifyIcon::kCallbackMessage && g_owner.icon) {
    return g_owner.icon->OnTrayNotification(static_cast<UINT>(wParam), static_cast<UINT>(lParam))
               ? 1
               : 2;
  }
  if (message == WM_COMMAND) g_owner.commands.push_back(LOWORD(wParam));
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateOwner() {
  static const bool registered = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KavrinTrayTestOwner";
    return RegisterClassW(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  return CreateWindowExW(0, L"KavrinTrayTestOwner", L"OrumaVPN", WS_OVERLAPPEDWINDOW, 10, 10, 200,
                         100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

bool Seen(UINT message) {
  for (UINT m : g_owner.seen) {
    if (m == message) return true;
  }
  return false;
}

UINT TaskbarCreated() { return RegisterWindowMessageW(L"TaskbarCreated"); }

class TrayNotifyIconWin : public ::testing::Test {
 protected:
  void SetUp() override {
    g_owner = OwnerLog{};
    owner_ = CreateOwner();
    ASSERT_NE(owner_, nullptr);
    g_owner.icon = &icon_;
  }
  void TearDown() override {
    if (IsWindow(owner_)) DestroyWindow(owner_);
    g_owner.icon = nullptr;
  }

  RecordingTray tray_;
  CTrayNotifyIcon icon_{tray_};
  HWND owner_ = nullptr;
};

// Closes the tray menu once it is up, noting which menu it showed.
HMENU g_menu_shown = nullptr;
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND menu = FindWindowW(L"#32768", nullptr);
  if (!menu || !IsWindowVisible(menu)) return;
  KillTimer(nullptr, timer);
  g_menu_shown = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
  EndMenu();
}

}  // namespace

TEST(TrayIconDataSize, FollowsTheShellVersion) {
  EXPECT_EQ(TrayIconDataSize(10), 952u);
  EXPECT_EQ(TrayIconDataSize(6), 952u);
  EXPECT_EQ(TrayIconDataSize(5), 936u);
  EXPECT_EQ(TrayIconDataSize(4), 152u);
  EXPECT_GT(SystemTray().ShellMajorVersion(), 4u) << "the system's shell knows its version";
}

TEST_F(TrayNotifyIconWin, CreateAddsTheIconAndSetsTheVersion) {
  HICON picture = LoadIconW(nullptr, IDI_APPLICATION);
  ASSERT_TRUE(icon_.Create(owner_, picture));
  EXPECT_TRUE(icon_.created());
  ASSERT_EQ(tray_.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_SETVERSION}));
  const NOTIFYICONDATAW& added = tray_.calls[0].data;
  EXPECT_EQ(added.cbSize, 952u);
  EXPECT_EQ(added.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(added.hWnd, owner_);
  EXPECT_EQ(added.uID, 1u);
  EXPECT_EQ(added.uCallbackMessage, 0x0401u);
  EXPECT_EQ(added.hIcon, picture);
  EXPECT_STREQ(added.szTip, L"OrumaVPN");
  EXPECT_EQ(tray_.calls[1].data.uVersion, static_cast<UINT>(NOTIFYICON_VERSION));
  EXPECT_EQ(GetMenuDefaultItem(icon_.popup(), FALSE, 0), kShow);
}

TEST_F(TrayNotifyIconWin, OlderShellsGetTheirOwnDataSize) {
  tray_.version = 5;
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  EXPECT_EQ(tray_.calls[0].data.cbSize, 936u);
  EXPECT_EQ(tray_.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_SETVERSION}));
  icon_.Remove();

  tray_.version = 4;
  tray_.calls.clear();
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  EXPECT_EQ(tray_.calls[0].data.cbSize, 152u);
  EXPECT_EQ(tray_.Messages(), std::vector<DWORD>{NIM_ADD}) << "no version to set";
}

TEST_F(TrayNotifyIconWin, NothingHappensBeforeCreate) {
  icon_.SetIcon(135);
  icon_.SetIconHandle(LoadIconW(nullptr, IDI_APPLICATION));
  icon_.ShowBalloon(L"note");
  icon_.Remove();
  EXPECT_FALSE(icon_.OnTrayNotification(1, WM_LBUTTONDBLCLK));
  EXPECT_TRUE(tray_.calls.empty());
  EXPECT_TRUE(g_owner.commands.empty());
}

TEST_F(TrayNotifyIconWin, CreateFailsWithoutMenuOrHook) {
  tray_.noMenu = true;
  EXPECT_FALSE(icon_.Create(owner_, nullptr));
  tray_.noMenu = false;
  EXPECT_FALSE(icon_.Create(nullptr, nullptr)) << "no window to hook";
  EXPECT_TRUE(tray_.calls.empty());
  EXPECT_FALSE(icon_.created());
}

TEST_F(TrayNotifyIconWin, PictureChangesByResourceAndStaysWhenItCannotLoad) {
  ASSERT_TRUE(icon_.CreateWithIconResource(owner_, 132));
  EXPECT_EQ(tray_.calls[0].data.hIcon, LoadIconW(nullptr, IDI_APPLICATION));
  tray_.calls.clear();

  icon_.SetIcon(135);
  icon_.SetIcon(135);
  icon_.SetIcon(999);
  ASSERT_EQ(tray_.Messages(), std::vector<DWORD>{NIM_MODIFY}) << "same picture, missing picture";
  EXPECT_EQ(tray_.calls[0].data.uFlags, static_cast<UINT>(NIF_ICON));
  EXPECT_EQ(tray_.calls[0].data.hIcon, LoadIconW(nullptr, IDI_INFORMATION));
}

TEST_F(TrayNotifyIconWin, BalloonCarriesTitleTimeoutAndIcon) {
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  tray_.calls.clear();
  icon_.ShowBalloon(L"已连接");
  ASSERT_EQ(tray_.Messages(), std::vector<DWORD>{NIM_MODIFY});
  const NOTIFYICONDATAW& balloon = tray_.calls[0].data;
  EXPECT_EQ(balloon.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_STREQ(balloon.szInfo, L"已连接");
  EXPECT_STREQ(balloon.szInfoTitle, L"OrumaVPN");
  EXPECT_EQ(balloon.uTimeout, 5000u);
  EXPECT_EQ(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));

  icon_.ShowBalloon(std::wstring(400, L'x'));
  EXPECT_EQ(std::wstring(tray_.calls[1].data.szInfo).size(), 255u);
}

TEST_F(TrayNotifyIconWin, RightClickShowsTheMenuAndDoubleClickRunsItsDefaultItem) {
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  ShowWindow(owner_, SW_SHOW);

  g_menu_shown = nullptr;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseMenu);
  EXPECT_EQ(SendMessageW(owner_, CTrayNotifyIcon::kCallbackMessage, 1, WM_RBUTTONUP), 1);
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_menu_shown, icon_.popup());

  EXPECT_EQ(SendMessageW(owner_, CTrayNotifyIcon::kCallbackMessage, 1, WM_LBUTTONDBLCLK), 1);
  EXPECT_EQ(g_owner.commands, std::vector<UINT>{kShow});

  EXPECT_EQ(SendMessageW(owner_, CTrayNotifyIcon::kCallbackMessage, 1, WM_LBUTTONUP), 2)
      << "a single click is the owner's";
  EXPECT_EQ(SendMessageW(owner_, CTrayNotifyIcon::kCallbackMessage, 2, WM_LBUTTONDBLCLK), 2)
      << "another icon";
  EXPECT_EQ(g_owner.commands.size(), 1u);
}

// Any program may post the callback message (the filter lets it in for the shell); the menu
// opens, and a double click brings the window forward, only while the cursor is on the icon
// where the shell says it is.
TEST_F(TrayNotifyIconWin, APostedClickAwayFromTheIconOpensNoMenuAndShowsNothing) {
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  ShowWindow(owner_, SW_SHOW);
  // Posts the callback as any program may, closing a menu that comes up; true when one did.
  const auto menuShown = [&] {
    g_menu_shown = nullptr;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseMenu);
    PostMessageW(owner_, CTrayNotifyIcon::kCallbackMessage, 1, WM_RBUTTONUP);
    MSG message;
    for (int pass = 0; pass < 10; ++pass) {
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(20);
    }
    KillTimer(nullptr, timer);
    return g_menu_shown != nullptr;
  };
  tray_.cursor = POINT{200, 200};
  EXPECT_FALSE(menuShown());
  EXPECT_EQ(SendMessageW(owner_, CTrayNotifyIcon::kCallbackMessage, 1, WM_LBUTTONDBLCLK), 1);
  // A shell that cannot say where the icon is: no menu rather than one anybody can call up.
  tray_.iconShown = false;
  tray_.cursor = POINT{1008, 748};
  EXPECT_FALSE(menuShown());
  EXPECT_EQ(SendMessageW(owner_, CTrayNotifyIcon::kCallbackMessage, 1, WM_LBUTTONDBLCLK), 1);
  EXPECT_TRUE(g_owner.commands.empty());
}

TEST_F(TrayNotifyIconWin, ComesBackWithItsLastPictureAfterTheTaskbarIsCreated) {
  ASSERT_TRUE(icon_.CreateWithIconResource(owner_, 132));
  icon_.SetIcon(135);
  tray_.calls.clear();
  g_owner.seen.clear();

  EXPECT_EQ(SendMessageW(owner_, TaskbarCreated(), 0, 0), 0);

  ASSERT_EQ(tray_.Messages(), (std::vector<DWORD>{NIM_DELETE, NIM_ADD, NIM_SETVERSION}));
  const NOTIFYICONDATAW& added = tray_.calls[1].data;
  EXPECT_EQ(added.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(added.hIcon, LoadIconW(nullptr, IDI_INFORMATION));
  EXPECT_STREQ(added.szTip, L"OrumaVPN");
  EXPECT_FALSE(icon_.hidden());
  EXPECT_FALSE(Seen(TaskbarCreated())) << "the hook handled it";
}

// Elevated, the shell's messages reach the window only through its message filter; then a
// broadcast of the taskbar's re-creation brings the icon back with its version and tip.
TEST_F(TrayNotifyIconWin, LetsTheShellsMessagesInAndComesBackOnTheBroadcast) {
  tray_.toShell = true;
  ASSERT_TRUE(icon_.CreateWithIconResource(owner_, 132));
  EXPECT_EQ(tray_.allowed,
            (std::vector<std::pair<HWND, UINT>>{{owner_, TaskbarCreated()},
                                                {owner_, CTrayNotifyIcon::kCallbackMessage}}));
  tray_.calls.clear();

  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutW(HWND_BROADCAST, TaskbarCreated(), 0, 0, SMTO_ABORTIFHUNG, 5000,
                                  &result));
  ASSERT_EQ(tray_.Messages(), (std::vector<DWORD>{NIM_DELETE, NIM_ADD, NIM_SETVERSION}));
  EXPECT_STREQ(tray_.calls[1].data.szTip, L"OrumaVPN");
  EXPECT_EQ(tray_.calls[2].data.uVersion, static_cast<UINT>(NOTIFYICON_VERSION));
  EXPECT_TRUE(icon_.Shown());
}

TEST_F(TrayNotifyIconWin, IconTheShellRefusedAppearsOnceTheTaskbarExists) {
  tray_.refuseAdds = 1;
  EXPECT_FALSE(icon_.Create(owner_, nullptr));
  icon_.SetIcon(135);
  EXPECT_EQ(tray_.Messages(), std::vector<DWORD>{NIM_ADD});

  SendMessageW(owner_, TaskbarCreated(), 0, 0);
  EXPECT_TRUE(icon_.created());
  icon_.SetIcon(135);
  EXPECT_EQ(tray_.calls.back().message, static_cast<DWORD>(NIM_MODIFY));
}

TEST_F(TrayNotifyIconWin, DestroyingTheWindowRemovesTheIconAndTheOwnerStillSeesIt) {
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  tray_.calls.clear();
  ASSERT_TRUE(DestroyWindow(owner_));
  EXPECT_EQ(tray_.Messages(), std::vector<DWORD>{NIM_DELETE});
  EXPECT_EQ(tray_.calls[0].data.uFlags, 0u);
  EXPECT_FALSE(icon_.created());
  EXPECT_TRUE(Seen(WM_DESTROY));
  EXPECT_TRUE(Seen(WM_NCDESTROY));
}

TEST_F(TrayNotifyIconWin, RemoveGivesTheWindowItsProcedureBack) {
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  EXPECT_NE(GetWindowLongPtrW(owner_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(OwnerProc));
  icon_.Remove();
  EXPECT_EQ(GetWindowLongPtrW(owner_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(OwnerProc));
  EXPECT_EQ(tray_.calls.back().message, static_cast<DWORD>(NIM_DELETE));

  tray_.calls.clear();
  SendMessageW(owner_, TaskbarCreated(), 0, 0);
  EXPECT_TRUE(tray_.calls.empty()) << "no longer hooked";
}

// A procedure installed over the hook keeps working when the hook goes, and the hook can come
// back under it.
WNDPROC g_under = nullptr;
int g_over_calls = 0;
LRESULT CALLBACK OverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ++g_over_calls;
  return CallWindowProcW(g_under, window, message, wParam, lParam);
}

TEST_F(TrayNotifyIconWin, UnhookUnderAnotherProcedureLeavesTheChainWhole) {
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  g_under = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OverProc)));
  icon_.Remove();
  EXPECT_EQ(GetWindowLongPtrW(owner_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(OverProc));

  g_owner.seen.clear();
  g_over_calls = 0;
  SendMessageW(owner_, WM_USER + 7, 0, 0);
  EXPECT_EQ(g_over_calls, 1);
  EXPECT_TRUE(Seen(WM_USER + 7)) << "passed on to the owner's own procedure";

  tray_.calls.clear();
  ASSERT_TRUE(icon_.Create(owner_, nullptr));
  g_owner.seen.clear();
  EXPECT_EQ(SendMessageW(owner_, TaskbarCreated(), 0, 0), 0);
  EXPECT_EQ(tray_.Messages(),
            (std::vector<DWORD>{NIM_ADD, NIM_SETVERSION, NIM_DELETE, NIM_ADD, NIM_SETVERSION}));
  EXPECT_FALSE(Seen(TaskbarCreated()));

  ASSERT_TRUE(DestroyWindow(owner_));
  EXPECT_FALSE(icon_.created());
  EXPECT_TRUE(Seen(WM_NCDESTROY));
}

TEST_F(TrayNotifyIconWin, TheSystemShellTakesTheIcon) {
  tray_.toShell = true;
  tray_.version = SystemTray().ShellMajorVersion();
  ASSERT_TRUE(icon_.Create(owner_, LoadIconW(nullptr, IDI_APPLICATION)));
  icon_.SetIconHandle(LoadIconW(nullptr, IDI_INFORMATION));
  icon_.ShowBalloon(L"OrumaVPN");
  SendMessageW(owner_, TaskbarCreated(), 0, 0);
  EXPECT_TRUE(icon_.created()) << "added again after the taskbar came back";
  ASSERT_TRUE(DestroyWindow(owner_));
  EXPECT_FALSE(icon_.created());
  NOTIFYICONDATAW gone = tray_.calls.back().data;
  gone.uFlags = 0;
  EXPECT_FALSE(SystemTray().NotifyIcon(NIM_DELETE, gone)) << "the shell no longer has it";
}
