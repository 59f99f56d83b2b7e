#include "skin/skin_scale.h"

namespace {

int32_t ScaleRounded(int32_t value, int32_t numerator, int32_t denominator) {
  if (denominator <= 0 || numerator <= 0) return value;
  const int64_t product = int64_t{value} * numerator;
  const int64_t half = denominator / 2;
  const int64_t scaled = product >= 0 ? (product + half) / denominator
                                      : -((-product + half) / denominator);
  return static_cast<int32_t>(scaled);
}

}  // namespace

int32_t ScaleForDpi(int32_t value, int32_t dpi) { return ScaleRounded(value, dpi, kBaseDpi); }

int32_t ScaleForPercent(int32_t value, int32_t percent) {
  return ScaleRounded(value, percent, 100);
}

SkinRect ScaleRectForDpi(const SkinRect& rect, int32_t dpi) {
  return {ScaleForDpi(rect.left, dpi), ScaleForDpi(rect.top, dpi), ScaleForDpi(rect.right, dpi),
          ScaleForDpi(rect.bottom, dpi)};
}

SkinSize ScaleSizeForDpi(const SkinSize& size, int32_t dpi) {
  return {ScaleForDpi(size.width, dpi), ScaleForDpi(size.height, dpi)};
}

int32_t ChooseArtworkScale(int32_t dpi, std::span<const int32_t> available) {
  if (available.empty()) return 100;
  for (int32_t percent : available) {
    // percent / 100 >= dpi / 96, in integers.
    if (int64_t{percent} * kBaseDpi >= int64_t{dpi} * 100) return percent;
  }
  return available.back();
}

int32_t ArtworkLength(int32_t length, int32_t cells, int32_t percent) {
  if (cells <= 1 || length % cells != 0) return ScaleForPercent(length, percent);
  return cells * ScaleForPercent(length / cells, percent);
}
