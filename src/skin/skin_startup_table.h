// The skin images the program registers at start-up, in registration order (the image index is
// the position in this list): resource id, the artwork file it is built from, its format and
// size, and the part list that cuts it into parts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "skin/skin_geometry.h"

struct SkinStartupImage {
  int resourceId;
  std::string_view file;  // under res/art
  int32_t width;
  int32_t height;
  bool alpha;
  std::string_view partList;
};

std::span<const SkinStartupImage> SkinStartupImages();

// The file of the `percent` artwork set of `file`: "frame.jpg" -> "frame_150.jpg". Bitmaps are
// stored as PNG in the larger sets ("buttons.bmp" -> "buttons_150.png").
std::string ArtworkFileForScale(std::string_view file, int32_t percent);

// The grid a part list cuts its picture into: the least common multiple of the "i/n" column and
// row counts (1 where there are none). The larger sets keep it, cell for cell.
struct ArtworkGrid {
  int32_t columns = 1;
  int32_t rows = 1;
  bool operator==(const ArtworkGrid&) const = default;
};
ArtworkGrid ArtworkGridOf(std::string_view partList);

// The size of the `percent` set of `image`.
SkinSize ArtworkSizeForScale(const SkinStartupImage& image, int32_t percent);
