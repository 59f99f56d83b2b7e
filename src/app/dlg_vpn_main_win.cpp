#include "app/dlg_vpn_main_win.h"

#include "app/vpn_app_win.h"
#include "config/text_table.h"
#include "resource.h"

namespace {

constexpr int kWidth = 327;
constexpr int kHeight = 464;

HWND CreateStatic(HWND parent, int id, const std::wstring& text, const RECT& r, DWORD align) {
  return CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | align, r.left,
                         r.top, r.right - r.left, r.bottom - r.top, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

bool CDlgVpnMain::OnInitDialog() {
  SetWindowText(kMainWindowCaption);
  RECT window = GetWindowRect();
  SetWindowPos(nullptr, window.left, window.top, kWidth, kHeight, SWP_NOZORDER | SWP_NOMOVE);

  HINSTANCE instance = GetModuleHandleW(nullptr);
  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_KAVRIN));
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

  // A font with no face name picks the system's default, which renders Chinese.
  font_.reset(CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, L""));
  HWND title = CreateStatic(hwnd(), 0xFFFF, kMainWindowCaption, {30, 40, 290, 80}, SS_CENTER);
  ::SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
  CreateStatic(hwnd(), 0xFFFF, GetText("VpnAppLoginTitle"), {30, 100, 290, 120}, SS_CENTER);
  CreateStatic(hwnd(), kStatusLineId, GetText("Ready"), {72, 377, 305, 392}, SS_LEFT);
  return true;
}

bool CDlgVpnMain::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != kShowMainWindowMessage) return false;
  ShowMainWindow();
  result = 1;
  return true;
}

void CDlgVpnMain::ShowMainWindow() {
  Show(SW_SHOW);
  SetForegroundWindow(hwnd());
  BringWindowToTop(hwnd());
}
