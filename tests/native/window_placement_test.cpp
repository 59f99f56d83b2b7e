#include <gtest/gtest.h>

#include "app/window_placement.h"

namespace {

using Position = std::optional<std::pair<int32_t, int32_t>>;

TEST(WindowPlacement, ASavedPlaceIsKeptOnItsMonitorWithAllOfTheWindowShowing) {
  const ScreenRect primary{0, 0, 1280, 984};  // 1280x1024, a taskbar below
  const ScreenRect leftMonitor{-1600, 100, 0, 1300};
  const std::vector<ScreenRect> both = {primary, leftMonitor};
  const std::vector<ScreenRect> primaryOnly = {primary};
  constexpr int32_t kWidth = 327;
  constexpr int32_t kHeight = 480;
  const auto at = [](int32_t left, int32_t top) { return Position(std::make_pair(left, top)); };
  const struct {
    Position saved;
    std::vector<ScreenRect> areas;
    Position expected;
    const char* why;
  } cases[] = {
      {std::nullopt, both, std::nullopt, "nothing saved"},
      {at(400, 300), both, at(400, 300), "wholly on screen"},
      {at(-900, 400), both, at(-900, 400), "on the left monitor"},
      {at(-900, 400), primaryOnly, std::nullopt, "on a monitor that has gone"},
      {at(860, 600), primaryOnly, at(860, 984 - kHeight), "its bottom under the taskbar"},
      {at(1200, -40), primaryOnly, at(1280 - kWidth, 0), "over the top right corner"},
      {at(-200, 500), primaryOnly, at(0, 500), "over the left edge, no monitor there"},
      {at(-250, 400), both, at(-kWidth, 400), "straddling: most of it on the left one"},
      {at(-20, 50), both, at(0, 50), "straddling: most on the primary"},
      {at(5000, 30), both, std::nullopt, "far off every monitor"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RestoredWindowPosition(c.saved, kWidth, kHeight, c.areas), c.expected) << c.why;
  }
  // Larger than the work area: its top-left corner shows.
  EXPECT_EQ(RestoredWindowPosition(at(100, 100), 2000, 1200, primaryOnly), at(0, 0));
}

}  // namespace
