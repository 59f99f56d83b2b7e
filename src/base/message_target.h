// Whatever receives posted reports: a window on Windows, a queue in tests.
#pragma once

#include <cstdint>

class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  // Thread-safe; returns false when the message could not be queued.
  virtual bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};
