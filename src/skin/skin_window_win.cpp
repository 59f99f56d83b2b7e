#include "skin/skin_window_win.h"

#include <windowsx.h>

#include <map>

#include "skin/skin_geometry.h"
#include "skin/skin_registry_win.h"

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
               reinterpret_cast<WPARAM>(CSkinRegistry::Instance().FindObject("DefaultFont")), 0);
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
  result = frame->CallPrevious(message, wParam, lParam);
  if (message == WM_DESTROY) frame->Detach();
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
          registry.FindObject(Ascii(FindText("Font", "", L"DefaultFont"))));
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
  RenderBackground(width, height);
  InvalidateRect(window_, nullptr, TRUE);

  HRGN shape = CreateRoundRectRgn(0, 0, width, height, 9, 9);
  UniqueRegion body(CreateRectRgn(0, 15, width - 1, height + 15));
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
  std::vector<SkinSize> sizes;
  for (CSkinSystemButton* button : visible) {
    const RECT r = button->GetWindowRect();
    sizes.push_back({r.right - r.left, r.bottom - r.top});
  }
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  const SystemButtonLayout layout = LayoutSystemButtons(
      width, sizes, registry.FindInt("SystemButtonMarginTop", "", 0),
      registry.FindInt("SystemButtonMarginRight", "", 8),
      registry.FindInt("SystemButtonSpace", "", 0), registry.FindInt("WindowTitleHeight", "", 25));
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
  registry.DrawPart("WindowPictureBackground", "", dc, all);

  const SkinPart& topLeft = registry.FindPart("WindowPictureTopLeft");
  const SkinPart& top = registry.FindPart("WindowPictureTop");
  const SkinPart& topRight = registry.FindPart("WindowPictureTopRight");
  const SkinPart& left = registry.FindPart("WindowPictureLeft");
  const SkinPart& right = registry.FindPart("WindowPictureRight");
  const SkinPart& bottomLeft = registry.FindPart("WindowPictureBottomLeft");
  const SkinPart& bottom = registry.FindPart("WindowPictureBottom");
  const SkinPart& bottomRight = registry.FindPart("WindowPictureBottomRight");
  auto draw = [&](const SkinPart& part, int l, int t, int r, int b) {
    registry.DrawPart(part, dc, RECT{l, t, r, b});
  };
  draw(topLeft, 0, 0, topLeft.Width(), topLeft.Height());
  draw(topRight, width - topRight.Width(), 0, width, topRight.Height());
  draw(bottomLeft, 0, height - bottomLeft.Height(), bottomLeft.Width(), height);
  draw(bottomRight, width - bottomRight.Width(), height - bottomRight.Height(), width, height);
  draw(top, topLeft.Width(), 0, width - topRight.Width(), top.Height());
  draw(bottom, bottomLeft.Width(), height - bottom.Height(), width - bottomRight.Width(), height);
  draw(left, 0, topLeft.Height(), left.Width(), height - bottomLeft.Height());
  draw(right, width - right.Width(), topRight.Height(), width, height - bottomRight.Height());

  if (const auto picture = ParseCustomBackground(FindText("CustomBackground", "", L""))) {
    const SkinPart& part = registry.FindPart("WindowPicture", picture->suffix);
    const int w = picture->width ? picture->width : part.Width();
    const int h = picture->height ? picture->height : part.Height();
    draw(part, picture->x, picture->y, picture->x + w, picture->y + h);
  }

  const std::wstring title =
      FindText("Title") ? *FindText("Title") : CWindow::GetWindowText(window_);
  if (!title.empty()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(6, 56, 157));
    SelectedObject font(dc, registry.FindObject("WindowTitleFont"));
    TextOutW(dc, 40, 10, title.c_str(), static_cast<int>(title.size()));
  }

  for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child) && (GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_TRANSPARENT)) {
      InvalidateRect(child, nullptr, TRUE);
    }
  }
}
