// A radio button that keeps the system's grouping and check handling but paints itself from
// style + "Checked"/"Unchecked" + state, over white.
#pragma once

#include "skin/skin_button_win.h"

class CSkinRadioBox : public CSkinButton {
 public:
  CSkinRadioBox() : CSkinButton("RadioBox") {}

  bool Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text,
              bool firstOfGroup = false);
  void DrawSkinItem(const DRAWITEMSTRUCT& item) override;

 protected:
  bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void PaintNow(HDC dc);
};
