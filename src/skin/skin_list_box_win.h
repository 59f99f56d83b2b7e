// A list box with 20-pixel rows (at 96 DPI) whose system scroll bars are replaced by skinned ones.
#pragma once

#include "skin/skin_control_win.h"
#include "skin/skin_scrollbar_win.h"

class CSkinListBox : public CSkinControl<CWindow> {
 public:
  static constexpr int kItemHeight = 20;

  CSkinListBox() = default;

  // `style` adds to a notifying child list box with a vertical scroll bar.
  bool Create(HWND parent, const RECT& rect, UINT id, DWORD style = 0);
  void SyncScrollbars() { CSkinScrollbar::Sync(hwnd(), vertical_, horizontal_); }

 protected:
  bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  CSkinScrollbar vertical_{true};
  CSkinScrollbar horizontal_{false};
};
