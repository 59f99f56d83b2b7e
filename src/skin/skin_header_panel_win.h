// A framed group with a title bar ("HeaderPanelTitle" parts) and an optional title icon; its
// children are drawn over the panel's own background brush.
#pragma once

#include "skin/skin_wnd_win.h"

class CSkinHeaderPanel : public CSkinWnd {
 public:
  CSkinHeaderPanel() : CSkinWnd("HeaderPanel") {}

 protected:
  void PaintBackground(HDC dc) override;
  void Paint(HDC dc) override;
  void PaintChildBackground(HWND child, HDC dc) override;
  HBRUSH ChildColorBrush(HDC dc) override;

 private:
  static HBRUSH PanelBrush();
};
