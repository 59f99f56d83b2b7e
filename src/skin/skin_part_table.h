// Named rectangles cut out of the skin images, and the small text grammar that describes them.
//
// Each image comes with one part list: one part per line, "Name[,x[,y[,w[,h]]]]",
// where a field is a number (any C base) or a fraction "i/n" meaning cell i of n equal cells.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct SkinPart {
  std::string name;
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t image = -1;  // -1: no image, the part draws nothing

  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return image < 0 || name.empty(); }
};

class SkinPartTable {
 public:
  // Cuts `partList` against an image of `width` x `height` stored at index `image`. A part
  // name seen before is taken over by this image. `percent` is the scale of the artwork set
  // the image belongs to: plain numbers in the list are pixels of the 100 % picture.
  void AddPartList(std::string_view partList, int32_t image, int32_t width, int32_t height,
                   int32_t percent = 100);
  void Add(SkinPart part);

  // base + suffix exactly; the empty part when absent, so callers never test for null.
  const SkinPart& Find(std::string_view base, std::string_view suffix = {}) const;
  bool Contains(std::string_view name) const { return parts_.find(name) != parts_.end(); }
  size_t size() const { return parts_.size(); }

  static const SkinPart& EmptyPart();

 private:
  std::map<std::string, SkinPart, std::less<>> parts_;
};

// One line of a part list applied to an image; exposed for tests.
SkinPart ParseSkinPartLine(std::string_view line, int32_t image, int32_t width, int32_t height,
                           int32_t percent = 100);
