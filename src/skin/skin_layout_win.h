// Where a skinned window's children go at the window's DPI: each is given its rectangle as laid
// out at 96 DPI, placed scaled, and placed again when the DPI changes.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "skin/skin_geometry.h"

class CSkinLayout {
 public:
  // The DPI the layout places at (set before the children are created).
  void SetDpi(int dpi) { dpi_ = dpi > 0 ? dpi : 96; }
  int dpi() const { return dpi_; }
  int Scale(int value) const;
  RECT ScaleRect(const SkinRect& rect) const;

  // Places `window` (a child, in its parent's client coordinates) and keeps it for Apply.
  // Placing a window again replaces its rectangle.
  void Place(HWND window, const SkinRect& rect);
  // Keeps `window` for Apply without moving it now.
  void Keep(HWND window, const SkinRect& rect);
  // Creates a control (whose Create takes the parent and a rectangle first) at `rect` scaled,
  // and keeps it.
  template <class Control, class... Args>
  bool Create(Control& control, HWND parent, const SkinRect& rect, Args&&... args) {
    if (!control.Create(parent, ScaleRect(rect), std::forward<Args>(args)...)) return false;
    Keep(control.hwnd(), rect);
    return true;
  }
  // Places every kept window again at `dpi`.
  void Apply(int dpi);

 private:
  int dpi_ = 96;
  std::vector<std::pair<HWND, SkinRect>> windows_;
};

inline RECT ToRect(const SkinRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// Gives every descendant of `root` that shows one of the skin's fonts the same font made for
// `dpi` (after a DPI change; other fonts are left alone).
void RescaleSkinFonts(HWND root, int dpi);
