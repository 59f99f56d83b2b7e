#include "skin/skin_geometry.h"

#include <algorithm>
#include <cwchar>
#include <limits>

#include "base/text.h"
#include "skin/skin_scale.h"

std::optional<SkinRect> PlacePart(const SkinPart& part, SkinRect target, uint32_t flags,
                                  int32_t dpi) {
  if (part.IsEmpty() || target.right < target.left || target.bottom < target.top) {
    return std::nullopt;
  }
  const int32_t width = ScaleForDpi(part.Width(), dpi);
  const int32_t height = ScaleForDpi(part.Height(), dpi);
  if ((flags & kSkinNaturalWidth) && target.left == target.right) {
    target.right = target.left + width;
  }
  if ((flags & kSkinNaturalHeight) && target.top == target.bottom) {
    target.bottom = target.top + height;
  }
  // Centred at the part's own size. Computing both edges from the middle (m - w/2, m + w/2)
  // would squeeze an odd-sized picture by a pixel, so the far edge follows from the near one.
  if (flags & kSkinCenterHorizontal) {
    const int32_t middle = (target.left + target.right) / 2;
    target.left = middle - width / 2;
    target.right = target.left + width;
  }
  if (flags & kSkinCenterVertical) {
    const int32_t middle = (target.top + target.bottom) / 2;
    target.top = middle - height / 2;
    target.bottom = target.top + height;
  }
  return target;
}

SkinRect ClipPartToImage(const SkinPart& part, SkinSize image) {
  SkinRect source{part.left, part.top, part.right, part.bottom};
  source.left = std::clamp(source.left, 0, image.width);
  source.right = std::clamp(source.right, source.left, image.width);
  source.top = std::clamp(source.top, 0, image.height);
  source.bottom = std::clamp(source.bottom, source.top, image.height);
  return source;
}

TextWithIconLayout LayoutTextWithIcon(SkinRect cell, SkinSize icon, int32_t textWidth,
                                      uint32_t align, int32_t dpi) {
  const int32_t gap = ScaleForDpi(4, dpi);
  TextWithIconLayout layout;
  int32_t iconLeft = cell.left;
  if (align & kIconCenterWithText) {
    iconLeft = cell.left + (cell.Width() - (icon.width + gap + textWidth)) / 2;
  }
  int32_t iconTop = cell.top;
  if (align & kIconCenterVertical) {
    iconTop = cell.top + (cell.Height() - icon.height) / 2;
    layout.singleLineCentered = true;
  }
  layout.icon = {iconLeft, iconTop, iconLeft + icon.width, iconTop + icon.height};
  layout.text = {iconLeft + icon.width + gap, cell.top, cell.right, cell.bottom};
  return layout;
}

ButtonContentLayout LayoutButtonContent(SkinRect item, std::optional<SkinSize> icon,
                                        int32_t textWidth, bool pushed, int32_t dpi) {
  const int32_t shift = ScaleForDpi(1, dpi);
  ButtonContentLayout layout;
  layout.text = item;
  if (icon) {
    const int32_t offset = (item.Width() - icon->width - textWidth) / 2;
    const SkinRect placed{item.left + offset, item.top + (item.Height() - icon->height) / 2,
                          item.left + offset + icon->width,
                          item.top + (item.Height() - icon->height) / 2 + icon->height};
    layout.icon = pushed ? placed.Offset(shift, shift) : placed;
    layout.text.left = placed.right + ScaleForDpi(4, dpi);
  }
  if (pushed) layout.text = layout.text.Offset(shift, shift);
  return layout;
}

SystemButtonLayout LayoutSystemButtons(int32_t clientWidth, const std::vector<SkinSize>& visible,
                                       int32_t marginTop, int32_t marginRight, int32_t space,
                                       int32_t titleHeight) {
  SystemButtonLayout layout;
  layout.buttons.resize(visible.size());
  int32_t x = clientWidth - marginRight;
  for (size_t i = visible.size(); i-- > 0;) {
    x -= visible[i].width;
    layout.buttons[i] = {x, marginTop, x + visible[i].width, marginTop + visible[i].height};
    x -= space;
  }
  layout.titleBand = {0, 0, x, titleHeight};
  return layout;
}

std::optional<ScrollThumb> ComputeScrollThumb(int32_t trackStart, int32_t trackLength, int32_t min,
                                              int32_t max, uint32_t page, int32_t position) {
  const int64_t range = int64_t{max} - min;
  const int64_t positions = range - page + 1;
  if (trackLength <= 0 || range >= std::numeric_limits<int32_t>::max() || range < 0 ||
      positions <= 0) {
    return std::nullopt;
  }
  constexpr int64_t kMinimumThumb = 6;
  int64_t length = std::max<int64_t>(int64_t{page} * trackLength / (range + 1), kMinimumThumb);
  length = std::min<int64_t>(length, trackLength);
  // Positions count from the range's minimum; the lists we skin start at 0, where this is the
  // plain position.
  const int64_t offset = std::clamp<int64_t>(int64_t{position} - min, 0, positions);
  int64_t start = trackStart + (trackLength - length) * offset / positions;
  start = std::min<int64_t>(start, int64_t{trackStart} + trackLength - length);
  start = std::max<int64_t>(start, trackStart);
  return ScrollThumb{static_cast<int32_t>(start), static_cast<int32_t>(length)};
}

int32_t ScrollPositionForThumb(int32_t trackStart, int32_t trackLength, int32_t min, int32_t max,
                               uint32_t page, int32_t thumbLength, int32_t thumbStart) {
  const int64_t positions = int64_t{max} - min - page + 1;
  const int64_t travel = int64_t{trackLength} - thumbLength;
  if (positions <= 0 || travel <= 0) return min;
  const int64_t moved = std::clamp<int64_t>(int64_t{thumbStart} - trackStart, 0, travel);
  // Rounded, so that every position can be reached by dragging.
  const int64_t position = (moved * positions + travel / 2) / travel;
  return static_cast<int32_t>(min + std::min<int64_t>(position, positions));
}

int32_t TabHeightForDpi(int32_t dpi) { return (dpi * 20 + 48) / 96; }

std::vector<SkinRect> LayoutTabs(const std::vector<int32_t>& captionWidths, int32_t firstLeft,
                                 int32_t tabHeight, int32_t dpi) {
  std::vector<SkinRect> tabs;
  const int32_t padding = ScaleForDpi(32, dpi);
  int32_t x = firstLeft + ScaleForDpi(2, dpi);
  for (int32_t width : captionWidths) {
    tabs.push_back({x, 0, x + width + padding, tabHeight});
    x += width + padding;
  }
  return tabs;
}

int32_t ClampTabIndex(int32_t index, int32_t count) {
  if (count <= 0) return -1;
  return std::clamp(index, 0, count - 1);
}

std::optional<CustomBackground> ParseCustomBackground(std::wstring_view text) {
  const std::vector<std::wstring> fields = SplitText(text, L',');
  if (TrimText(text).empty() || fields.empty()) return std::nullopt;
  CustomBackground picture;
  picture.suffix = WideToUtf8(TrimText(fields[0]));
  int32_t* numbers[] = {&picture.x, &picture.y, &picture.width, &picture.height};
  for (size_t i = 1; i < fields.size() && i <= 4; ++i) {
    const std::wstring value = TrimText(fields[i]);
    *numbers[i - 1] = static_cast<int32_t>(std::wcstol(value.c_str(), nullptr, 10));
  }
  return picture;
}
