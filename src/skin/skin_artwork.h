// The artwork sets behind each skin image: the 100 % picture the parts are named in, and the
// same picture drawn larger (150 %, 200 %) on the same grid scaled. Given a part and a window's
// DPI it answers which set to draw from and where the part lies in it. Portable, so the choice
// is tested natively; the registry holds the decoded pictures.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "skin/skin_geometry.h"
#include "skin/skin_part_table.h"

struct ArtworkSource {
  int32_t percent = 100;
  SkinRect source;  // pixels of that set's picture, inside the picture
};

class SkinArtwork {
 public:
  // The part list of image `image`, cut against its 100 % picture elsewhere (the part table).
  void AddImage(int32_t image, std::string_view partList, SkinSize size100);
  // A larger set of `image`, decoded at `size`. Ignored for an unknown image or an empty size.
  void AddScale(int32_t image, int32_t percent, SkinSize size);

  // The scales `image` has, ascending (100 first).
  std::vector<int32_t> Scales(int32_t image) const;

  // The set to draw `part` from at `dpi` and the part's pixels in it: the exact or next larger
  // set (the largest when none is larger). Nothing for an empty part or an unknown image.
  std::optional<ArtworkSource> SourceFor(const SkinPart& part, int32_t dpi) const;

 private:
  struct Image {
    std::string partList;
    std::map<int32_t, SkinSize> sizes;           // percent -> picture size
    std::map<int32_t, SkinPartTable> parts;      // percent -> the list cut against that set
  };
  std::map<int32_t, Image> images_;
};

// The part's own size at `dpi` (what "natural size" means on that window).
SkinSize PartSizeForDpi(const SkinPart& part, int32_t dpi);
