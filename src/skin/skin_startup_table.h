// The skin images the program registers at start-up, in registration order (the image index is
// the position in this list): resource id, the artwork file it is built from, its format and
// size, and the part list that cuts it into parts.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct SkinStartupImage {
  int resourceId;
  std::string_view file;  // under res/art
  int32_t width;
  int32_t height;
  bool alpha;
  std::string_view partList;
};

std::span<const SkinStartupImage> SkinStartupImages();
