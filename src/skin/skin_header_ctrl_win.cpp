#include "skin/skin_header_ctrl_win.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/dpi_win.h"
#include "skin/auto_buffer_dc_win.h"
#include "skin/skin_registry_win.h"

bool CSkinHeaderCtrl::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message == WM_ERASEBKGND) {
    result = 1;
    return true;
  }
  if (message != WM_PAINT) return false;
  PAINTSTRUCT paint;
  HDC target = BeginPaint(hwnd(), &paint);
  {
    CAutoBufferDC dc(target, GetClientRect());
    Paint(dc);
  }
  EndPaint(hwnd(), &paint);
  result = 0;
  return true;
}

void CSkinHeaderCtrl::Paint(HDC dc) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  const SkinPart& left = registry.FindPart("HeaderCtrlColumnLeft");
  const SkinPart& middle = registry.FindPart("HeaderCtrlColumnMiddle");
  const SkinPart& right = registry.FindPart("HeaderCtrlColumnRight");
  const RECT client = GetClientRect();
  const int dpi = WindowDpi(hwnd());
  const int leftWidth = PartSizeForDpi(left, dpi).width;
  const int rightWidth = PartSizeForDpi(right, dpi).width;
  auto column = [&](const RECT& r) {
    registry.DrawPart(left, dc, RECT{r.left, r.top, r.left + leftWidth, r.bottom}, dpi);
    registry.DrawPart(middle, dc, RECT{r.left + leftWidth, r.top, r.right - rightWidth, r.bottom},
                      dpi);
    registry.DrawPart(right, dc, RECT{r.right - rightWidth, r.top, r.right, r.bottom}, dpi);
  };
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  HFONT current = reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0));
  SelectedObject font(dc, registry.FindFont("HeaderCtrlFont", {}, current, dpi));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(40, 52, 64));
  const int count = static_cast<int>(::SendMessageW(hwnd(), HDM_GETITEMCOUNT, 0, 0));
  int end = client.left;
  for (int i = 0; i < count; ++i) {
    RECT r = {};
    if (!::SendMessageW(hwnd(), HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r))) continue;
    column(r);
    wchar_t text[128] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_FORMAT;
    item.pszText = text;
    item.cchTextMax = 127;
    ::SendMessageW(hwnd(), HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    const int inset = ScaleForDpi(6, dpi);
    RECT textRect = {r.left + inset, r.top, r.right - inset, r.bottom};
    const UINT align = (item.fmt & HDF_RIGHT) ? DT_RIGHT : (item.fmt & HDF_CENTER) ? DT_CENTER : DT_LEFT;
    DrawTextW(dc, text, -1, &textRect,
              align | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    end = std::max<int>(end, r.right);
  }
  if (end < client.right) column(RECT{end, client.top, client.right + rightWidth, client.bottom});
}
