#include "skin/skin_radio_box_win.h"

#include "skin/auto_buffer_dc_win.h"

bool CSkinRadioBox::Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text,
                           bool firstOfGroup) {
  const DWORD group = firstOfGroup ? WS_GROUP : 0;
  if (!CWindow::Create(0, L"BUTTON", text,
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_AUTORADIOBUTTON |
                           group,
                       rect, parent, id)) {
    return false;
  }
  const std::wstring fontName = ResolveText("Font", "", L"DefaultFont");
  HFONT font = CSkinRegistry::Instance().FindFont(std::string(fontName.begin(), fontName.end()),
                                                  {}, nullptr, dpi());
  ::SendMessageW(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return true;
}

void CSkinRadioBox::PaintNow(HDC dc) {
  DRAWITEMSTRUCT item = {};
  item.CtlType = ODT_BUTTON;
  item.hwndItem = hwnd();
  item.hDC = dc;
  ::GetClientRect(hwnd(), &item.rcItem);
  const LRESULT state = ::SendMessageW(hwnd(), BM_GETSTATE, 0, 0);
  if (::SendMessageW(hwnd(), BM_GETCHECK, 0, 0) == BST_CHECKED) item.itemState |= ODS_CHECKED;
  if (state & BST_PUSHED) item.itemState |= ODS_SELECTED;
  if (!IsWindowEnabled(hwnd())) item.itemState |= ODS_DISABLED;
  if (GetFocus() == hwnd()) item.itemState |= ODS_FOCUS;
  // This box ignores the keyboard-cue updates itself; its parent follows them.
  if (::SendMessageW(GetParent(hwnd()), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) {
    item.itemState |= ODS_NOFOCUSRECT;
  }
  DrawSkinItem(item);
}

bool CSkinRadioBox::OnSkinMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd(), &paint);
      PaintNow(dc);
      EndPaint(hwnd(), &paint);
      result = 0;
      return true;
    }
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_UPDATEUISTATE:
      result = 0;
      return true;
    case BM_SETCHECK:
    case BM_SETSTATE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT: {
      // The system paints these changes itself, straight to the screen; ours follows at once.
      result = Default();
      RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      return true;
    }
    default:
      return false;
  }
}

void CSkinRadioBox::DrawSkinItem(const DRAWITEMSTRUCT& item) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  std::string state;
  if (item.itemState & ODS_DISABLED) {
    state = "Disabled";
  } else if (item.itemState & ODS_SELECTED) {
    state = "Pushed";
  } else if (hovered()) {
    state = "Hovered";
  }
  const RECT& rc = item.rcItem;
  CAutoBufferDC dc(item.hDC, rc);
  FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const std::string base = SkinName(style(), (item.itemState & ODS_CHECKED) ? "Checked" : "Unchecked");
  const SkinPart& box =
      registry.HasPart(base, state) ? registry.FindPart(base, state) : registry.FindPart(base);
  const int dpi = this->dpi();
  const SkinSize boxSize = PartSizeForDpi(box, dpi);
  const int boxTop = rc.top + ((rc.bottom - rc.top) - boxSize.height) / 2;
  registry.DrawPart(box, dc, RECT{rc.left, boxTop, rc.left, boxTop}, dpi);

  SelectedObject font(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);
  const COLORREF fallback =
      (item.itemState & ODS_DISABLED) ? GetSysColor(COLOR_GRAYTEXT) : RGB(0, 0, 0);
  SetTextColor(dc, static_cast<COLORREF>(ResolveInt("TextColor", state,
                                                    static_cast<int32_t>(fallback))));
  RECT textRect = rc;
  textRect.left += boxSize.width + Scale(3);
  const std::wstring text = GetWindowText();
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
            DT_SINGLELINE | DT_VCENTER | DT_LEFT);
  SIZE extent = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  const int middle = (textRect.top + textRect.bottom) / 2;
  DrawSkinFocus(dc, item,
                RECT{textRect.left - 1, middle - extent.cy / 2 - 1, textRect.left + extent.cx + 1,
                     middle + (extent.cy + 1) / 2 + 1});
}
