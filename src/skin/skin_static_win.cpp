#include "skin/skin_static_win.h"

#include "skin/auto_buffer_dc_win.h"

bool CSkinStatic::Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text) {
  if (!CWindow::Create(WS_EX_TRANSPARENT, L"STATIC", text,
                       WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX, rect, parent, id)) {
    return false;
  }
  ::SendMessageW(hwnd(), WM_SETFONT, ::SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
  return true;
}

bool CSkinStatic::AttachStatic(HWND label) {
  if (!Attach(label)) return false;
  const LONG_PTR style = GetWindowLongPtrW(label, GWL_STYLE);
  SetWindowLongPtrW(label, GWL_STYLE, (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | SS_OWNERDRAW);
  SetWindowLongPtrW(label, GWL_EXSTYLE, GetWindowLongPtrW(label, GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  InvalidateRect(label, nullptr, TRUE);
  return true;
}

bool CSkinStatic::OnSkinMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message == WM_SETTEXT) {
    // A changed text over a transparent label must not leave the old text behind.
    result = Default();
    InvalidateRect(hwnd(), nullptr, FALSE);
    return true;
  }
  return false;
}

void CSkinStatic::DrawSkinItem(const DRAWITEMSTRUCT& item) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  const std::string suffix = (item.itemState & ODS_DISABLED) ? "Disabled" : "";
  const RECT& rc = item.rcItem;
  CAutoBufferDC dc(item.hDC, rc);
  PaintParentBackground(hwnd(), dc);
  SelectedObject font(dc, ResolveFont(suffix));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, static_cast<COLORREF>(ResolveInt("TextColor", suffix,
                                                    static_cast<int32_t>(GetTextColor(dc)))));
  const UINT align = ResolveText("Align", suffix, L"") == L"Right" ? DT_RIGHT : DT_LEFT;
  const std::wstring text = GetWindowText();
  const SkinPart& icon = ResolveIcon(suffix);
  RECT textRect = rc;
  if (icon.IsEmpty()) {
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
              align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    return;
  }
  const int dpi = this->dpi();
  registry.DrawPart(icon, dc, RECT{rc.left, rc.top, rc.left, rc.top}, dpi);
  textRect.left += PartSizeForDpi(icon, dpi).width + Scale(4);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
            align | DT_WORDBREAK | DT_NOPREFIX);
}
