#include "app/tray_notify_icon_win.h"

#include <shlwapi.h>

#include <cwchar>
#include <mutex>
#include <unordered_map>

#include "framework/dpi_win.h"
#include "framework/message_filter_win.h"
#include "framework/module_win.h"

namespace {

// The product's name is the tip and the balloon's title; it is not translated.
constexpr wchar_t kProductName[] = L"OrumaVPN";
constexpr DWORD kShellVersionUnknown = 4;
constexpr int kSmallIconSize = 16;

// What the hook knows of a window: whose it is (null once unhooked while buried under
// another procedure, when it only passes messages on) and the procedure it replaced.
struct HookEntry {
  CTrayIconHooker* hooker = nullptr;
  WNDPROC previous = nullptr;
};

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}

std::unordered_map<HWND, HookEntry>& Hooks() {
  static std::unordered_map<HWND, HookEntry> hooks;
  return hooks;
}

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

template <size_t N>
void CopyText(wchar_t (&target)[N], const std::wstring& text) {
  wcsncpy(target, text.c_str(), N - 1);
  target[N - 1] = L'\0';
}

// The menu and the icons are the executable's resources.
HINSTANCE ResourceModule() { return GetModuleHandleW(nullptr); }

DWORD QueryShellMajorVersion() {
  UniqueModule shell = LoadSystemModule(L"shell32.dll");
  if (!shell) return kShellVersionUnknown;
  const auto getVersion =
      reinterpret_cast<DLLGETVERSIONPROC>(GetProcAddress(shell.get(), "DllGetVersion"));
  DLLVERSIONINFO info = {};
  info.cbSize = sizeof info;
  if (!getVersion || FAILED(getVersion(&info))) return kShellVersionUnknown;
  return info.dwMajorVersion;
}

class ShellTray : public TraySystem {
 public:
  DWORD ShellMajorVersion() override {
    static const DWORD version = QueryShellMajorVersion();
    return version;
  }

  bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override {
    return Shell_NotifyIconW(message, &data) != FALSE;
  }

  HMENU LoadMenuResource(UINT id) override {
    return LoadMenuW(ResourceModule(), MAKEINTRESOURCEW(id));
  }

  HICON LoadIconResource(UINT id, bool& owned) override {
    HINSTANCE module = ResourceModule();
    // The notification area shows small icons at the system's DPI (16 pixels at 96 DPI, 24 at
    // 144); the resource carries pictures for the common sizes, and a larger one is shrunk.
    const int metric = GetSystemMetrics(SM_CXSMICON);
    const int size = metric > 0 ? metric : kSmallIconSize;
    HICON icon = LoadIconAtSize(module, static_cast<int>(id), size);
    owned = icon != nullptr;
    return icon ? icon : LoadIconW(module, MAKEINTRESOURCEW(id));
  }

  void AllowMessageFromLowerRights(HWND window, UINT message) override {
    if (message == 0 || AllowMessageForWindow(window, message)) return;
    // Vista has only the filter of the whole process.
    UniqueModule user32 = LoadSystemModule(L"user32.dll");
    using ForProcessFn = BOOL(WINAPI*)(UINT, DWORD);
    constexpr DWORD kMsgfltAdd = 1;
    if (const auto forProcess = reinterpret_cast<ForProcessFn>(reinterpret_cast<void*>(
            user32 ? GetProcAddress(user32.get(), "ChangeWindowMessageFilter") : nullptr))) {
      forProcess(message, kMsgfltAdd);
    }
  }

  bool IconRect(const NOTIFYICONDATAW& data, RECT& rect) override {
    UniqueModule shell = LoadSystemModule(L"shell32.dll");
    using GetRectFn = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER*, RECT*);
    const auto getRect = reinterpret_cast<GetRectFn>(reinterpret_cast<void*>(
        shell ? GetProcAddress(shell.get(), "Shell_NotifyIconGetRect") : nullptr));
    if (!getRect) return false;
    NOTIFYICONIDENTIFIER identifier = {};
    identifier.cbSize = sizeof identifier;
    identifier.hWnd = data.hWnd;
    identifier.uID = data.uID;
    return SUCCEEDED(getRect(&identifier, &rect));
  }

  POINT CursorPosition() override {
    POINT cursor = {};
    GetCursorPos(&cursor);
    return cursor;
  }
};

// Takes the hook (`hookProc`) out of `window`'s chain when it is on top. Otherwise calls
// still arrive through it from above, so it stays as a pass-through until the window is gone.
void ReleaseWindow(HWND window, WNDPROC hookProc, bool windowGone) {
  std::lock_guard<std::mutex> guard(HookLock());
  const auto it = Hooks().find(window);
  if (it == Hooks().end()) return;
  const bool onTop =
      reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)) == hookProc;
  if (onTop) {
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(it->second.previous));
  }
  if (onTop || windowGone) {
    Hooks().erase(it);
  } else {
    it->second.hooker = nullptr;
  }
}

}  // namespace

TraySystem& SystemTray() {
  static ShellTray tray;
  return tray;
}

DWORD TrayIconDataSize(DWORD majorVersion) {
  if (majorVersion >= 6) return 952;
  if (majorVersion == 5) return 936;
  return 152;
}

// ---- hooker -------------------------------------------------------------------------------------

CTrayIconHooker::~CTrayIconHooker() { Unhook(); }

bool CTrayIconHooker::Hook(HWND window) {
  if (window_ || !IsWindow(window)) return false;
  if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return false;
  std::lock_guard<std::mutex> guard(HookLock());
  const auto it = Hooks().find(window);
  if (it != Hooks().end()) {
    if (it->second.hooker) return false;
    // Still in the chain from an earlier hook, under someone else's procedure: take it up again.
    it->second.hooker = this;
  } else {
    SetLastError(0);
    const auto previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HookProc)));
    if (!previous && GetLastError() != 0) return false;
    Hooks().emplace(window, HookEntry{this, previous ? previous : DefWindowProcW});
  }
  window_ = window;
  state_ = 0;
  return true;
}

void CTrayIconHooker::Unhook() {
  if (!window_) return;
  ReleaseWindow(window_, HookProc, false);
  Forget();
}

void CTrayIconHooker::Forget() {
  window_ = nullptr;
  state_ = 0;
}

LRESULT CALLBACK CTrayIconHooker::HookProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  HookEntry entry;
  {
    std::lock_guard<std::mutex> guard(HookLock());
    const auto it = Hooks().find(window);
    if (it == Hooks().end()) return DefWindowProcW(window, message, wParam, lParam);
    entry = it->second;
  }
  if (entry.hooker) return entry.hooker->WindowProc(window, entry.previous, message, wParam, lParam);
  const LRESULT result = CallWindowProcW(entry.previous, window, message, wParam, lParam);
  if (message == WM_NCDESTROY) ReleaseWindow(window, HookProc, true);
  return result;
}

LRESULT CTrayIconHooker::WindowProc(HWND window, WNDPROC previous, UINT message, WPARAM wParam,
                                    LPARAM lParam) {
  ++depth_;
  LRESULT result = 0;
  if (message == WM_NCDESTROY) {
    result = CallWindowProcW(previous, window, message, wParam, lParam);
    ReleaseWindow(window, HookProc, true);
    if (window_ == window) state_ |= kWindowDestroyed;
  } else if (!ProcessWindowMessage(window, message, wParam, lParam, result)) {
    result = CallWindowProcW(previous, window, message, wParam, lParam);
  }
  --depth_;
  if (depth_ == 0 && window_ == window && (state_ & kWindowDestroyed)) {
    Forget();
    OnFinalMessage(window);
  }
  return result;
}

bool CTrayIconHooker::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM,
                                           LRESULT& result) {
  // Registration fails with 0, which must not turn every WM_NULL into a taskbar restart.
  const UINT taskbarCreated = TaskbarCreatedMessage();
  if (taskbarCreated != 0 && message == taskbarCreated) {
    icon_.OnTaskbarCreated();
    result = 0;
    return true;
  }
  // The owner still sees its destruction: it may have its own clean-up to do.
  if (message == WM_DESTROY) icon_.Remove();
  return false;
}

// ---- icon ---------------------------------------------------------------------------------------

CTrayNotifyIcon::CTrayNotifyIcon(TraySystem& system) : system_(system) {}

CTrayNotifyIcon::~CTrayNotifyIcon() { Remove(); }

bool CTrayNotifyIcon::Create(HWND owner, HICON icon) {
  Remove();
  UniqueMenu menu(system_.LoadMenuResource(kMenuId));
  HMENU popup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
  if (!popup) return false;
  SetMenuDefaultItem(popup, 0, TRUE);
  HWND top = GetAncestor(owner, GA_ROOT);
  if (!hooker_.Hook(top ? top : owner)) return false;
  menu_ = std::move(menu);
  owner_ = owner;
  // Elevated, the window would never hear a shell with normal rights: neither the taskbar's
  // re-creation (the icon would not come back after Explorer restarts) nor the icon's clicks.
  system_.AllowMessageFromLowerRights(top ? top : owner, TaskbarCreatedMessage());
  system_.AllowMessageFromLowerRights(owner, kCallbackMessage);
  data_ = {};
  data_.cbSize = TrayIconDataSize(system_.ShellMajorVersion());
  data_.hWnd = owner;
  data_.uID = kIconId;
  data_.uCallbackMessage = kCallbackMessage;
  data_.hIcon = icon;
  CopyText(data_.szTip, kProductName);
  iconResource_ = 0;
  return AddToShell();
}

bool CTrayNotifyIcon::CreateWithIconResource(HWND owner, UINT iconId) {
  bool owned = false;
  HICON icon = system_.LoadIconResource(iconId, owned);
  KeepLoadedIcon(icon, owned);
  const bool created = Create(owner, icon);
  iconResource_ = iconId;
  return created;
}

bool CTrayNotifyIcon::AddToShell() {
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  created_ = system_.NotifyIcon(NIM_ADD, data_);
  if (created_ && system_.ShellMajorVersion() > 4) {
    data_.uVersion = NOTIFYICON_VERSION;
    system_.NotifyIcon(NIM_SETVERSION, data_);
  }
  return created_;
}

void CTrayNotifyIcon::OnTaskbarCreated() {
  if (hidden_) return;
  data_.uFlags = 0;
  system_.NotifyIcon(NIM_DELETE, data_);
  hidden_ = true;
  // Also brings up an icon the shell refused at creation, before the taskbar existed.
  AddToShell();
  hidden_ = false;
}

void CTrayNotifyIcon::KeepLoadedIcon(HICON icon, bool owned) {
  ownedIcon_.reset(owned ? icon : nullptr);
}

void CTrayNotifyIcon::SetIconHandle(HICON icon) {
  if (!created_) return;
  data_.uFlags = NIF_ICON;
  data_.hIcon = icon;
  system_.NotifyIcon(NIM_MODIFY, data_);
  iconResource_ = 0;
}

void CTrayNotifyIcon::SetIcon(uint32_t iconId) {
  if (!created_ || iconId == iconResource_) return;
  bool owned = false;
  HICON icon = system_.LoadIconResource(iconId, owned);
  if (!icon) return;
  SetIconHandle(icon);
  KeepLoadedIcon(icon, owned);
  iconResource_ = iconId;
}

void CTrayNotifyIcon::ShowBalloon(const std::wstring& text) {
  if (!created_) return;
  data_.uFlags = NIF_INFO;
  CopyText(data_.szInfo, text);
  CopyText(data_.szInfoTitle, kProductName);
  data_.uTimeout = kBalloonTimeoutMs;
  data_.dwInfoFlags = NIIF_INFO;
  system_.NotifyIcon(NIM_MODIFY, data_);
}

void CTrayNotifyIcon::SetTip(const std::wstring& text) {
  const std::wstring before = data_.szTip;
  CopyText(data_.szTip, text.empty() ? std::wstring(kProductName) : text);
  if (!created_ || before == data_.szTip) return;
  data_.uFlags = NIF_TIP;
  system_.NotifyIcon(NIM_MODIFY, data_);
}

void CTrayNotifyIcon::SetMenuItem(uint32_t id, const std::wstring& text, bool checked) {
  HMENU menu = popup();
  if (!menu) return;
  ModifyMenuW(menu, id, MF_BYCOMMAND | MF_STRING | (checked ? MF_CHECKED : MF_UNCHECKED), id,
              text.c_str());
}

void CTrayNotifyIcon::Remove() {
  if (created_) {
    data_.uFlags = 0;
    system_.NotifyIcon(NIM_DELETE, data_);
    created_ = false;
  }
  hooker_.Unhook();
}

bool CTrayNotifyIcon::OnTrayNotification(UINT iconId, UINT mouseMessage) {
  HMENU menu = popup();
  if (iconId != kIconId || !menu || !owner_) return false;
  // Any program may post the callback; a click counts only with the cursor on our icon where
  // the shell says it is. Handled either way: a forged click is not the owner's business.
  const auto onIcon = [this](POINT& cursor) {
    cursor = system_.CursorPosition();
    RECT icon = {};
    return system_.IconRect(data_, icon) && PtInRect(&icon, cursor);
  };
  POINT cursor = {};
  switch (mouseMessage) {
    case WM_RBUTTONUP: {
      if (!onIcon(cursor)) return true;
      // Without the owner in front the menu would not close when the user clicks elsewhere.
      SetForegroundWindow(owner_);
      TrackPopupMenu(menu, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, owner_, nullptr);
      PostMessageW(owner_, WM_NULL, 0, 0);
      return true;
    }
    case WM_LBUTTONDBLCLK: {
      if (!onIcon(cursor)) return true;
      SetForegroundWindow(owner_);
      const UINT item = GetMenuDefaultItem(menu, FALSE, GMDI_GOINTOPOPUPS);
      if (item != static_cast<UINT>(-1)) SendMessageW(owner_, WM_COMMAND, item, 0);
      return true;
    }
    default:
      return false;
  }
}
