#include "framework/window_win.h"

#include <windowsx.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/application_win.h"

namespace {

// Windows are driven by the user-interface thread, but workers look objects up too (to post to
// them), so the map is guarded.
std::mutex& MapLock() {
  static std::mutex lock;
  return lock;
}

std::unordered_map<HWND, CWindow*>& HandleMap() {
  static std::unordered_map<HWND, CWindow*> map;
  return map;
}

// The object whose window is being created on this thread: its first message arrives before
// CreateWindowEx / CreateDialog return a handle to attach.
thread_local CWindow* g_pending_attach = nullptr;

HINSTANCE ModuleInstance() {
  if (CApplication* app = CApplication::Current(); app && app->Instance()) return app->Instance();
  return GetModuleHandleW(nullptr);
}

}  // namespace

CWindow::~CWindow() {
  if (!hwnd_) return;
  if (GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) ::DestroyWindow(hwnd_);
  if (hwnd_) Detach();
}

CWindow* CWindow::FromHandle(HWND window) {
  if (!window) return nullptr;
  std::lock_guard<std::mutex> guard(MapLock());
  const auto it = HandleMap().find(window);
  return it == HandleMap().end() ? nullptr : it->second;
}

void CWindow::SetPendingAttach(CWindow* window) { g_pending_attach = window; }

const wchar_t* CWindow::FrameworkClassName() {
  static const wchar_t kName[] = L"KavrinFrameworkWindow";
  static const bool registered = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ModuleInstance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered ? kName : nullptr;
}

bool CWindow::Create(DWORD exStyle, const wchar_t* className, const std::wstring& text, DWORD style,
                     const RECT& rect, HWND parent, UINT id) {
  if (hwnd_) return false;
  const bool ownClass = className == nullptr;
  if (ownClass) {
    className = FrameworkClassName();
    if (!className) return false;
    SetPendingAttach(this);
  }
  HMENU menu = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr;
  HWND window = CreateWindowExW(exStyle, className, text.c_str(), style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent, menu,
                                ModuleInstance(), nullptr);
  SetPendingAttach(nullptr);
  if (!window) return false;
  if (ownClass) return hwnd_ == window;
  if (Attach(window)) return true;
  ::DestroyWindow(window);
  return false;
}

bool CWindow::Attach(HWND window) {
  if (hwnd_ || !window || !IsWindow(window)) return false;
  if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return false;
  return Subclass(window);
}

bool CWindow::Subclass(HWND window) {
  {
    std::lock_guard<std::mutex> guard(MapLock());
    if (!HandleMap().emplace(window, this).second) return false;
  }
  hwnd_ = window;
  const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  if (current == WindowProc) {
    previousProc_ = DefWindowProcW;
  } else {
    previousProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
  }
  return true;
}

HWND CWindow::Detach() {
  HWND window = std::exchange(hwnd_, nullptr);
  if (!window) return nullptr;
  {
    std::lock_guard<std::mutex> guard(MapLock());
    HandleMap().erase(window);
  }
  // Someone who subclassed after us still chains to WindowProc; ripping it out from under
  // them would cut their chain, so the procedure is only restored while we are on top.
  const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  if (current == WindowProc && previousProc_ != DefWindowProcW) {
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
  }
  return window;
}

bool CWindow::DestroyWindow() { return hwnd_ && ::DestroyWindow(hwnd_); }

bool CWindow::AttachPending(HWND window) {
  CWindow* pending = std::exchange(g_pending_attach, nullptr);
  return pending && pending->Subclass(window);
}

LRESULT CALLBACK CWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CWindow* self = FromHandle(window);
  if (!self && AttachPending(window)) self = FromHandle(window);
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->Dispatch(message, wParam, lParam);
}

LRESULT CWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  const CurrentMessage here{message, wParam, lParam};
  const CurrentMessage* outer = std::exchange(current_, &here);
  LRESULT result = 0;
  if (message == WM_NCDESTROY) {
    result = CallPrevious(message, wParam, lParam);
    current_ = outer;
    FinishDestroy();
    return result;
  }
  const bool handled = OnMessage(message, wParam, lParam, result) ||
                       HandleMessage(message, wParam, lParam, result);
  // A handler may have destroyed the window; the previous procedure has nothing left to do.
  if (!handled && hwnd_) result = CallPrevious(message, wParam, lParam);
  current_ = outer;
  return result;
}

void CWindow::FinishDestroy() {
  Detach();
  previousProc_ = nullptr;
  if (CApplication* app = CApplication::Current()) app->OnWindowDestroyed(this);
  OnFinalMessage();
}

LRESULT CWindow::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!previousProc_) return DefWindowProcW(hwnd_, message, wParam, lParam);
  return CallWindowProcW(previousProc_, hwnd_, message, wParam, lParam);
}

LRESULT CWindow::Default() {
  if (!current_ || !hwnd_) return 0;
  return CallPrevious(current_->message, current_->wParam, current_->lParam);
}

bool CWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  switch (message) {
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_TIMER:
      OnTimer(wParam);
      return false;
    case WM_NCHITTEST:
      result = OnNcHitTest(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return true;
    case WM_PAINT:
      OnPaint();
      return true;
    case WM_ERASEBKGND:
      result = OnEraseBkgnd(reinterpret_cast<HDC>(wParam)) ? 1 : 0;
      return true;
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
      return false;
    case WM_SYSCOMMAND:
      return OnSysCommand(static_cast<UINT>(wParam & 0xFFF0));
    case WM_DPICHANGED:
      if (!lParam) return false;
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return true;
    case WM_CLOSE:
      return OnClose();
    case WM_DESTROY:
      OnDestroy();
      return false;
    default:
      return false;
  }
}

bool CWindow::PreTranslateMessage(MSG&) { return false; }
bool CWindow::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
bool CWindow::OnCommand(UINT, UINT) { return false; }
void CWindow::OnTimer(UINT_PTR) {}
LRESULT CWindow::OnNcHitTest(POINT) { return Default(); }
void CWindow::OnPaint() { Default(); }
bool CWindow::OnEraseBkgnd(HDC) { return Default() != 0; }
void CWindow::OnSize(UINT, int, int) {}

void CWindow::OnDpiChanged(int dpi, const RECT& suggested) {
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayoutForDpi(dpi);
}

void CWindow::LayoutForDpi(int) {}
bool CWindow::OnSysCommand(UINT) { return false; }
bool CWindow::OnClose() { return false; }
void CWindow::OnDestroy() {}
void CWindow::OnFinalMessage() {}

void CWindow::SetWindowText(const std::wstring& text) { ::SetWindowTextW(hwnd_, text.c_str()); }

std::wstring CWindow::GetWindowText() const { return GetWindowText(hwnd_); }

std::wstring CWindow::GetWindowText(HWND window) {
  if (!window) return {};
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  const int copied = ::GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void CWindow::Show(int command) { ShowWindow(hwnd_, command); }
bool CWindow::IsVisible() const { return hwnd_ && IsWindowVisible(hwnd_); }
void CWindow::Enable(bool enable) { EnableWindow(hwnd_, enable ? TRUE : FALSE); }
HWND CWindow::GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }

void CWindow::SetDlgItemText(int id, const std::wstring& text) {
  ::SetDlgItemTextW(hwnd_, id, text.c_str());
}

std::wstring CWindow::GetDlgItemText(int id) const { return GetWindowText(GetDlgItem(id)); }

bool CWindow::SetTimer(UINT_PTR id, UINT elapseMs) {
  return ::SetTimer(hwnd_, id, elapseMs, nullptr) != 0;
}

void CWindow::KillTimer(UINT_PTR id) { ::KillTimer(hwnd_, id); }

bool CWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return hwnd_ && ::PostMessageW(hwnd_, message, wParam, lParam);
}

LRESULT CWindow::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return hwnd_ ? ::SendMessageW(hwnd_, message, wParam, lParam) : 0;
}

bool CWindow::MoveWindow(int x, int y, int width, int height, bool repaint) {
  return ::MoveWindow(hwnd_, x, y, width, height, repaint ? TRUE : FALSE);
}

bool CWindow::MoveWindow(const RECT& rect, bool repaint) {
  return MoveWindow(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, repaint);
}

bool CWindow::SetWindowPos(HWND insertAfter, int x, int y, int width, int height, UINT flags) {
  return ::SetWindowPos(hwnd_, insertAfter, x, y, width, height, flags);
}

RECT CWindow::GetClientRect() const {
  RECT rect = {};
  ::GetClientRect(hwnd_, &rect);
  return rect;
}

RECT CWindow::GetWindowRect() const {
  RECT rect = {};
  ::GetWindowRect(hwnd_, &rect);
  return rect;
}

void CWindow::SetFont(HFONT font, bool redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw ? TRUE : FALSE);
}

void CenterOverOwner(HWND window, int width, int height) {
  HWND owner = GetWindow(window, GW_OWNER);
  // The work area of the owner's monitor; without an owner, of the monitor the window is on.
  RECT work = {};
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromWindow(owner ? owner : window, MONITOR_DEFAULTTONEAREST),
                      &monitor)) {
    work = monitor.rcWork;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  }
  RECT area = work;
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &area);
  const auto middle = [](LONG low, LONG high, LONG size, LONG lowest, LONG highest) {
    const LONG wanted = low + (high - low - size) / 2;
    return std::max(lowest, std::min(wanted, highest - size));
  };
  SetWindowPos(window, nullptr, middle(area.left, area.right, width, work.left, work.right),
               middle(area.top, area.bottom, height, work.top, work.bottom), width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void MoveToEndOfTabOrder(HWND child) {
  SetWindowPos(child, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
