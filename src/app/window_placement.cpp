#include "app/window_placement.h"

#include <algorithm>

bool CanGrabWindowAt(int32_t left, int32_t top, int32_t width,
                     const std::vector<ScreenRect>& workAreas) {
  if (width <= 0) return false;
  const int64_t right = int64_t{left} + width;
  const int64_t bandBottom = int64_t{top} + kGrabBandHeight;
  const int64_t needed = std::min<int64_t>(width, kGrabBandWidth);
  for (const ScreenRect& area : workAreas) {
    if (top < area.top || bandBottom > area.bottom) continue;
    const int64_t overlap =
        std::min<int64_t>(right, area.right) - std::max<int64_t>(left, area.left);
    if (overlap >= needed) return true;
  }
  return false;
}

std::optional<std::pair<int32_t, int32_t>> RestoredWindowPosition(
    const std::optional<std::pair<int32_t, int32_t>>& saved, int32_t width,
    const std::vector<ScreenRect>& workAreas) {
  if (!saved || !CanGrabWindowAt(saved->first, saved->second, width, workAreas)) {
    return std::nullopt;
  }
  return saved;
}
