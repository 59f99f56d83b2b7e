#include "skin/skin_check_box_win.h"

#include <windowsx.h>

#include "skin/auto_buffer_dc_win.h"

bool CSkinCheckBox::Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text) {
  if (!CWindow::Create(0, L"BUTTON", text,
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_AUTOCHECKBOX,
                       rect, parent, id)) {
    return false;
  }
  TakeParentFont(parent);
  HWND button = Detach();
  return AttachCheckBox(button);
}

bool CSkinCheckBox::AttachCheckBox(HWND button) {
  const LRESULT initial = ::SendMessageW(button, BM_GETCHECK, 0, 0);
  if (!AttachButton(button)) return false;
  check_ = static_cast<int32_t>(initial);
  return true;
}

void CSkinCheckBox::Toggle() {
  check_ = check_ == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  InvalidateRect(hwnd(), nullptr, FALSE);
}

bool CSkinCheckBox::OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case BM_GETCHECK:
      result = check_;
      return true;
    case BM_SETCHECK:
      check_ = static_cast<int32_t>(wParam);
      InvalidateRect(hwnd(), nullptr, FALSE);
      result = 0;
      return true;
    case WM_LBUTTONUP: {
      // Toggled before the system's handling, which reports the click to the parent; the
      // parent then reads the new state.
      const POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const bool pressed = (::SendMessageW(hwnd(), BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
      if ((hovered() || pressed) && PtInRect(&clientRect(), at)) Toggle();
      return false;
    }
    case WM_KEYUP:
      if (wParam == VK_SPACE) Toggle();
      return false;
    default:
      return false;
  }
}

void CSkinCheckBox::DrawSkinItem(const DRAWITEMSTRUCT& item) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  std::string state;
  if (item.itemState & ODS_DISABLED) {
    state = "Disabled";
  } else if (item.itemState & ODS_SELECTED) {
    state = "Pushed";
  } else if (hovered()) {
    state = "Hovered";
  }
  const char* mark = check_ == BST_CHECKED         ? "Checked"
                     : check_ == BST_INDETERMINATE ? "Indeterminate"
                                                   : "Unchecked";
  const RECT& rc = item.rcItem;
  CAutoBufferDC dc(item.hDC, rc);
  PaintParentBackground(hwnd(), dc);
  const std::string base = SkinName(style(), mark);
  const SkinPart& box =
      registry.HasPart(base, state) ? registry.FindPart(base, state) : registry.FindPart(base);
  const int dpi = this->dpi();
  registry.DrawPart(box, dc, RECT{rc.left, rc.top, rc.left, rc.top}, dpi);

  SelectedObject font(dc, ResolveFont(state));
  SetBkMode(dc, TRANSPARENT);
  const COLORREF fallback =
      (item.itemState & ODS_DISABLED) ? GetSysColor(COLOR_GRAYTEXT) : GetTextColor(dc);
  SetTextColor(dc, static_cast<COLORREF>(ResolveInt("TextColor", state,
                                                    static_cast<int32_t>(fallback))));
  RECT textRect = rc;
  textRect.left += PartSizeForDpi(box, dpi).width + Scale(3);
  const std::wstring text = GetWindowText();
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
            DT_SINGLELINE | DT_TOP | DT_LEFT);
  RECT focus = textRect;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &focus,
            DT_SINGLELINE | DT_TOP | DT_LEFT | DT_CALCRECT);
  InflateRect(&focus, 1, 0);
  DrawSkinFocus(dc, item, focus);
}
