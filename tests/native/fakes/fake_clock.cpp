#include "fakes/fake_clock.h"

void FakeClock::Sleep(uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  now += milliseconds;
}
