#include "skin/skin_scrollbar_win.h"

#include <commctrl.h>
#include <windowsx.h>

namespace {

constexpr UINT_PTR kRepeatTimer = 1;
constexpr UINT kFirstRepeatMs = 350;
constexpr UINT kRepeatMs = 60;

RECT ToRect(const SkinRect& r) { return {r.left, r.top, r.right, r.bottom}; }

bool SystemBar(HWND owner, bool vertical, RECT& screenRect) {
  SCROLLBARINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetScrollBarInfo(owner, vertical ? OBJID_VSCROLL : OBJID_HSCROLL, &info)) return false;
  if (info.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)) return false;
  screenRect = info.rcScrollBar;
  return screenRect.right > screenRect.left && screenRect.bottom > screenRect.top;
}

bool IsListView(HWND window) {
  wchar_t name[32] = {};
  GetClassNameW(window, name, 32);
  return lstrcmpiW(name, WC_LISTVIEWW) == 0;
}

}  // namespace

void CSkinScrollbar::Follow(HWND owner) {
  owner_ = owner;
  RECT bar;
  // The bar is a sibling of its list, not a child: hiding the list leaves it on screen unless
  // it goes too.
  const bool ownerShown = (GetWindowLongW(owner, GWL_STYLE) & WS_VISIBLE) != 0;
  if (!ownerShown || !SystemBar(owner, vertical_, bar)) {
    if (hwnd()) ShowWindow(hwnd(), SW_HIDE);
    return;
  }
  HWND parent = GetParent(owner);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&bar), 2);
  if (!hwnd() && !Create(parent, bar, 0, L"", WS_CHILD | WS_CLIPSIBLINGS)) return;
  ::SetWindowPos(hwnd(), HWND_TOP, bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top,
               SWP_NOACTIVATE | SWP_SHOWWINDOW);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void CSkinScrollbar::Sync(HWND owner, CSkinScrollbar& vertical, CSkinScrollbar& horizontal) {
  // Changing the owner's shape moves it (as far as messages go), and moving it syncs again.
  static thread_local bool syncing = false;
  if (syncing || !owner || !IsWindow(owner)) return;
  syncing = true;
  vertical.Follow(owner);
  horizontal.Follow(owner);
  RECT window;
  ::GetWindowRect(owner, &window);
  HRGN shape = CreateRectRgn(0, 0, window.right - window.left, window.bottom - window.top);
  for (bool v : {true, false}) {
    RECT bar = {};
    if (!SystemBar(owner, v, bar)) continue;
    OffsetRect(&bar, -window.left, -window.top);
    UniqueRegion cut(CreateRectRgnIndirect(&bar));
    CombineRgn(shape, shape, cut.get(), RGN_DIFF);
  }
  UniqueRegion current(CreateRectRgn(0, 0, 0, 0));
  if (GetWindowRgn(owner, current.get()) != ERROR && EqualRgn(current.get(), shape)) {
    DeleteObject(shape);
  } else {
    SetWindowRgn(owner, shape, TRUE);  // the system owns the region from here
  }
  syncing = false;
}

CSkinScrollbar::Geometry CSkinScrollbar::Measure() const {
  RECT client;
  ::GetClientRect(hwnd(), &client);
  Geometry g;
  const int t = vertical_ ? client.right : client.bottom;
  const int length = vertical_ ? client.bottom : client.right;
  auto span = [&](int from, int to) {
    return vertical_ ? SkinRect{0, from, t, to} : SkinRect{from, 0, to, t};
  };
  g.firstArrow = span(0, t);
  g.secondArrow = span(length - t, length);
  g.track = span(t, length - t);
  SCROLLINFO info = {sizeof(info), SIF_ALL};
  if (owner_ && GetScrollInfo(owner_, vertical_ ? SB_VERT : SB_HORZ, &info)) {
    if (const auto thumb = ComputeScrollThumb(t, length - 2 * t, info.nMin, info.nMax,
                                              info.nPage, info.nPos)) {
      g.thumb = span(thumb->start, thumb->start + thumb->length);
    }
  }
  return g;
}

std::string CSkinScrollbar::StateOf(Element element) const {
  if (pressed_ == element) return "Down";
  if (underMouse_ == element) return "Hovered";
  return {};
}

void CSkinScrollbar::DrawBox(HDC dc, const SkinRect& box, Element element,
                             const char* glyph) const {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  {
    SelectedObject pen(dc, registry.FindObject("ScrollBarBorderPen"));
    SelectedObject brush(dc, registry.FindObject("WhiteBrush"));
    Rectangle(dc, box.left, box.top, box.right, box.bottom);
  }
  {
    SelectedObject pen(dc, registry.FindObject("ScrollBarBlockGrayPen"));
    SelectedObject brush(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, box.left + 1, box.top + 1, box.right - 1, box.bottom - 1);
  }
  const std::string state = StateOf(element);
  const int dpi = this->dpi();
  const int inset = Scale(2);
  registry.DrawPart(SkinName(style(), "ThumbBackground"), state, dc,
                    RECT{box.left + inset, box.top + inset, box.right - inset, box.bottom - inset},
                    dpi);
  const std::string name = SkinName(style(), glyph);
  const SkinPart& part =
      registry.HasPart(name, state) ? registry.FindPart(name, state) : registry.FindPart(name);
  if (part.IsEmpty()) return;
  const SkinSize size = PartSizeForDpi(part, dpi);
  const bool fits = vertical_ ? box.Height() >= size.height : box.Width() >= size.width;
  if (element == Element::kThumb && !fits) return;
  registry.DrawPart(part, dc, kSkinCenterHorizontal | kSkinCenterVertical, ToRect(box), dpi);
}

void CSkinScrollbar::Paint(HDC dc) {
  const Geometry g = Measure();
  CSkinRegistry::Instance().DrawPart(SkinName(style(), "Background"), "", dc, ToRect(g.track),
                                     dpi());
  DrawBox(dc, g.firstArrow, Element::kFirstArrow, "LeftUpArrow");
  DrawBox(dc, g.secondArrow, Element::kSecondArrow, "RightDownArrow");
  if (g.thumb) DrawBox(dc, *g.thumb, Element::kThumb, "ThumbHandler");
}

CSkinScrollbar::Element CSkinScrollbar::HitTest(POINT at) const {
  const Geometry g = Measure();
  const RECT first = ToRect(g.firstArrow), second = ToRect(g.secondArrow);
  if (PtInRect(&first, at)) return Element::kFirstArrow;
  if (PtInRect(&second, at)) return Element::kSecondArrow;
  if (!g.thumb) return Element::kNone;
  const RECT thumb = ToRect(*g.thumb);
  if (PtInRect(&thumb, at)) return Element::kThumb;
  const int along = vertical_ ? at.y : at.x;
  return along < (vertical_ ? thumb.top : thumb.left) ? Element::kPageBefore : Element::kPageAfter;
}

void CSkinScrollbar::Scroll(WORD code, WORD position) {
  if (!owner_) return;
  ::SendMessageW(owner_, vertical_ ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(code, position), 0);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void CSkinScrollbar::TrackTo(int position) {
  if (!owner_) return;
  if (!IsListView(owner_)) {
    Scroll(SB_THUMBTRACK, static_cast<WORD>(position));
    return;
  }
  // A list view takes the position of a thumb track from the system's own tracking, never from
  // the message, so it is moved by the difference instead: in pixels, except that a report
  // view scrolls vertically by whole rows.
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_POS;
  GetScrollInfo(owner_, vertical_ ? SB_VERT : SB_HORZ, &info);
  int delta = position - info.nPos;
  if (delta == 0) return;
  const bool report = (GetWindowLongW(owner_, GWL_STYLE) & LVS_TYPEMASK) == LVS_REPORT;
  if (vertical_ && report) {
    RECT row = {LVIR_BOUNDS};
    if (!::SendMessageW(owner_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row))) return;
    delta *= row.bottom - row.top;
  }
  ::SendMessageW(owner_, LVM_SCROLL, vertical_ ? 0 : delta, vertical_ ? delta : 0);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void CSkinScrollbar::Act(Element element) {
  switch (element) {
    case Element::kFirstArrow: Scroll(SB_LINEUP); break;
    case Element::kSecondArrow: Scroll(SB_LINEDOWN); break;
    case Element::kPageBefore: Scroll(SB_PAGEUP); break;
    case Element::kPageAfter: Scroll(SB_PAGEDOWN); break;
    default: break;
  }
}

bool CSkinScrollbar::OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  switch (message) {
    case WM_LBUTTONDOWN: {
      pressed_ = HitTest(at);
      SetCapture(hwnd());
      if (pressed_ == Element::kThumb) {
        const Geometry g = Measure();
        dragOffset_ = vertical_ ? at.y - g.thumb->top : at.x - g.thumb->left;
      } else {
        Act(pressed_);
        SetTimer(kRepeatTimer, kFirstRepeatMs);
      }
      InvalidateRect(hwnd(), nullptr, FALSE);
      result = 0;
      return true;
    }
    case WM_MOUSEMOVE: {
      const Element under = HitTest(at);
      if (under != underMouse_) {
        underMouse_ = under;
        InvalidateRect(hwnd(), nullptr, FALSE);
      }
      if (pressed_ == Element::kThumb && owner_) {
        const Geometry g = Measure();
        SCROLLINFO info = {sizeof(info), SIF_ALL};
        GetScrollInfo(owner_, vertical_ ? SB_VERT : SB_HORZ, &info);
        const SkinRect& track = g.track;
        const int thumbLength = g.thumb ? (vertical_ ? g.thumb->Height() : g.thumb->Width()) : 0;
        const int position = ScrollPositionForThumb(
            vertical_ ? track.top : track.left, vertical_ ? track.Height() : track.Width(),
            info.nMin, info.nMax, info.nPage, thumbLength, (vertical_ ? at.y : at.x) - dragOffset_);
        TrackTo(position);
      }
      return false;
    }
    case WM_MOUSELEAVE:
      underMouse_ = Element::kNone;
      return false;
    case WM_TIMER:
      if (wParam != kRepeatTimer) return false;
      SetTimer(kRepeatTimer, kRepeatMs);
      if (pressed_ != Element::kNone && pressed_ != Element::kThumb) {
        POINT cursor = {};
        GetCursorPos(&cursor);
        ScreenToClient(hwnd(), &cursor);
        if (HitTest(cursor) == pressed_) Act(pressed_);
      }
      result = 0;
      return true;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (pressed_ == Element::kNone) return false;
      KillTimer(kRepeatTimer);
      if (pressed_ == Element::kThumb && owner_ && !IsListView(owner_)) {
        SCROLLINFO info = {sizeof(info), SIF_POS | SIF_TRACKPOS};
        GetScrollInfo(owner_, vertical_ ? SB_VERT : SB_HORZ, &info);
        Scroll(SB_THUMBPOSITION, static_cast<WORD>(info.nPos));
      }
      pressed_ = Element::kNone;
      Scroll(SB_ENDSCROLL);
      if (message == WM_LBUTTONUP) ReleaseCapture();
      result = 0;
      return true;
    default:
      return CSkinWnd::OnSkinMessage(message, wParam, lParam, result);
  }
}
