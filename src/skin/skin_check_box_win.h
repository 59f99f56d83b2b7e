// A check box that keeps its own check state: it is owner-drawn, so the system keeps none.
// Drawn from style + "Checked"/"Unchecked"/"Indeterminate" + state at the top-left, with the
// text beside it.
#pragma once

#include "skin/skin_button_win.h"

class CSkinCheckBox : public CSkinButton {
 public:
  CSkinCheckBox() : CSkinButton("CheckBox") {}

  bool Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text);
  // Takes the button's current check state with it.
  bool AttachCheckBox(HWND button);

  int32_t check() const { return check_; }
  void DrawSkinItem(const DRAWITEMSTRUCT& item) override;

 protected:
  bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Toggle();

  int32_t check_ = BST_UNCHECKED;
};
