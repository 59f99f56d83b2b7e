#include "framework/dpi_win.h"

#include "base/unique_handle_win.h"

namespace {

constexpr int kDefaultDpi = 96;

// user32 is loaded in every process with windows; the lookups are made once.
template <class Function>
Function User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Function>(GetProcAddress(user32, name)) : nullptr;
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForSystemFn = UINT(WINAPI*)();
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);

constexpr int kDialogDisableAll = 1;  // DDC_DISABLE_ALL

}  // namespace

int SystemDpi() {
  static const auto getForSystem = User32Function<GetDpiForSystemFn>("GetDpiForSystem");
  if (getForSystem) {
    if (const UINT dpi = getForSystem()) return static_cast<int>(dpi);
  }
  WindowDc screen(nullptr);
  const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : kDefaultDpi;
}

int WindowDpi(HWND window) {
  static const auto getForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (window && getForWindow) {
    if (const UINT dpi = getForWindow(window)) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

int SystemMetricForDpi(int index, int dpi) {
  static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (forDpi && dpi > 0) return forDpi(index, static_cast<UINT>(dpi));
  const int metric = GetSystemMetrics(index);
  const int system = SystemDpi();
  return dpi > 0 && dpi != system ? MulDiv(metric, dpi, system) : metric;
}

void KeepDialogFromScalingItself(HWND dialog) {
  static const auto setBehavior =
      User32Function<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
  if (setBehavior && dialog) setBehavior(dialog, kDialogDisableAll, kDialogDisableAll);
}

HICON LoadIconAtSize(HINSTANCE module, int id, int size) {
  // The common controls of version 6 are loaded with every window of ours (the manifest asks
  // for them); older ones lack the function.
  static const auto scaleDown = [] {
    HMODULE controls = GetModuleHandleW(L"comctl32.dll");
    return controls ? reinterpret_cast<LoadIconWithScaleDownFn>(
                          GetProcAddress(controls, "LoadIconWithScaleDown"))
                    : nullptr;
  }();
  HICON icon = nullptr;
  if (scaleDown && SUCCEEDED(scaleDown(module, MAKEINTRESOURCEW(id), size, size, &icon)) &&
      icon) {
    return icon;
  }
  return static_cast<HICON>(
      LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}
