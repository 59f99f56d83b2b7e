#include "skin/skin_registry_win.h"

#include <algorithm>
#include <utility>

CSkinRegistry& CSkinRegistry::Instance() {
  static CSkinRegistry registry;
  return registry;
}

namespace {

struct ResourceBytes {
  const void* bytes = nullptr;
  DWORD size = 0;
};

ResourceBytes FindResourceBytes(HMODULE module, int id, const wchar_t* type) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!info) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, info);
  if (!bytes || size == 0) return {};
  return {bytes, size};
}

HFONT MakeFont(const SkinFontSpec& spec, int32_t dpi) {
  return CreateFontW(ScaleForDpi(spec.height, dpi), 0, 0, 0, spec.weight, FALSE,
                     spec.underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH, nullptr);
}

}  // namespace

int32_t CSkinRegistry::RegisterImage(HMODULE module, int id, std::string_view partList) {
  const ResourceBytes base = FindResourceBytes(module, id, L"IMAGE");
  if (!base.bytes) return -1;
  const int32_t index = Store(CSkinImage::Decode(base.bytes, base.size), partList);
  for (const auto& [percent, type] : {std::pair{150, L"IMAGE150"}, std::pair{200, L"IMAGE200"}}) {
    const ResourceBytes scaled = FindResourceBytes(module, id, type);
    if (scaled.bytes) AddImageScale(index, percent, scaled.bytes, scaled.size);
  }
  return index;
}

bool CSkinRegistry::AddImageScale(int32_t image, int32_t percent, const void* bytes,
                                  size_t size) {
  const auto it = images_.find(image);
  if (it == images_.end() || percent <= 100 || !bytes || size == 0) return false;
  std::unique_ptr<CSkinImage> decoded = CSkinImage::Decode(bytes, size);
  if (decoded->width() <= 0 || decoded->height() <= 0) return false;
  artwork_.AddScale(image, percent, {decoded->width(), decoded->height()});
  it->second[percent] = std::move(decoded);
  return true;
}

int32_t CSkinRegistry::RegisterImageBytes(const void* bytes, size_t size,
                                          std::string_view partList) {
  if (!bytes || size == 0) return -1;
  return Store(CSkinImage::Decode(bytes, size), partList);
}

int32_t CSkinRegistry::Store(std::unique_ptr<CSkinImage> image, std::string_view partList) {
  const int32_t index = nextImage_++;
  parts_.AddPartList(partList, index, image->width(), image->height());
  artwork_.AddImage(index, partList, {image->width(), image->height()});
  images_[index][100] = std::move(image);
  return index;
}

const CSkinImage* CSkinRegistry::Image(int32_t image, int32_t percent) const {
  const auto it = images_.find(image);
  if (it == images_.end()) return nullptr;
  const auto set = it->second.find(percent);
  return set == it->second.end() ? nullptr : set->second.get();
}

SkinSize CSkinRegistry::ImageSize(int32_t image, int32_t percent) const {
  const CSkinImage* picture = Image(image, percent);
  if (!picture) return {};
  return {picture->width(), picture->height()};
}

bool CSkinRegistry::DrawPart(const SkinPart& part, HDC dc, uint32_t flags, const RECT& target,
                             int32_t dpi) const {
  const auto placed = PlacePart(
      part, SkinRect{target.left, target.top, target.right, target.bottom}, flags, dpi);
  if (!placed || !dc) return false;
  // Parts may name pixels past the image's edge; only the pixels that exist are copied.
  const auto source = artwork_.SourceFor(part, dpi);
  if (!source) return false;
  const CSkinImage* picture = Image(part.image, source->percent);
  return picture && picture->Draw(dc, source->source, *placed);
}

void CSkinRegistry::DrawTextWithPart(const SkinPart& part, HDC dc, const std::wstring& text,
                                     const RECT& cell, uint32_t align, UINT format,
                                     int32_t dpi) const {
  SIZE extent = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  const SkinSize icon = PartSizeForDpi(part, dpi);
  const TextWithIconLayout layout = LayoutTextWithIcon(
      {cell.left, cell.top, cell.right, cell.bottom}, icon, extent.cx, align, dpi);
  RECT textRect = {layout.text.left, layout.text.top, layout.text.right, layout.text.bottom};
  if (layout.singleLineCentered) format |= DT_SINGLELINE | DT_VCENTER;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect, format);
  const RECT iconRect = {layout.icon.left, layout.icon.top, layout.icon.right, layout.icon.bottom};
  DrawPart(part, dc, iconRect, dpi);
}

void CSkinRegistry::RegisterObject(std::string_view name, HGDIOBJ object) {
  if (!object) return;
  const bool known = std::any_of(ownedObjects_.begin(), ownedObjects_.end(),
                                 [&](const UniqueGdiObject& o) { return o.get() == object; });
  if (!known) ownedObjects_.emplace_back(object);
  objects_.insert_or_assign(std::string(name), object);
}

void CSkinRegistry::RegisterStockObject(std::string_view name, HGDIOBJ object) {
  if (object) objects_.insert_or_assign(std::string(name), object);
}

HFONT CSkinRegistry::RegisterFont(std::string_view name, const SkinFontSpec& spec) {
  HFONT font = MakeFont(spec, kBaseDpi);
  if (!font) return nullptr;
  RegisterObject(name, font);
  fontSpecs_[font] = spec;
  fontsByDpi_[{spec.height, spec.weight, spec.underline, kBaseDpi}] = font;
  return font;
}

HFONT CSkinRegistry::FontForDpi(HFONT font, int32_t dpi) const {
  const auto known = fontSpecs_.find(font);
  if (!font || known == fontSpecs_.end() || dpi <= 0) return font;
  const SkinFontSpec spec = known->second;
  const auto key = std::make_tuple(spec.height, spec.weight, spec.underline, dpi);
  if (const auto made = fontsByDpi_.find(key); made != fontsByDpi_.end()) return made->second;
  HFONT scaled = MakeFont(spec, dpi);
  if (!scaled) return font;
  scaledFonts_.emplace_back(scaled);
  fontSpecs_[scaled] = spec;
  fontsByDpi_[key] = scaled;
  return scaled;
}

HFONT CSkinRegistry::FindFont(std::string_view base, std::string_view suffix, HFONT fallback,
                              int32_t dpi) const {
  HFONT font = static_cast<HFONT>(FindObject(base, suffix, nullptr));
  return font ? FontForDpi(font, dpi) : fallback;
}

HGDIOBJ CSkinRegistry::FindObject(std::string_view base, std::string_view suffix,
                                  HGDIOBJ fallback) const {
  if (!suffix.empty()) {
    if (auto it = objects_.find(SkinName(base, suffix)); it != objects_.end()) return it->second;
  }
  if (auto it = objects_.find(base); it != objects_.end()) return it->second;
  return fallback;
}
