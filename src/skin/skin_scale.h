// One scale for everything on screen. Every rectangle, size, font height and picture of the
// program is laid out at 96 dots per inch (100 %); a window on a monitor of another DPI gets
// the same layout scaled by dpi / 96, and pictures come from the artwork set drawn for the
// nearest scale at or above it. Plain integers, so it is tested natively.
#pragma once

#include <cstdint>
#include <span>

#include "skin/skin_geometry.h"

inline constexpr int32_t kBaseDpi = 96;

// `value` (a length or a coordinate at 96 DPI) at `dpi`, rounded to the nearest pixel with
// halves away from zero (as MulDiv does), so -12 and 12 scale to the same magnitude.
int32_t ScaleForDpi(int32_t value, int32_t dpi);
// The same at a scale given in percent (150 for 1.5).
int32_t ScaleForPercent(int32_t value, int32_t percent);

// Rectangles scale edge by edge, not by size, so rectangles that touch at 96 DPI still touch
// and a grid of them stays a grid at any DPI (its cells may differ by a pixel).
SkinRect ScaleRectForDpi(const SkinRect& rect, int32_t dpi);
SkinSize ScaleSizeForDpi(const SkinSize& size, int32_t dpi);

// Artwork sets, in percent of the 96-DPI pictures. Every picture is drawn at each of these.
inline constexpr int32_t kArtworkScales[] = {100, 150, 200};

// The artwork set to draw with at `dpi`: the one made for exactly that scale, else the next
// larger one (shrinking keeps detail, stretching up blurs), else the largest there is.
// `available` is in ascending order; 100 when it is empty.
int32_t ChooseArtworkScale(int32_t dpi, std::span<const int32_t> available = kArtworkScales);

// The size of one axis of an artwork set: a picture cut into `cells` equal cells keeps equal
// cells, each the 100 % cell scaled, so "i/n" part lines cut the same pictures in every set.
// `cells` is 1 for an axis without a grid (or whose length does not divide).
int32_t ArtworkLength(int32_t length, int32_t cells, int32_t percent);
