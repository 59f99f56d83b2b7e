// Millisecond tick count and sleep, behind a port so waits can be tested without waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

class TickClock {
 public:
  virtual ~TickClock() = default;
  // Milliseconds since some fixed start; wraps after about 49.7 days like the system tick
  // count, so callers compare ticks by unsigned subtraction only.
  virtual uint32_t Ticks() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

class SteadyTickClock final : public TickClock {
 public:
  uint32_t Ticks() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
  }
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

// The process's clock; stateless, so sharing it between threads is safe.
inline TickClock& SystemTickClock() {
  static SteadyTickClock clock;
  return clock;
}
