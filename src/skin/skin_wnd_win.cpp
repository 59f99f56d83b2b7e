#include "skin/skin_wnd_win.h"

#include "skin/auto_buffer_dc_win.h"

bool CSkinWnd::Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text,
                      DWORD style) {
  // A container: the dialog's keyboard navigation goes on into its children.
  if (!CWindow::Create(WS_EX_CONTROLPARENT, nullptr, text, style, rect, parent, id)) return false;
  ::SendMessageW(hwnd(), WM_SETFONT, ::SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
  return true;
}

void CSkinWnd::PaintBackground(HDC dc) { PaintParentBackground(hwnd(), dc); }

void CSkinWnd::PaintChildBackground(HWND child, HDC dc) {
  const RECT at = WindowRectInParent(child);
  POINT previous = {};
  OffsetViewportOrgEx(dc, -at.left, -at.top, &previous);
  PaintBackground(dc);
  SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
}

bool CSkinWnd::OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC target = BeginPaint(hwnd(), &paint);
      RECT client;
      ::GetClientRect(hwnd(), &client);
      {
        CAutoBufferDC dc(target, client);
        SelectedObject font(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0)));
        PaintBackground(dc);
        Paint(dc);
      }
      EndPaint(hwnd(), &paint);
      result = 0;
      return true;
    }
    // The window class behind these windows keeps no font, so the window does.
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(hwnd(), nullptr, FALSE);
      result = 0;
      return true;
    case WM_GETFONT:
      result = reinterpret_cast<LRESULT>(font_);
      return true;
    case WM_DRAWITEM:
      if (!ReflectSkinDrawItem(lParam)) return false;
      result = TRUE;
      return true;
    case kSkinPaintBackgroundMessage:
      PaintChildBackground(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
      result = 1;
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      if (HBRUSH brush = ChildColorBrush(reinterpret_cast<HDC>(wParam))) {
        result = reinterpret_cast<LRESULT>(brush);
        return true;
      }
      return false;
    case WM_COMMAND:
    case WM_NOTIFY:
      // Children of a container report to the dialog that owns the container.
      result = ::SendMessageW(GetParent(hwnd()), message, wParam, lParam);
      return true;
    default:
      return false;
  }
}
