#include "policy/vpn_server_list_ctrl_win.h"

#include <commctrl.h>

#include "config/text_table.h"
#include "policy/speed_cell.h"
#include "skin/skin_registry_win.h"

int CVpnServerListCtrl::Compare(LPARAM first, LPARAM second) {
  if (!compare_) return 0;
  return compare_(static_cast<int32_t>(first), static_cast<int32_t>(second), sortColumn()) *
         sortDirection();
}

void CVpnServerListCtrl::AfterSort() {
  if (afterSort_) afterSort_();
}

void CVpnServerListCtrl::DrawSkinItem(const DRAWITEMSTRUCT& item) {
  CSkinListCtrl::DrawSkinItem(item);
  DrawSpeedCell(item);
}

// Drawn over the plain cell the base list drew: the same background, then picture and text.
void CVpnServerListCtrl::DrawSpeedCell(const DRAWITEMSTRUCT& item) {
  const int row = static_cast<int>(item.itemID);
  RECT cell = {};
  cell.top = kSpeedColumn;
  cell.left = LVIR_BOUNDS;
  if (!::SendMessageW(hwnd(), LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell))) return;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const COLORREF background = selected ? kSelectedRow : (row % 2 == 0 ? kEvenRow : kOddRow);
  RECT fillRect = {cell.left, cell.top, cell.right - 1, cell.bottom};
  UniqueBrush fill(CreateSolidBrush(background));
  FillRect(item.hDC, &fillRect, fill.get());

  wchar_t text[128] = {};
  LVITEMW get = {};
  get.iSubItem = kSpeedColumn;
  get.pszText = text;
  get.cchTextMax = 127;
  ::SendMessageW(hwnd(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&get));
  const SpeedCellLook look = LookOfSpeedCell(text);

  cell.left += 1;
  cell.right -= 2;
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  int textLeft = cell.left;
  if (!look.image.empty()) {
    const SkinPart& part = registry.FindPart(look.image);
    if (!part.IsEmpty()) {
      const int dpi = this->dpi();
      const SkinSize size = PartSizeForDpi(part, dpi);
      const int top = cell.top + ((cell.bottom - cell.top) - size.height) / 2;
      registry.DrawPart(part, item.hDC,
                        RECT{cell.left, top, cell.left + size.width, top + size.height}, dpi);
      textLeft = cell.left + size.width + Scale(4);
    }
  }
  RECT textRect = {textLeft, cell.top, cell.right, cell.bottom};
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, RGB(0, 0, 0));
  DrawTextW(item.hDC, text, -1, &textRect,
            (look.alignRight ? DT_RIGHT : DT_LEFT) | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX |
                DT_END_ELLIPSIS);
}

void CVpnServerListCtrl::DrawEmptyNotice() {
  DrawEmptyListText(hwnd(), GetText("VpnServersInMaintenance"), kNoticeColor);
}

bool CVpnServerListCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == WM_PAINT && ::SendMessageW(hwnd(), LVM_GETITEMCOUNT, 0, 0) == 0) {
    result = Default();
    DrawEmptyNotice();
    return true;
  }
  return CSkinListCtrl::OnMessage(message, wParam, lParam, result);
}
