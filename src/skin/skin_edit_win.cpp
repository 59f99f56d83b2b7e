#include "skin/skin_edit_win.h"

bool CSkinEdit::Create(HWND parent, const RECT& rect, UINT id, DWORD style) {
  if (!CWindow::Create(0, L"EDIT", L"",
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | style, rect, parent,
                       id)) {
    return false;
  }
  ::SendMessageW(hwnd(), WM_SETFONT, ::SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
  return true;
}
