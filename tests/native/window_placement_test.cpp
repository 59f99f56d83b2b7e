#include <gtest/gtest.h>

#include "app/window_placement.h"

namespace {

using Position = std::optional<std::pair<int32_t, int32_t>>;

TEST(WindowPlacement, SavedPositionCountsOnlyWhileItsTopEdgeCanBeTakenHold) {
  const ScreenRect primary{0, 0, 1280, 984};  // a taskbar below
  const ScreenRect leftMonitor{-1600, 100, 0, 1300};
  const std::vector<ScreenRect> both = {primary, leftMonitor};
  const std::vector<ScreenRect> primaryOnly = {primary};
  constexpr int32_t kWidth = 327;

  EXPECT_EQ(RestoredWindowPosition(std::nullopt, kWidth, both), std::nullopt);
  EXPECT_EQ(RestoredWindowPosition(std::make_pair(400, 300), kWidth, both),
            Position(std::make_pair(400, 300)));
  // Left on a monitor that has gone since.
  EXPECT_EQ(RestoredWindowPosition(std::make_pair(-900, 400), kWidth, both),
            Position(std::make_pair(-900, 400)));
  EXPECT_EQ(RestoredWindowPosition(std::make_pair(-900, 400), kWidth, primaryOnly), std::nullopt);
  // Hanging over an edge is fine while enough of the top stays on screen...
  EXPECT_TRUE(CanGrabWindowAt(1280 - 100, 500, kWidth, primaryOnly));
  EXPECT_FALSE(CanGrabWindowAt(1280 - 99, 500, kWidth, primaryOnly));
  EXPECT_TRUE(CanGrabWindowAt(-200, 500, kWidth, primaryOnly));
  // ...but not with the top above the work area or under the taskbar.
  EXPECT_FALSE(CanGrabWindowAt(400, -5, kWidth, primaryOnly));
  EXPECT_FALSE(CanGrabWindowAt(400, 984 - 24, kWidth, primaryOnly));
  EXPECT_FALSE(CanGrabWindowAt(-1600, 50, kWidth, both)) << "above the left monitor's top";
  // Straddling two monitors: each part is judged on its own.
  EXPECT_TRUE(CanGrabWindowAt(-150, 400, kWidth, both));
  EXPECT_TRUE(CanGrabWindowAt(1200, 400, 60, primaryOnly)) << "a narrow window whole on screen";
}

}  // namespace
