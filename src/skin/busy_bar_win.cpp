#include "skin/busy_bar_win.h"

#include "framework/dpi_win.h"
#include "skin/busy_bar_layout.h"
#include "skin/skin_scale.h"
#include "skin/ux_theme_win.h"

namespace {

constexpr UINT_PTR kTimer = 0;
constexpr int kBarPart = 1;    // PP_BAR
constexpr int kChunkPart = 3;  // PP_CHUNK
constexpr int kMinimumSize = 0;  // TS_MIN
constexpr UINT kMaxBlocks = 20;

struct BusyBarState {
  unsigned step = 0;
  unsigned interval = 0;
  unsigned blocks = kMaxBlocks;
};

BusyBarState* StateOf(HWND window) {
  return reinterpret_cast<BusyBarState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void RepaintNow(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void Paint(HWND window, BusyBarState& state) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT r;
  GetClientRect(window, &r);
  const UxTheme& ux = UxTheme::Get();
  HANDLE theme = ux.OpenThemeData(window, L"Progress");
  const bool classic = !theme || !ux.IsAppThemed() ||
                       (GetWindowLongPtrW(window, GWL_STYLE) & kBusyBarClassicStyle);
  const int dpi = WindowDpi(window);
  int blockWidth = 0;
  if (classic) {
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
    InflateRect(&r, -ScaleForDpi(2, dpi), -ScaleForDpi(2, dpi));
    blockWidth = ClassicBusyBlockWidth(r.bottom - r.top);
  } else {
    ux.DrawThemeBackground(theme, dc, kBarPart, 1, &r, &paint.rcPaint);
    RECT content = r;
    if (SUCCEEDED(ux.GetThemeBackgroundContentRect(theme, dc, kBarPart, 1, &r, &content))) {
      r = content;
    }
    SIZE chunk = {};
    if (SUCCEEDED(ux.GetThemePartSize(theme, dc, kChunkPart, 1, nullptr, kMinimumSize, &chunk))) {
      blockWidth = chunk.cx;
    }
    // A theme without a chunk size would leave the bar empty for good.
    if (blockWidth <= 0) blockWidth = ClassicBusyBlockWidth(r.bottom - r.top);
  }
  const BusyBarFrame frame =
      ComputeBusyBarFrame(r.left, r.right, blockWidth, state.step, state.blocks,
                          ScaleForDpi(2, dpi));
  for (const BusyBarBlock& block : frame.blocks) {
    const RECT area = {block.left, r.top, block.right, r.bottom};
    if (classic) {
      FillRect(dc, &area, GetSysColorBrush(COLOR_HIGHLIGHT));
    } else {
      ux.DrawThemeBackground(theme, dc, kChunkPart, 1, &area, &paint.rcPaint);
    }
  }
  if (theme) ux.CloseThemeData(theme);
  EndPaint(window, &paint);
  if (frame.resetStep) state.step = 0;
}

LRESULT CALLBACK BusyBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  BusyBarState* state = StateOf(window);
  switch (message) {
    case WM_CREATE:
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new BusyBarState()));
      SendMessageW(window, kBusyBarSetBlockCount, kMaxBlocks, 0);
      SendMessageW(window, kBusyBarSetInterval, 30, 0);
      break;
    case WM_DESTROY:
      KillTimer(window, kTimer);
      delete state;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case kBusyBarGetInterval:
      return state ? state->interval : 0;
    case kBusyBarSetInterval:
      if (!state) return 0;
      state->interval = static_cast<unsigned>(wParam);
      if (IsWindowEnabled(window)) SendMessageW(window, WM_ENABLE, 1, 0);
      return 1;
    case kBusyBarGetBlockCount:
      return state ? state->blocks : 0;
    case kBusyBarSetBlockCount:
      if (!state || wParam < 1 || wParam > kMaxBlocks) return 0;
      state->blocks = static_cast<unsigned>(wParam);
      return 1;
    case WM_ENABLE:
      if (!state) break;
      if (wParam) {
        SetTimer(window, kTimer, state->interval, nullptr);
      } else {
        KillTimer(window, kTimer);
        state->step = 0;
        RepaintNow(window);
      }
      break;
    case WM_TIMER:
      if (!state) break;
      ++state->step;
      RepaintNow(window);
      return 1;
    case WM_PAINT:
      if (!state) break;
      Paint(window, *state);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool RegisterBusyBarClass(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  // Global, so controls of any module in the process can create it; redrawn whole on resize.
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_GLOBALCLASS;
  wc.lpfnWndProc = BusyBarProc;
  wc.hInstance = instance;
  wc.lpszClassName = kBusyBarClassName;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

unsigned BusyBarStep(HWND bar) {
  const BusyBarState* state = StateOf(bar);
  return state ? state->step : 0;
}
