// Where the main window opens: where the user last left it, as long as that place is still on
// one of the monitors (monitors come and go between runs), else centred on the monitor it opens
// on.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

struct ScreenRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// How much of a window's top edge must lie on a monitor for the user to be able to take hold of
// it there and drag it.
inline constexpr int32_t kGrabBandHeight = 25;
inline constexpr int32_t kGrabBandWidth = 100;

// True when a window `width` wide with its top-left corner at `left`, `top` has a band of its top
// edge (kGrabBandHeight high, kGrabBandWidth wide or the whole width of a narrower window) wholly
// inside one of `workAreas`.
bool CanGrabWindowAt(int32_t left, int32_t top, int32_t width,
                     const std::vector<ScreenRect>& workAreas);

// The saved position when the window can still be taken hold of there; nothing otherwise (the
// caller centres the window).
std::optional<std::pair<int32_t, int32_t>> RestoredWindowPosition(
    const std::optional<std::pair<int32_t, int32_t>>& saved, int32_t width,
    const std::vector<ScreenRect>& workAreas);
