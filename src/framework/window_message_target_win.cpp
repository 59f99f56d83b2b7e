#include "framework/window_message_target_win.h"

bool WindowMessageTarget::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  HWND window = window_.load();
  return window &&
         PostMessageW(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}
