#include "skin/skin_tab_ctrl_win.h"

#include <windowsx.h>

void CSkinTabCtrl::OnFirstMessage() { tabHeight_ = TabHeightForDpi(dpi()); }

int CSkinTabCtrl::InsertTab(int index, const std::wstring& caption, const std::string& image,
                            HWND page) {
  tabHeight_ = TabHeightForDpi(dpi());
  if (index < 0 || index > count()) index = count();
  tabs_.insert(tabs_.begin() + index, Tab{caption, image, page, {}});
  if (selected_ >= index) ++selected_;
  if (page && index != selected_) ShowWindow(page, SW_HIDE);
  Layout();
  return index;
}

void CSkinTabCtrl::SelectTab(int index) {
  index = ClampTabIndex(index, count());
  if (index < 0) return;
  HWND oldPage = selected_ >= 0 ? tabs_[static_cast<size_t>(selected_)].page : nullptr;
  selected_ = index;
  HWND newPage = tabs_[static_cast<size_t>(index)].page;
  if (oldPage && oldPage != newPage) ShowWindow(oldPage, SW_HIDE);
  Layout();
  if (newPage) ShowWindow(newPage, SW_SHOW);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void CSkinTabCtrl::SetLeftWindow(HWND window) {
  left_ = window;
  Layout();
}

void CSkinTabCtrl::SetRightWindow(HWND window) {
  right_ = window;
  Layout();
}

RECT CSkinTabCtrl::PageRect() const {
  RECT client = GetClientRect();
  return {client.left + 1, tabHeight_, client.right - 1, client.bottom - 1};
}

void CSkinTabCtrl::Layout() {
  if (!hwnd()) return;
  const int dpi = this->dpi();
  tabHeight_ = TabHeightForDpi(dpi);
  const RECT client = GetClientRect();
  int firstLeft = 0;
  if (left_) {
    RECT r;
    ::GetWindowRect(left_, &r);
    ::SetWindowPos(left_, nullptr, 0, 0, r.right - r.left, tabHeight_ - 1,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    firstLeft = r.right - r.left;
  }
  if (right_) {
    RECT r;
    ::GetWindowRect(right_, &r);
    ::SetWindowPos(right_, nullptr, client.right - (r.right - r.left), 0, r.right - r.left,
                   tabHeight_ - 1, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  WindowDc screen(hwnd());
  SelectedObject font(screen.get(), reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0)));
  std::vector<int32_t> widths;
  for (const Tab& tab : tabs_) {
    SIZE extent = {};
    GetTextExtentPoint32W(screen.get(), tab.caption.c_str(), static_cast<int>(tab.caption.size()),
                          &extent);
    widths.push_back(extent.cx);
  }
  const std::vector<SkinRect> rects = LayoutTabs(widths, firstLeft, tabHeight_, dpi);
  for (size_t i = 0; i < tabs_.size(); ++i) tabs_[i].rect = rects[i];
  const RECT page = PageRect();
  for (const Tab& tab : tabs_) {
    if (tab.page) {
      ::SetWindowPos(tab.page, nullptr, page.left, page.top, page.right - page.left,
                     page.bottom - page.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void CSkinTabCtrl::Paint(HDC dc) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  const RECT client = GetClientRect();
  const int dpi = this->dpi();
  {
    UniquePen frame(CreatePen(PS_SOLID, 1, RGB(192, 192, 192)));
    SelectedObject pen(dc, frame.get());
    SelectedObject brush(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, client.left, tabHeight_ - 1, client.right, client.bottom);
  }
  SetBkMode(dc, TRANSPARENT);
  for (int i = 0; i < count(); ++i) {
    const Tab& tab = tabs_[static_cast<size_t>(i)];
    const bool active = i == selected_;
    const char* state = active ? "Active" : "Inactive";
    const SkinPart& left = registry.FindPart("TabButtonLeft", state);
    const SkinPart& right = registry.FindPart("TabButtonRight", state);
    const SkinRect& r = tab.rect;
    const int leftWidth = PartSizeForDpi(left, dpi).width;
    const int rightWidth = PartSizeForDpi(right, dpi).width;
    registry.DrawPart(left, dc, RECT{r.left, r.top, r.left + leftWidth, r.bottom}, dpi);
    registry.DrawPart(registry.FindPart("TabButtonMiddle", state), dc,
                      RECT{r.left + leftWidth, r.top, r.right - rightWidth, r.bottom}, dpi);
    registry.DrawPart(right, dc, RECT{r.right - rightWidth, r.top, r.right, r.bottom}, dpi);
    const int top = r.top + Scale(active ? 2 : 4);
    const int imageLeft = r.left + Scale(4);
    registry.DrawPart(registry.FindPart(tab.image), dc, RECT{imageLeft, top, imageLeft, top}, dpi);
    SetTextColor(dc, active ? RGB(6, 56, 157) : RGB(70, 84, 98));
    RECT caption = {r.left + Scale(18), top, r.right, r.bottom};
    DrawTextW(dc, tab.caption.c_str(), static_cast<int>(tab.caption.size()), &caption,
              DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
}

bool CSkinTabCtrl::OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return false;
    case WM_LBUTTONDOWN: {
      const POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      for (int i = 0; i < count(); ++i) {
        const SkinRect& r = tabs_[static_cast<size_t>(i)].rect;
        const RECT hit = {r.left, r.top, r.right, r.bottom};
        if (!PtInRect(&hit, at) || i == selected_) continue;
        SelectTab(i);
        const UINT id = static_cast<UINT>(GetDlgCtrlID(hwnd()));
        ::SendMessageW(GetParent(hwnd()), WM_COMMAND, MAKEWPARAM(id, 0),
                       reinterpret_cast<LPARAM>(hwnd()));
        break;
      }
      result = 0;
      return true;
    }
    default:
      return CSkinWnd::OnSkinMessage(message, wParam, lParam, result);
  }
}
