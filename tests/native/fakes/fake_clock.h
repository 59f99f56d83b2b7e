// TickClock stand-in: time moves only when a test sets it or something sleeps.
#pragma once

#include <cstdint>
#include <vector>

#include "base/clock.h"

class FakeClock : public TickClock {
 public:
  uint32_t Ticks() override { return now; }
  // Records the wait and lets the time pass at once.
  void Sleep(uint32_t milliseconds) override;

  uint32_t now = 0;
  std::vector<uint32_t> sleeps;
};
