#include "skin/skin_system_button_win.h"

bool CSkinSystemButton::CreateSystemButton(HWND frame, UINT id) {
  if (!Create(frame, RECT{0, 0, 10, 10}, id, L"")) return false;
  const SkinPart& part = CSkinRegistry::Instance().FindPart(style());
  if (!part.IsEmpty()) {
    const SkinSize size = PartSizeForDpi(part, dpi());
    SetWindowPos(nullptr, 0, 0, size.width, size.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // Clicking the frame's buttons must not take the focus from the dialog's controls.
  SetWindowLongPtrW(hwnd(), GWL_STYLE, GetWindowLongPtrW(hwnd(), GWL_STYLE) & ~WS_TABSTOP);
  return true;
}
