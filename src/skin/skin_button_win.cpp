#include "skin/skin_button_win.h"

#include "skin/auto_buffer_dc_win.h"
#include "skin/skin_geometry.h"

void CSkinButton::ChooseDefaultStyle(UINT id) {
  if (style().empty()) SetStyle(id == IDCANCEL ? "CancelButton" : "Button");
}

void CSkinButton::TakeParentFont(HWND parent) {
  ::SendMessageW(hwnd(), WM_SETFONT, ::SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
}

bool CSkinButton::Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text) {
  ChooseDefaultStyle(id);
  if (!CWindow::Create(0, L"BUTTON", text,
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN |
                           BS_OWNERDRAW,
                       rect, parent, id)) {
    return false;
  }
  SetWindowLongPtrW(hwnd(), GWL_EXSTYLE, GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  TakeParentFont(parent);
  return true;
}

bool CSkinButton::AttachButton(HWND button) {
  if (!Attach(button)) return false;
  ChooseDefaultStyle(static_cast<UINT>(GetDlgCtrlID(button)));
  const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
  SetWindowLongPtrW(button, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
  SetWindowLongPtrW(button, GWL_EXSTYLE, GetWindowLongPtrW(button, GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  InvalidateRect(button, nullptr, TRUE);
  return true;
}

std::string CSkinButton::StateSuffix(const DRAWITEMSTRUCT& item) const {
  if (item.itemState & ODS_DISABLED) return "Disabled";
  if (item.itemState & ODS_SELECTED) return "Pushed";
  if (hovered()) return "Hovered";
  return {};
}

void CSkinButton::DrawSkinItem(const DRAWITEMSTRUCT& item) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  const std::string suffix = StateSuffix(item);
  const bool pushed = suffix == "Pushed";
  const RECT& rc = item.rcItem;
  CAutoBufferDC dc(item.hDC, rc);
  PaintParentBackground(hwnd(), dc);
  SetROP2(dc, R2_COPYPEN);
  const int dpi = this->dpi();
  registry.DrawPart(style(), suffix, dc, rc, dpi);

  SelectedObject font(dc, ResolveFont(suffix));
  SetBkMode(dc, TRANSPARENT);
  const std::wstring text = GetWindowText();

  std::optional<SkinSize> iconSize;
  const SkinPart& icon = ResolveIcon(suffix);
  if (!icon.IsEmpty()) iconSize = PartSizeForDpi(icon, dpi);
  SIZE extent = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  const ButtonContentLayout layout =
      LayoutButtonContent({rc.left, rc.top, rc.right, rc.bottom}, iconSize, extent.cx, pushed,
                          dpi);
  if (layout.icon) {
    const RECT at = {layout.icon->left, layout.icon->top, layout.icon->right, layout.icon->bottom};
    registry.DrawPart(icon, dc, at, dpi);
  }

  const COLORREF fallback = (item.itemState & ODS_DISABLED) && registry.FindPart(style()).IsEmpty()
                                ? GetSysColor(COLOR_GRAYTEXT)
                                : GetTextColor(dc);
  SetTextColor(dc, static_cast<COLORREF>(ResolveInt("TextColor", suffix,
                                                    static_cast<int32_t>(fallback))));
  UINT format = DT_SINGLELINE;
  if (!layout.icon) format |= ResolveText("Align", suffix, L"Center") == L"Center" ? DT_CENTER : DT_LEFT;
  RECT textRect = {layout.text.left, layout.text.top, layout.text.right, layout.text.bottom};
  if (ResolveText("VAlign", suffix, L"") == L"Bottom") {
    format |= DT_BOTTOM;
    InflateRect(&textRect, -Scale(2), -Scale(2));
  } else {
    format |= DT_VCENTER;
  }
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect, format);
  // Inside the face of a full-size button; round a small link button, which has no face.
  const int inset = rc.bottom - rc.top >= Scale(24) ? Scale(4) : 0;
  DrawSkinFocus(dc, item, RECT{rc.left + inset, rc.top + inset, rc.right - inset, rc.bottom - inset});
}
