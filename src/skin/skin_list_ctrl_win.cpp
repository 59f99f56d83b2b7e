#include "skin/skin_list_ctrl_win.h"

#include <commctrl.h>

#include <vector>

#include "skin/skin_registry_win.h"

bool CSkinListCtrl::Create(HWND parent, const RECT& rect, UINT id, DWORD style) {
  if (!CWindow::Create(0, WC_LISTVIEWW, L"",
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT |
                           LVS_OWNERDRAWFIXED | style,
                       rect, parent, id)) {
    return false;
  }
  columnDpi_ = dpi();
  ::SendMessageW(hwnd(), WM_SETFONT, ::SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
  if (HWND header = reinterpret_cast<HWND>(::SendMessageW(hwnd(), LVM_GETHEADER, 0, 0))) {
    header_.Attach(header);
  }
  SyncScrollbars();
  return true;
}

void CSkinListCtrl::DrawSkinItem(const DRAWITEMSTRUCT& item) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  HDC dc = item.hDC;
  const int row = static_cast<int>(item.itemID);
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const COLORREF background = selected ? kSelectedRow : (row % 2 == 0 ? kEvenRow : kOddRow);
  UniqueBrush fill(CreateSolidBrush(background));
  UniquePen line(CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  RECT client = GetClientRect();

  HWND header = reinterpret_cast<HWND>(::SendMessageW(hwnd(), LVM_GETHEADER, 0, 0));
  const int columns = header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  std::vector<int> order(static_cast<size_t>(columns > 0 ? columns : 1));
  for (int i = 0; i < static_cast<int>(order.size()); ++i) order[static_cast<size_t>(i)] = i;
  if (columns > 0) {
    ::SendMessageW(hwnd(), LVM_GETCOLUMNORDERARRAY, columns, reinterpret_cast<LPARAM>(order.data()));
  }
  const bool checkboxes =
      (::SendMessageW(hwnd(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES) != 0;
  HIMAGELIST images =
      reinterpret_cast<HIMAGELIST>(::SendMessageW(hwnd(), LVM_GETIMAGELIST, LVSIL_SMALL, 0));

  const int dpi = this->dpi();
  int x = item.rcItem.left;
  for (size_t n = 0; n < order.size(); ++n) {
    const int column = order[n];
    const int width = static_cast<int>(::SendMessageW(hwnd(), LVM_GETCOLUMNWIDTH, column, 0));
    RECT cell = {x, item.rcItem.top, x + width, item.rcItem.bottom};
    x += width;
    if (n + 1 == order.size() && cell.right < client.right) cell.right = client.right;
    FillRect(dc, &cell, fill.get());
    {
      SelectedObject pen(dc, line.get());
      MoveToEx(dc, cell.right - 1, cell.top, nullptr);
      LineTo(dc, cell.right - 1, cell.bottom);
    }
    RECT textRect = {cell.left + Scale(4), cell.top, cell.right - Scale(4), cell.bottom};
    if (column == 0 && checkboxes) {
      const UINT state = static_cast<UINT>(
          ::SendMessageW(hwnd(), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
      const bool checked = ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
      const SkinPart& box = registry.FindPart("CheckBox", checked ? "Checked" : "Unchecked");
      // A 16-pixel slot 2 pixels in, the text 2 pixels after it.
      registry.DrawPart(box, dc, kSkinCenterHorizontal | kSkinCenterVertical,
                        RECT{cell.left + Scale(2), cell.top, cell.left + Scale(18), cell.bottom},
                        dpi);
      textRect.left = cell.left + Scale(20);
    }
    if (column == 0 && images && ImageList_GetImageCount(images) > 1) {
      LVITEMW query = {};
      query.mask = LVIF_IMAGE;
      query.iItem = row;
      ::SendMessageW(hwnd(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query));
      int cx = 0, cy = 0;
      ImageList_GetIconSize(images, &cx, &cy);
      ImageList_Draw(images, query.iImage, dc, textRect.left,
                     cell.top + ((cell.bottom - cell.top) - cy) / 2, ILD_TRANSPARENT);
      textRect.left += cx + Scale(3);
    }
    wchar_t text[260] = {};
    LVITEMW get = {};
    get.iSubItem = column;
    get.pszText = text;
    get.cchTextMax = 259;
    ::SendMessageW(hwnd(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&get));
    DrawTextW(dc, text, -1, &textRect,
              DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  if (GetFocus() == hwnd()) {
    RECT rowRect = item.rcItem;
    if (rowRect.right < client.right) rowRect.right = client.right;
    DrawSkinFocus(dc, item, rowRect);
  }
}

void CSkinListCtrl::InsertColumn(int index, const std::wstring& title, int width) {
  std::wstring text = title;
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = text.data();
  column.cx = ScaleForDpi(width, columnDpi_ > 0 ? columnDpi_ : dpi());
  ::SendMessageW(hwnd(), LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

int CALLBACK CSkinListCtrl::CompareThunk(LPARAM first, LPARAM second, LPARAM self) {
  return reinterpret_cast<CSkinListCtrl*>(self)->Compare(first, second);
}

bool CSkinListCtrl::Sort() {
  if (!::SendMessageW(hwnd(), LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                      reinterpret_cast<LPARAM>(&CompareThunk))) {
    return false;
  }
  AfterSort();
  return true;
}

void CSkinListCtrl::SortColumn(int column) {
  if (column == sortColumn_) {
    sortDirection_ = -sortDirection_;
  } else {
    sortColumn_ = column;
    sortDirection_ = 1;
  }
  Sort();
}

void CSkinListCtrl::ResetSort() {
  sortColumn_ = 0;
  sortDirection_ = 1;
  Sort();
}

bool CSkinListCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHEADERW*>(lParam);
      if (header->hdr.hwndFrom == header_.hwnd() &&
          (header->hdr.code == HDN_ITEMCLICKW || header->hdr.code == HDN_ITEMCLICKA)) {
        SortColumn(header->iItem);
      }
      if (header->hdr.hwndFrom == header_.hwnd() &&
          (header->hdr.code == HDN_ENDTRACKW || header->hdr.code == HDN_ITEMCHANGEDW)) {
        result = Default();
        SyncScrollbars();
        InvalidateRect(hwnd(), nullptr, FALSE);
        return true;
      }
      return false;
    }
    case WM_SETFOCUS: {
      result = Default();
      // Reached by the keyboard: the row the arrow keys start from shows where the focus is.
      const LRESULT rows = ::SendMessageW(hwnd(), LVM_GETITEMCOUNT, 0, 0);
      if (rows > 0 && ::SendMessageW(hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                     LVNI_FOCUSED) < 0) {
        LVITEMW state = {};
        state.stateMask = LVIS_FOCUSED;
        state.state = LVIS_FOCUSED;
        ::SendMessageW(hwnd(), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
      }
      InvalidateRect(hwnd(), nullptr, FALSE);
      return true;
    }
    case WM_KILLFOCUS:
      InvalidateRect(hwnd(), nullptr, FALSE);
      return false;
    case WM_SETFONT: {
      // A new font comes with a new DPI: the columns keep their share of the list.
      result = Default();
      const int dpi = this->dpi();
      if (columnDpi_ > 0 && dpi != columnDpi_) {
        HWND header = header_.hwnd();
        const int columns =
            header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
        for (int c = 0; c < columns; ++c) {
          const int width = static_cast<int>(::SendMessageW(hwnd(), LVM_GETCOLUMNWIDTH, c, 0));
          ::SendMessageW(hwnd(), LVM_SETCOLUMNWIDTH, c, MulDiv(width, dpi, columnDpi_));
        }
      }
      columnDpi_ = dpi;
      SyncScrollbars();
      return true;
    }
    case WM_STYLECHANGED:
    case WM_WINDOWPOSCHANGED:
    case WM_SIZE:
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
    case LVM_INSERTITEMW:
    case LVM_DELETEITEM:
    case LVM_DELETEALLITEMS:
    case LVM_INSERTCOLUMNW:
    case LVM_SETCOLUMNWIDTH:
    case LVM_ENSUREVISIBLE:
      result = Default();
      SyncScrollbars();
      return true;
    default:
      return false;
  }
}

void DrawEmptyListText(HWND list, const std::wstring& text, COLORREF color) {
  RECT area = {};
  ::GetClientRect(list, &area);
  if (HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0))) {
    RECT headerRect;
    ::GetWindowRect(header, &headerRect);
    area.top += headerRect.bottom - headerRect.top;
  }
  WindowDc dc(list);
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0));
  SelectedObject useFont(dc.get(), font);
  SetBkMode(dc.get(), TRANSPARENT);
  SetTextColor(dc.get(), color);
  DrawTextW(dc.get(), text.c_str(), -1, &area,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}
