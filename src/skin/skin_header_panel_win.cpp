#include "skin/skin_header_panel_win.h"

HBRUSH CSkinHeaderPanel::PanelBrush() {
  return static_cast<HBRUSH>(CSkinRegistry::Instance().FindObject(
      "HeaderPanelBackgroundColorBrush", {}, GetStockObject(WHITE_BRUSH)));
}

void CSkinHeaderPanel::PaintBackground(HDC dc) {
  RECT client;
  ::GetClientRect(hwnd(), &client);
  FillRect(dc, &client, PanelBrush());
}

void CSkinHeaderPanel::Paint(HDC dc) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  RECT client;
  ::GetClientRect(hwnd(), &client);
  {
    SelectedObject pen(dc, registry.FindObject("HeaderPanelBorderPen"));
    SelectedObject brush(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, client.left, client.top, client.right, client.bottom);
  }
  const int dpi = this->dpi();
  const SkinPart& left = registry.FindPart("HeaderPanelTitleLeft");
  const SkinPart& right = registry.FindPart("HeaderPanelTitleRight");
  const SkinSize leftSize = PartSizeForDpi(left, dpi);
  const SkinSize rightSize = PartSizeForDpi(right, dpi);
  const int barHeight = left.IsEmpty() ? Scale(24) : leftSize.height;
  registry.DrawPart(left, dc, RECT{client.left, client.top, client.left, client.top}, dpi);
  registry.DrawPart(right, dc, RECT{client.right - rightSize.width, client.top,
                                    client.right - rightSize.width, client.top}, dpi);
  registry.DrawPart(registry.FindPart("HeaderPanelTitleMiddle"), dc,
                    RECT{client.left + leftSize.width, client.top, client.right - rightSize.width,
                         client.top + barHeight}, dpi);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, static_cast<COLORREF>(ResolveInt("TextColor", "", RGB(0, 0, 0))));
  const std::wstring title = GetWindowText();
  const RECT bar = {client.left, client.top, client.right, client.top + barHeight};
  const SkinPart& icon = ResolveIcon("");
  if (icon.IsEmpty()) {
    RECT textRect = bar;
    DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &textRect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    return;
  }
  registry.DrawTextWithPart(icon, dc, title, bar, kIconCenterWithText | kIconCenterVertical,
                            DT_LEFT | DT_NOPREFIX, dpi);
}

void CSkinHeaderPanel::PaintChildBackground(HWND child, HDC dc) {
  const RECT at = WindowRectInParent(child);
  const RECT area = {0, 0, at.right - at.left, at.bottom - at.top};
  FillRect(dc, &area, PanelBrush());
}

HBRUSH CSkinHeaderPanel::ChildColorBrush(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  return PanelBrush();
}
