// Where skin pieces go: the arithmetic behind part drawing, the frame's system buttons and title
// band, button contents, scroll thumbs and tabs. Plain integers, so it is tested natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "skin/skin_part_table.h"

struct SkinRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  SkinRect Offset(int32_t dx, int32_t dy) const {
    return {left + dx, top + dy, right + dx, bottom + dy};
  }
  bool operator==(const SkinRect&) const = default;
};

struct SkinSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const SkinSize&) const = default;
};

// Flags of part drawing. A zero-sized target with the natural-size flags draws the part at its
// own size; the plain drawing calls pass both.
enum SkinDrawFlags : uint32_t {
  kSkinNaturalWidth = 1,
  kSkinNaturalHeight = 2,
  kSkinCenterVertical = 4,
  kSkinCenterHorizontal = 8,
  kSkinNaturalSize = kSkinNaturalWidth | kSkinNaturalHeight,
};

// The target rectangle a part is drawn into, or nothing when the part is empty or the target is
// inverted. The part's natural size is its size at `dpi`.
std::optional<SkinRect> PlacePart(const SkinPart& part, SkinRect target, uint32_t flags,
                                  int32_t dpi = 96);

// The part's source rectangle cut down to the pixels its image has.
SkinRect ClipPartToImage(const SkinPart& part, SkinSize image);

// Alignment flags of text drawn beside an icon in a cell.
enum SkinTextIconAlign : uint32_t {
  kIconLeft = 1,
  kIconCenterWithText = 2,
  kIconTop = 8,
  kIconCenterVertical = 16,
};

struct TextWithIconLayout {
  SkinRect icon;
  SkinRect text;
  bool singleLineCentered = false;
};
// `icon` is the icon's size on screen; the gap between icon and text follows `dpi`.
TextWithIconLayout LayoutTextWithIcon(SkinRect cell, SkinSize icon, int32_t textWidth,
                                      uint32_t align, int32_t dpi = 96);

struct ButtonContentLayout {
  std::optional<SkinRect> icon;
  SkinRect text;
};
// A button's icon and text as one group centred in `item`; without an icon the text fills the
// item. Pushed buttons shift everything one pixel (at 96 DPI) right and down.
ButtonContentLayout LayoutButtonContent(SkinRect item, std::optional<SkinSize> icon,
                                        int32_t textWidth, bool pushed, int32_t dpi = 96);

struct SystemButtonLayout {
  std::vector<SkinRect> buttons;  // same order as the sizes given
  SkinRect titleBand;
};
// Lays the visible system buttons out right to left from the window's right edge; the title
// band (the part of the top that drags the window) ends where the buttons begin.
SystemButtonLayout LayoutSystemButtons(int32_t clientWidth, const std::vector<SkinSize>& visible,
                                       int32_t marginTop, int32_t marginRight, int32_t space,
                                       int32_t titleHeight);

struct ScrollThumb {
  int32_t start = 0;
  int32_t length = 0;
  bool operator==(const ScrollThumb&) const = default;
};
std::optional<ScrollThumb> ComputeScrollThumb(int32_t trackStart, int32_t trackLength, int32_t min,
                                              int32_t max, uint32_t page, int32_t position);
// The scroll position that puts the thumb's leading edge at `thumbStart` (for dragging).
int32_t ScrollPositionForThumb(int32_t trackStart, int32_t trackLength, int32_t min, int32_t max,
                               uint32_t page, int32_t thumbLength, int32_t thumbStart);

// Tab height for the screen's vertical dots per inch: 20 pixels at 96.
int32_t TabHeightForDpi(int32_t dpi);
// Tabs side by side, each its caption width + 32; the first starts 2 pixels right of
// `firstLeft` (the right edge of a left-hand child, or 0). The pixels are 96-DPI ones.
std::vector<SkinRect> LayoutTabs(const std::vector<int32_t>& captionWidths, int32_t firstLeft,
                                 int32_t tabHeight, int32_t dpi = 96);
// Selecting an index clamps it into the tab range; -1 when there are no tabs.
int32_t ClampTabIndex(int32_t index, int32_t count);

// "Suffix,x,y[,w,h]" of a frame's extra picture.
struct CustomBackground {
  std::string suffix;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};
std::optional<CustomBackground> ParseCustomBackground(std::wstring_view text);
