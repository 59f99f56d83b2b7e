#include "skin/skin_artwork.h"

#include "skin/skin_scale.h"

void SkinArtwork::AddImage(int32_t image, std::string_view partList, SkinSize size100) {
  Image& entry = images_[image];
  entry = Image{};
  entry.partList = std::string(partList);
  entry.sizes[100] = size100;
}

void SkinArtwork::AddScale(int32_t image, int32_t percent, SkinSize size) {
  const auto it = images_.find(image);
  if (it == images_.end() || percent <= 100 || size.width <= 0 || size.height <= 0) return;
  Image& entry = it->second;
  entry.sizes[percent] = size;
  SkinPartTable& table = entry.parts[percent];
  table = SkinPartTable{};
  table.AddPartList(entry.partList, image, size.width, size.height, percent);
}

std::vector<int32_t> SkinArtwork::Scales(int32_t image) const {
  std::vector<int32_t> scales;
  const auto it = images_.find(image);
  if (it == images_.end()) return scales;
  for (const auto& [percent, size] : it->second.sizes) scales.push_back(percent);
  return scales;
}

std::optional<ArtworkSource> SkinArtwork::SourceFor(const SkinPart& part, int32_t dpi) const {
  if (part.IsEmpty()) return std::nullopt;
  const auto it = images_.find(part.image);
  if (it == images_.end()) return std::nullopt;
  const Image& entry = it->second;
  const int32_t percent = ChooseArtworkScale(dpi, Scales(part.image));
  if (percent != 100) {
    // A part registered by hand rather than by the list has no place in the larger sets.
    const SkinPart& scaled = entry.parts.at(percent).Find(part.name);
    if (!scaled.IsEmpty()) {
      return ArtworkSource{percent, ClipPartToImage(scaled, entry.sizes.at(percent))};
    }
  }
  return ArtworkSource{100, ClipPartToImage(part, entry.sizes.at(100))};
}

SkinSize PartSizeForDpi(const SkinPart& part, int32_t dpi) {
  if (part.IsEmpty()) return {};
  return ScaleSizeForDpi({part.Width(), part.Height()}, dpi);
}
