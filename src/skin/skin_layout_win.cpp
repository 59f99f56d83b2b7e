#include "skin/skin_layout_win.h"

#include <algorithm>

#include "skin/skin_registry_win.h"
#include "skin/skin_scale.h"

int CSkinLayout::Scale(int value) const { return ScaleForDpi(value, dpi_); }

RECT CSkinLayout::ScaleRect(const SkinRect& rect) const {
  return ToRect(ScaleRectForDpi(rect, dpi_));
}

void CSkinLayout::Keep(HWND window, const SkinRect& rect) {
  if (!window) return;
  const auto known = std::find_if(windows_.begin(), windows_.end(),
                                  [window](const auto& entry) { return entry.first == window; });
  if (known == windows_.end()) {
    windows_.emplace_back(window, rect);
  } else {
    known->second = rect;
  }
}

void CSkinLayout::Place(HWND window, const SkinRect& rect) {
  if (!window) return;
  Keep(window, rect);
  const RECT at = ScaleRect(rect);
  SetWindowPos(window, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSkinLayout::Apply(int dpi) {
  SetDpi(dpi);
  for (const auto& [window, rect] : windows_) {
    if (!IsWindow(window)) continue;
    const RECT at = ScaleRect(rect);
    SetWindowPos(window, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

namespace {

BOOL CALLBACK RescaleFont(HWND child, LPARAM dpi) {
  HFONT current = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
  HFONT scaled = CSkinRegistry::Instance().FontForDpi(current, static_cast<int32_t>(dpi));
  if (scaled && scaled != current) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), TRUE);
  }
  return TRUE;
}

}  // namespace

void RescaleSkinFonts(HWND root, int dpi) {
  EnumChildWindows(root, RescaleFont, dpi);
}
