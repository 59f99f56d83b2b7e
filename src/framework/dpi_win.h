// The DPI a window is shown at. The program is per-monitor aware (its manifest says so): each
// top-level window lays itself out for the DPI of the monitor it is on and again when that
// changes (WM_DPICHANGED, handled by CWindow). The functions that tell a window's DPI came with
// Windows 10; they are looked up at run time, and Windows 7 and 8, which are system aware only,
// get the system's DPI instead.
#pragma once

#include <windows.h>

// The DPI of `window`'s monitor as the window sees it; the system's DPI where the system
// cannot tell (before Windows 10) or without a window.
int WindowDpi(HWND window);
// The system's DPI (the primary monitor's at log-on).
int SystemDpi();
// A system metric (SM_CXSMICON, ...) for `dpi`; before Windows 10 the metric at the system's
// DPI, scaled to `dpi`.
int SystemMetricForDpi(int index, int dpi);
// Stops the dialog manager of Windows 10 from rescaling `dialog` and its controls on its own
// when the DPI changes: our dialogs lay themselves out from their 96-DPI layout, and its
// scaling would place the controls twice. Does nothing where the system lacks it.
void KeepDialogFromScalingItself(HWND dialog);
// Icon resource `id` of `module` at `size` pixels square: made from the resource's exact or
// next larger picture, shrunk (LoadIconWithScaleDown, Vista and later), else as the system
// loads icons. The caller destroys it.
HICON LoadIconAtSize(HINSTANCE module, int id, int size);
