// Where the main window opens: where the user last left it, as long as that place is still on
// one of the monitors (monitors come and go between runs, and a smaller screen may leave part of
// it off), moved so that all of it shows; else centred on the monitor it opens on.
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

// Where a window `width` by `height` opens when it was left at `saved`: on the work area that
// holds the most of it there, moved as little as needed for the whole window to show (its
// top-left corner first, for a window larger than the work area). Nothing when nothing was saved
// or the place is on none of `workAreas` (the caller centres the window).
std::optional<std::pair<int32_t, int32_t>> RestoredWindowPosition(
    const std::optional<std::pair<int32_t, int32_t>>& saved, int32_t width, int32_t height,
    const std::vector<ScreenRect>& workAreas);
