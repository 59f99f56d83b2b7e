#include "skin/skin_control_win.h"

bool ReflectSkinDrawItem(LPARAM drawItem) {
  const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(drawItem);
  if (!item) return false;
  auto* drawer = dynamic_cast<ISkinItemDrawer*>(CWindow::FromHandle(item->hwndItem));
  if (!drawer) return false;
  drawer->DrawSkinItem(*item);
  return true;
}

RECT WindowRectInParent(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void PaintParentBackground(HWND control, HDC dc) {
  HWND parent = GetParent(control);
  if (!parent) return;
  if (::SendMessageW(parent, kSkinPaintBackgroundMessage, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(control))) {
    return;
  }
  // The parent paints its whole client area from its own origin; shifting ours makes the part
  // under the control land where the control is.
  const RECT rect = WindowRectInParent(control);
  POINT previous = {};
  OffsetViewportOrgEx(dc, -rect.left, -rect.top, &previous);
  ::SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
}

void DrawSkinFocus(HDC dc, const DRAWITEMSTRUCT& item, const RECT& around) {
  if (!(item.itemState & ODS_FOCUS) || (item.itemState & ODS_NOFOCUSRECT)) return;
  const COLORREF text = SetTextColor(dc, RGB(0, 0, 0));
  const COLORREF back = SetBkColor(dc, RGB(255, 255, 255));
  DrawFocusRect(dc, &around);
  SetTextColor(dc, text);
  SetBkColor(dc, back);
}
