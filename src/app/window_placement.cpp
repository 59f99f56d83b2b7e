#include "app/window_placement.h"

#include <algorithm>

std::optional<std::pair<int32_t, int32_t>> RestoredWindowPosition(
    const std::optional<std::pair<int32_t, int32_t>>& saved, int32_t width, int32_t height,
    const std::vector<ScreenRect>& workAreas) {
  if (!saved || width <= 0 || height <= 0) return std::nullopt;
  const int64_t left = saved->first;
  const int64_t top = saved->second;
  const ScreenRect* best = nullptr;
  int64_t bestOverlap = 0;
  for (const ScreenRect& area : workAreas) {
    const int64_t across = std::min<int64_t>(left + width, area.right) -
                           std::max<int64_t>(left, area.left);
    const int64_t down = std::min<int64_t>(top + height, area.bottom) -
                         std::max<int64_t>(top, area.top);
    if (across <= 0 || down <= 0 || across * down <= bestOverlap) continue;
    bestOverlap = across * down;
    best = &area;
  }
  if (!best) return std::nullopt;
  // Into the area from its far edges first, then from its near ones, so a window larger than
  // the area keeps its title bar and left edge on screen.
  const auto inside = [](int64_t at, int32_t size, int32_t low, int32_t high) {
    return int32_t(std::max<int64_t>(low, std::min<int64_t>(at, int64_t{high} - size)));
  };
  return std::make_pair(inside(left, width, best->left, best->right),
                        inside(top, height, best->top, best->bottom));
}
