#include "skin/busy_bar_layout.h"

#include <algorithm>

BusyBarFrame ComputeBusyBarFrame(int32_t left, int32_t right, int32_t block_width, uint32_t step,
                                 uint32_t block_count) {
  BusyBarFrame frame;
  // A bar too low for a block (or a theme that reports none) would divide by zero below.
  if (step == 0 || block_width <= 0) return frame;
  const int64_t pitch = int64_t{block_width} + 2;
  const int64_t width = int64_t{right} - left;
  const int64_t blocks_across = width / block_width;
  int64_t x = left + pitch * (blocks_across * (int64_t{step} - 1) / 100);
  for (uint32_t i = 0; i < block_count; ++i) {
    if (x >= left && x <= right) {
      frame.blocks.push_back({static_cast<int32_t>(x),
                              static_cast<int32_t>(std::min<int64_t>(x + block_width, right))});
    }
    x -= pitch;
  }
  frame.reset_step = x > right + 2 * pitch * (int64_t{block_count} + 5);
  return frame;
}

int32_t ClassicBusyBlockWidth(int32_t content_height) { return content_height * 3 / 4; }
