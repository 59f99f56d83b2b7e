// Posts reports to a window: what workers use to talk to the user-interface thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "base/message_target.h"

class WindowMessageTarget : public MessageTarget {
 public:
  explicit WindowMessageTarget(HWND window = nullptr) : window_(window) {}

  // Workers may be posting while the window changes hands, hence the atomic.
  void SetWindow(HWND window) { window_.store(window); }
  HWND Window() const { return window_.load(); }

  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

 private:
  std::atomic<HWND> window_;
};
