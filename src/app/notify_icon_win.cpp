#include "app/notify_icon_win.h"

#include <cwchar>

namespace {

HICON LoadSmallIcon(UINT resource) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource),
                                       IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                       GetSystemMetrics(SM_CYSMICON), LR_SHARED));
}

void CopyText(wchar_t* target, size_t capacity, const std::wstring& text) {
  wcsncpy(target, text.c_str(), capacity - 1);
  target[capacity - 1] = L'\0';
}

}  // namespace

bool NotifyAreaIcon::Add(HWND owner, UINT callbackMessage, UINT iconResource,
                         const std::wstring& tip) {
  Remove();
  data_ = {};
  data_.cbSize = sizeof(data_);
  data_.hWnd = owner;
  data_.uID = kIconId;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = callbackMessage;
  data_.hIcon = LoadSmallIcon(iconResource);
  CopyText(data_.szTip, sizeof(data_.szTip) / sizeof(wchar_t), tip);
  added_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
  iconResource_ = iconResource;
  return added_;
}

void NotifyAreaIcon::Remove() {
  if (!added_) return;
  data_.uFlags = 0;
  Shell_NotifyIconW(NIM_DELETE, &data_);
  added_ = false;
}

void NotifyAreaIcon::SetIcon(uint32_t iconId) {
  // The watch sets the same picture every second; the shell need not hear of it each time.
  if (!added_ || iconId == iconResource_) return;
  iconResource_ = iconId;
  data_.uFlags = NIF_ICON;
  data_.hIcon = LoadSmallIcon(iconId);
  Shell_NotifyIconW(NIM_MODIFY, &data_);
}

void NotifyAreaIcon::ShowBalloon(const std::wstring& text) {
  if (!added_) return;
  data_.uFlags = NIF_INFO;
  CopyText(data_.szInfo, sizeof(data_.szInfo) / sizeof(wchar_t), text);
  CopyText(data_.szInfoTitle, sizeof(data_.szInfoTitle) / sizeof(wchar_t), data_.szTip);
  data_.dwInfoFlags = NIIF_INFO;
  data_.uTimeout = 10000;
  Shell_NotifyIconW(NIM_MODIFY, &data_);
  data_.szInfo[0] = L'\0';
}

bool NotifyAreaIcon::ShowMenu(UINT menuId) {
  if (!added_) return false;
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
  if (!menu) return false;
  HMENU popup = GetSubMenu(menu, 0);
  POINT cursor = {};
  GetCursorPos(&cursor);
  // Without the owner in front the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(data_.hWnd);
  SetMenuDefaultItem(popup, 0, TRUE);
  TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, data_.hWnd, nullptr);
  PostMessageW(data_.hWnd, WM_NULL, 0, 0);
  DestroyMenu(menu);
  return true;
}
