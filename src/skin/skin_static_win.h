// A text label drawn over its parent's background: "Align" ("Right" or left), "TextColor", the
// style's font, and with an "Icon" the picture at the top-left and wrapped text beside it.
#pragma once

#include <string>

#include "skin/skin_control_win.h"

class CSkinStatic : public CSkinControl<CWindow>, public ISkinItemDrawer {
 public:
  CSkinStatic() : CSkinControl("Static") {}

  bool Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text);
  bool AttachStatic(HWND label);
  void DrawSkinItem(const DRAWITEMSTRUCT& item) override;

 protected:
  bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};
