// Where the busy bar's train of blocks stands at a given animation step. Portable, so the
// motion is tested without a window.
#pragma once

#include <cstdint>
#include <vector>

struct BusyBarBlock {
  int32_t left = 0;
  int32_t right = 0;
  bool operator==(const BusyBarBlock&) const = default;
};

struct BusyBarFrame {
  std::vector<BusyBarBlock> blocks;  // leading block first
  bool resetStep = false;            // the train has run out: start again from the left
};

// `left`/`right`: the content area; `blockWidth`: one block; `gap`: between blocks (two
// pixels at 96 DPI). Step 0 draws nothing; the train advances one pitch every
// 100 / (width / block width) steps.
BusyBarFrame ComputeBusyBarFrame(int32_t left, int32_t right, int32_t blockWidth, uint32_t step,
                                 uint32_t blockCount, int32_t gap = 2);

// The block width of the classic look: three quarters of the content height.
int32_t ClassicBusyBlockWidth(int32_t contentHeight);
