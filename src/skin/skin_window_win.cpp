#include "skin/skin_window_win.h"

#include <windowsx.h>

#include <map>

#include "framework/dpi_win.h"
#include "framework/window_win.h"
#include "skin/skin_geometry.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_scale.h"

namespace {

// Ids of the frame's own buttons: high enough never to meet a dialog's controls.
constexpr UINT kCloseId = 0xFFF0;
constexpr UINT kMinimizeId = 0xFFF1;
constexpr UINT kRestoreId = 0xFFF2;
constexpr UINT kMaximizeId = 0xFFF3;
constexpr UINT kMoveByDragging = SC_MOVE | HTCAPTION;  // 0xF012

std::map<HWND, CSkinWindow*>& FrameMap() {
  static std::map<HWND, CSkinWindow*> frames;
  return frames;
}

bool IsCaptionMouseMessage(UINT message) {
  return (message >= WM_NCLBUTTONDOWN && message <= WM_NCMBUTTONDBLCLK && message != 0x00AA) ||
         (message >= WM_NCXBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK);
}

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

CSkinWindow::~CSkinWindow() { Detach(); }

int CSkinWindow::dpi() const { return WindowDpi(window_); }

CSkinWindow* CSkinWindow::FromHandle(HWND window) {
  const auto it = FrameMap().find(window);
  return it == FrameMap().end() ? nullptr : it->second;
}

bool CSkinWindow::Attach(HWND window) {
  if (window_ || !window || FromHandle(window)) return false;
  window_ = window;
  FrameMap()[window] = this;
  previousProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));

  // The frame draws everything itself; the system's border and caption would only show
  // through where the system paints them directly (setting the text, activation).
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  SetWindowLongPtrW(window, GWL_STYLE,
                    style & ~static_cast<LONG_PTR>(WS_CAPTION | WS_THICKFRAME | WS_BORDER));
  const LONG_PTR ex = GetWindowLongPtrW(window, GWL_EXSTYLE);
  SetWindowLongPtrW(window, GWL_EXSTYLE,
                    ex & ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE |
                                                WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));

  if (IsFlag("CloseBox")) close_.CreateSystemButton(window, kCloseId);
  if (IsFlag("MaximizeBox")) {
    maximize_.CreateSystemButton(window, kMaximizeId);
    restore_.CreateSystemButton(window, kRestoreId);
  }
  if (IsFlag("MinimizeBox")) {
    SetWindowLongPtrW(window, GWL_STYLE, GetWindowLongPtrW(window, GWL_STYLE) | WS_MINIMIZEBOX);
    minimize_.CreateSystemButton(window, kMinimizeId);
  }
  SetWindowPos(window, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  ::SendMessageW(window, WM_SETFONT,
                 reinterpret_cast<WPARAM>(
                     CSkinRegistry::Instance().FindFont("DefaultFont", {}, nullptr, dpi())),
                 0);
  Layout();
  return true;
}

void CSkinWindow::Detach() {
  if (!window_) return;
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window_, GWLP_WNDPROC)) == WindowProc) {
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
  }
  FrameMap().erase(window_);
  window_ = nullptr;
  if (backgroundDc_ && previousBitmap_) SelectObject(backgroundDc_.get(), previousBitmap_);
}

LRESULT CALLBACK CSkinWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  CSkinWindow* frame = FromHandle(window);
  if (!frame) return DefWindowProcW(window, message, wParam, lParam);
  LRESULT result = 0;
  if (frame->Filter(message, wParam, lParam, result)) return result;
  // The children take fonts made for the new DPI before the window lays them out for it, so
  // what is measured there is measured in the new fonts.
  if (message == WM_DPICHANGED) RescaleSkinFonts(window, HIWORD(wParam));
  result = frame->CallPrevious(message, wParam, lParam);
  if (message == WM_DESTROY) frame->Detach();
  if (message == WM_DPICHANGED && frame->window_) {
    frame->Layout();
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
  return result;
}

LRESULT CSkinWindow::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcW(previousProc_, window_, message, wParam, lParam);
}

bool CSkinWindow::Filter(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  switch (message) {
    case WM_SIZE:
      Layout();
      return false;
    case WM_ERASEBKGND:
      BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, client_.right, client_.bottom,
             backgroundDc_.get(), 0, 0, SRCCOPY);
      result = 1;
      return true;
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED) return false;
      for (CSkinSystemButton* button : {static_cast<CSkinSystemButton*>(&minimize_),
                                        static_cast<CSkinSystemButton*>(&restore_),
                                        static_cast<CSkinSystemButton*>(&maximize_),
                                        static_cast<CSkinSystemButton*>(&close_)}) {
        if (button->hwnd() && reinterpret_cast<HWND>(lParam) == button->hwnd()) {
          ::SendMessageW(window_, WM_SYSCOMMAND, button->SystemCommand(), 0);
          break;
        }
      }
      return false;
    }
    case WM_GETFONT:
      result = reinterpret_cast<LRESULT>(
          registry.FindFont(Ascii(FindText("Font", "", L"DefaultFont")), {}, nullptr, dpi()));
      return true;
    case WM_NCHITTEST: {
      POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(window_, &at);
      result = PtInRect(&titleBand_, at) ? HTCAPTION : HTCLIENT;
      return true;
    }
    case WM_NCPAINT:
    case WM_NCACTIVATE:
      result = 1;
      return true;
    case WM_NCCALCSIZE:
      result = 0;
      return true;
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      result = reinterpret_cast<LRESULT>(registry.FindObject("CtlColorBrush"));
      return true;
    case WM_DRAWITEM:
      // The framework does not send owner-draw requests back to the controls; the frame does,
      // for every skinned control of the dialog.
      if (!ReflectSkinDrawItem(lParam)) return false;
      result = TRUE;
      return true;
    case kSkinPaintBackgroundMessage: {
      const RECT at = WindowRectInParent(reinterpret_cast<HWND>(lParam));
      BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, at.right - at.left, at.bottom - at.top,
             backgroundDc_.get(), at.left, at.top, SRCCOPY);
      result = 1;
      return true;
    }
    default:
      break;
  }
  if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) {
    ::SendMessageW(window_, WM_SYSCOMMAND, kMoveByDragging, lParam);
    result = 0;
    return true;
  }
  if (IsCaptionMouseMessage(message) && wParam == HTCAPTION) {
    result = 0;
    return true;
  }
  return false;
}

void CSkinWindow::Layout() {
  if (!window_) return;
  GetClientRect(window_, &client_);
  const int width = client_.right;
  const int height = client_.bottom;
  const int dpi = this->dpi();
  RenderBackground(width, height);
  InvalidateRect(window_, nullptr, TRUE);

  // Rounded at the top only: the body below the corners is square, one column short of the
  // right edge.
  const int corner = ScaleForDpi(9, dpi);
  const int band = ScaleForDpi(15, dpi);
  HRGN shape = CreateRoundRectRgn(0, 0, width, height, corner, corner);
  UniqueRegion body(CreateRectRgn(0, band, width - 1, height + band));
  CombineRgn(shape, shape, body.get(), RGN_OR);
  SetWindowRgn(window_, shape, TRUE);  // the system owns the region from here

  for (CSkinSystemButton* button : {static_cast<CSkinSystemButton*>(&close_),
                                    static_cast<CSkinSystemButton*>(&minimize_),
                                    static_cast<CSkinSystemButton*>(&restore_),
                                    static_cast<CSkinSystemButton*>(&maximize_)}) {
    if (button->hwnd()) ShowWindow(button->hwnd(), SW_HIDE);
  }
  std::vector<CSkinSystemButton*> visible;
  if (IsFlag("MinimizeBox") && minimize_.hwnd()) visible.push_back(&minimize_);
  if (IsFlag("MaximizeBox")) {
    CSkinSystemButton* fits = (GetWindowLongPtrW(window_, GWL_STYLE) & WS_MAXIMIZE)
                                  ? static_cast<CSkinSystemButton*>(&restore_)
                                  : static_cast<CSkinSystemButton*>(&maximize_);
    if (fits->hwnd()) visible.push_back(fits);
  }
  if (IsFlag("CloseBox") && close_.hwnd()) visible.push_back(&close_);
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  std::vector<SkinSize> sizes;
  for (CSkinSystemButton* button : visible) {
    const SkinPart& picture = registry.FindPart(button->style());
    if (picture.IsEmpty()) {
      const RECT r = button->GetWindowRect();
      sizes.push_back({r.right - r.left, r.bottom - r.top});
    } else {
      sizes.push_back(PartSizeForDpi(picture, dpi));
    }
  }
  const auto scaled = [&](const char* name, int32_t fallback) {
    return ScaleForDpi(registry.FindInt(name, "", fallback), dpi);
  };
  const SystemButtonLayout layout = LayoutSystemButtons(
      width, sizes, scaled("SystemButtonMarginTop", 0), scaled("SystemButtonMarginRight", 8),
      scaled("SystemButtonSpace", 0), scaled("WindowTitleHeight", 25));
  for (size_t i = 0; i < visible.size(); ++i) {
    const SkinRect& r = layout.buttons[i];
    SetWindowPos(visible[i]->hwnd(), nullptr, r.left, r.top, r.Width(), r.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  }
  titleBand_ = {layout.titleBand.left, layout.titleBand.top, layout.titleBand.right,
                layout.titleBand.bottom};
}

void CSkinWindow::RenderBackground(int width, int height) {
  if (width <= 0 || height <= 0) return;
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  const int dpi = this->dpi();
  WindowDc screen(window_);
  if (!backgroundDc_) backgroundDc_.reset(CreateCompatibleDC(screen.get()));
  if (!backgroundDc_) return;
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (!bitmap) return;
  HGDIOBJ old = SelectObject(backgroundDc_.get(), bitmap.get());
  if (!previousBitmap_) previousBitmap_ = old;
  backgroundBitmap_ = std::move(bitmap);
  HDC dc = backgroundDc_.get();

  const RECT all = {0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  registry.DrawPart("WindowPictureBackground", "", dc, all, dpi);

  const SkinPart& topLeft = registry.FindPart("WindowPictureTopLeft");
  const SkinPart& top = registry.FindPart("WindowPictureTop");
  const SkinPart& topRight = registry.FindPart("WindowPictureTopRight");
  const SkinPart& left = registry.FindPart("WindowPictureLeft");
  const SkinPart& right = registry.FindPart("WindowPictureRight");
  const SkinPart& bottomLeft = registry.FindPart("WindowPictureBottomLeft");
  const SkinPart& bottom = registry.FindPart("WindowPictureBottom");
  const SkinPart& bottomRight = registry.FindPart("WindowPictureBottomRight");
  auto draw = [&](const SkinPart& part, int l, int t, int r, int b) {
    registry.DrawPart(part, dc, RECT{l, t, r, b}, dpi);
  };
  const auto size = [dpi](const SkinPart& part) { return PartSizeForDpi(part, dpi); };
  const SkinSize tl = size(topLeft), tr = size(topRight), bl = size(bottomLeft),
                 br = size(bottomRight);
  draw(topLeft, 0, 0, tl.width, tl.height);
  draw(topRight, width - tr.width, 0, width, tr.height);
  draw(bottomLeft, 0, height - bl.height, bl.width, height);
  draw(bottomRight, width - br.width, height - br.height, width, height);
  draw(top, tl.width, 0, width - tr.width, size(top).height);
  draw(bottom, bl.width, height - size(bottom).height, width - br.width, height);
  draw(left, 0, tl.height, size(left).width, height - bl.height);
  draw(right, width - size(right).width, tr.height, width, height - br.height);

  if (const auto picture = ParseCustomBackground(FindText("CustomBackground", "", L""))) {
    // Placed and sized at 96 DPI, like everything else of the window.
    const SkinPart& part = registry.FindPart("WindowPicture", picture->suffix);
    const SkinRect at = ScaleRectForDpi(
        {picture->x, picture->y, picture->x + (picture->width ? picture->width : part.Width()),
         picture->y + (picture->height ? picture->height : part.Height())},
        dpi);
    draw(part, at.left, at.top, at.right, at.bottom);
  }

  const std::wstring title =
      FindText("Title") ? *FindText("Title") : CWindow::GetWindowText(window_);
  if (!title.empty()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(6, 56, 157));
    SelectedObject font(dc, registry.FindFont("WindowTitleFont", {}, nullptr, dpi));
    TextOutW(dc, ScaleForDpi(40, dpi), ScaleForDpi(10, dpi), title.c_str(),
             static_cast<int>(title.size()));
  }

  for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child) && (GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_TRANSPARENT)) {
      InvalidateRect(child, nullptr, TRUE);
    }
  }
}
