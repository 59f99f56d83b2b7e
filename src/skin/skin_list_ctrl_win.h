// A report-view list drawn row by row (alternating row colours, check boxes and images from the
// skin), with a skinned header, skinned scroll bars and a sort state that header clicks drive.
#pragma once

#include <windows.h>

#include "framework/dpi_win.h"
#include "framework/window_win.h"
#include "skin/skin_control_win.h"
#include "skin/skin_scale.h"
#include "skin/skin_header_ctrl_win.h"
#include "skin/skin_scrollbar_win.h"

class CSkinListCtrl : public CWindow, public ISkinItemDrawer {
 public:
  static constexpr COLORREF kSelectedRow = RGB(133, 186, 220);
  static constexpr COLORREF kEvenRow = RGB(232, 239, 248);
  static constexpr COLORREF kOddRow = RGB(255, 255, 255);

  // `style` adds to an owner-drawn report view (LVS_SINGLESEL, LVS_SHOWSELALWAYS, ...).
  bool Create(HWND parent, const RECT& rect, UINT id, DWORD style = 0);

  void DrawSkinItem(const DRAWITEMSTRUCT& item) override;

  int sortColumn() const { return sortColumn_; }
  int sortDirection() const { return sortDirection_; }
  // The same column again reverses the order; another column sorts ascending.
  void SortColumn(int column);
  // Column 0, ascending.
  void ResetSort();
  bool Sort();
  void SyncScrollbars() { CSkinScrollbar::Sync(hwnd(), vertical_, horizontal_); }
  int dpi() const { return WindowDpi(hwnd()); }
  int Scale(int value) const { return ScaleForDpi(value, dpi()); }
  // Inserts a column whose width is given at 96 DPI.
  void InsertColumn(int index, const std::wstring& title, int width);

 protected:
  // Order of two rows by their item data under the current column and direction.
  virtual int Compare(LPARAM first, LPARAM second) {
    (void)first;
    (void)second;
    return 0;
  }
  virtual void AfterSort() {}

  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  static int CALLBACK CompareThunk(LPARAM first, LPARAM second, LPARAM self);

  CSkinHeaderCtrl header_;
  CSkinScrollbar vertical_{true};
  CSkinScrollbar horizontal_{false};
  int sortColumn_ = 0;
  int sortDirection_ = 1;
  int columnDpi_ = 0;  // the DPI the column widths are for
};

// Draws `text` centred in the rows area of an empty list view (below its header), in the list's
// own font; list views paint nothing there themselves.
void DrawEmptyListText(HWND list, const std::wstring& text, COLORREF color);
