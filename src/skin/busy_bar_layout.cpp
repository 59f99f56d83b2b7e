#include "skin/busy_bar_layout.h"

#include <algorithm>

BusyBarFrame ComputeBusyBarFrame(int32_t left, int32_t right, int32_t blockWidth, uint32_t step,
                                 uint32_t blockCount, int32_t gap) {
  BusyBarFrame frame;
  // A bar too low for a block (or a theme that reports none) would divide by zero below.
  if (step == 0 || blockWidth <= 0) return frame;
  const int64_t pitch = int64_t{blockWidth} + gap;
  const int64_t width = int64_t{right} - left;
  const int64_t blocksAcross = width / blockWidth;
  int64_t x = left + pitch * (blocksAcross * (int64_t{step} - 1) / 100);
  for (uint32_t i = 0; i < blockCount; ++i) {
    if (x >= left && x <= right) {
      frame.blocks.push_back({static_cast<int32_t>(x),
                              static_cast<int32_t>(std::min<int64_t>(x + blockWidth, right))});
    }
    x -= pitch;
  }
  frame.resetStep = x > right + 2 * pitch * (int64_t{blockCount} + 5);
  return frame;
}

int32_t ClassicBusyBlockWidth(int32_t contentHeight) { return contentHeight * 3 / 4; }
