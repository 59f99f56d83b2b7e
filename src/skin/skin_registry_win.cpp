#include "skin/skin_registry_win.h"

#include <algorithm>

CSkinRegistry& CSkinRegistry::Instance() {
  static CSkinRegistry registry;
  return registry;
}

int32_t CSkinRegistry::RegisterImage(HMODULE module, int id, std::string_view partList) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), L"IMAGE");
  if (!info) return -1;
  HGLOBAL loaded = LoadResource(module, info);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, info);
  if (!bytes || size == 0) return -1;
  return Store(CSkinImage::Decode(bytes, size), partList);
}

int32_t CSkinRegistry::RegisterImageBytes(const void* bytes, size_t size,
                                          std::string_view partList) {
  if (!bytes || size == 0) return -1;
  return Store(CSkinImage::Decode(bytes, size), partList);
}

int32_t CSkinRegistry::Store(std::unique_ptr<CSkinImage> image, std::string_view partList) {
  const int32_t index = nextImage_++;
  parts_.AddPartList(partList, index, image->width(), image->height());
  images_[index] = std::move(image);
  return index;
}

SkinSize CSkinRegistry::ImageSize(int32_t image) const {
  const auto it = images_.find(image);
  if (it == images_.end()) return {};
  return {it->second->width(), it->second->height()};
}

bool CSkinRegistry::DrawPart(const SkinPart& part, HDC dc, uint32_t flags,
                             const RECT& target) const {
  const auto placed =
      PlacePart(part, SkinRect{target.left, target.top, target.right, target.bottom}, flags);
  if (!placed || !dc) return false;
  const auto it = images_.find(part.image);
  if (it == images_.end()) return false;
  // Parts may name pixels past the image's edge; only the pixels that exist are copied.
  const SkinRect source = ClipPartToImage(part, {it->second->width(), it->second->height()});
  return it->second->Draw(dc, source, *placed);
}

void CSkinRegistry::DrawTextWithPart(const SkinPart& part, HDC dc, const std::wstring& text,
                                     const RECT& cell, uint32_t align, UINT format) const {
  SIZE extent = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  const SkinSize icon = part.IsEmpty() ? SkinSize{} : SkinSize{part.Width(), part.Height()};
  const TextWithIconLayout layout = LayoutTextWithIcon(
      {cell.left, cell.top, cell.right, cell.bottom}, icon, extent.cx, align);
  RECT textRect = {layout.text.left, layout.text.top, layout.text.right, layout.text.bottom};
  if (layout.singleLineCentered) format |= DT_SINGLELINE | DT_VCENTER;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect, format);
  const RECT iconRect = {layout.icon.left, layout.icon.top, layout.icon.right, layout.icon.bottom};
  DrawPart(part, dc, iconRect);
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

HGDIOBJ CSkinRegistry::FindObject(std::string_view base, std::string_view suffix,
                                  HGDIOBJ fallback) const {
  if (!suffix.empty()) {
    if (auto it = objects_.find(SkinName(base, suffix)); it != objects_.end()) return it->second;
  }
  if (auto it = objects_.find(base); it != objects_.end()) return it->second;
  return fallback;
}
