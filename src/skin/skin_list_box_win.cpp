#include "skin/skin_list_box_win.h"

bool CSkinListBox::Create(HWND parent, const RECT& rect, UINT id, DWORD style) {
  if (!CWindow::Create(0, L"LISTBOX", L"",
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY |
                           LBS_NOINTEGRALHEIGHT | style,
                       rect, parent, id)) {
    return false;
  }
  const std::wstring font = ResolveText("Font", "", L"DefaultFont");
  ::SendMessageW(hwnd(), WM_SETFONT,
                 reinterpret_cast<WPARAM>(CSkinRegistry::Instance().FindFont(
                     std::string(font.begin(), font.end()), {}, nullptr, dpi())),
                 FALSE);
  ::SendMessageW(hwnd(), LB_SETITEMHEIGHT, 0, Scale(kItemHeight));
  SyncScrollbars();
  return true;
}

bool CSkinListBox::OnSkinMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  switch (message) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING:
    case LB_DELETESTRING:
    case LB_RESETCONTENT:
    case LB_SETTOPINDEX:
    case LB_SETCURSEL:
    case WM_WINDOWPOSCHANGED:
    case WM_SIZE:
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
      result = Default();
      SyncScrollbars();
      return true;
    case WM_SETFONT:
      // A new font comes with a new DPI; the rows follow it.
      result = Default();
      ::SendMessageW(hwnd(), LB_SETITEMHEIGHT, 0, Scale(kItemHeight));
      SyncScrollbars();
      return true;
    case WM_MOUSEMOVE:
      if (!(wParam & MK_LBUTTON)) return false;
      result = Default();
      SyncScrollbars();
      return true;
    default:
      return false;
  }
}
