// The one process-wide store of skin images cut into named parts, fonts, brushes, pens and
// global attributes. Filled at start-up before any window exists; windows look things up by
// name (base + state suffix) and never get a failure: a missing part is the empty part, which
// draws nothing, and a missing object or attribute yields the caller's default.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_handle_win.h"
#include "skin/skin_attributes.h"
#include "skin/skin_geometry.h"
#include "skin/skin_image_win.h"
#include "skin/skin_part_table.h"

class CSkinRegistry {
 public:
  CSkinRegistry() = default;
  CSkinRegistry(const CSkinRegistry&) = delete;
  CSkinRegistry& operator=(const CSkinRegistry&) = delete;

  static CSkinRegistry& Instance();

  // Loads resource `id` of type "IMAGE" from `module` and registers it; a missing resource
  // registers nothing and takes no index. Returns the image index or -1.
  int32_t RegisterImage(HMODULE module, int id, std::string_view partList);
  int32_t RegisterImageBytes(const void* bytes, size_t size, std::string_view partList);

  const SkinPart& FindPart(std::string_view base, std::string_view suffix = {}) const {
    return parts_.Find(base, suffix);
  }
  bool HasPart(std::string_view base, std::string_view suffix = {}) const {
    return !FindPart(base, suffix).IsEmpty();
  }
  SkinSize ImageSize(int32_t image) const;
  int32_t imageCount() const { return nextImage_; }

  bool DrawPart(const SkinPart& part, HDC dc, uint32_t flags, const RECT& target) const;
  // At natural size where the target is empty, stretched otherwise.
  bool DrawPart(const SkinPart& part, HDC dc, const RECT& target) const {
    return DrawPart(part, dc, kSkinNaturalSize, target);
  }
  bool DrawPart(std::string_view base, std::string_view suffix, HDC dc, const RECT& target,
                uint32_t flags = kSkinNaturalSize) const {
    return DrawPart(FindPart(base, suffix), dc, flags, target);
  }
  // An icon part and a line of text side by side in a cell (SkinTextIconAlign flags); the text
  // is drawn with `format` (DT_* flags).
  void DrawTextWithPart(const SkinPart& part, HDC dc, const std::wstring& text, const RECT& cell,
                        uint32_t align, UINT format) const;

  // Takes ownership of `object`; one object may be registered under several names.
  void RegisterObject(std::string_view name, HGDIOBJ object);
  // A stock object, registered without being owned.
  void RegisterStockObject(std::string_view name, HGDIOBJ object);
  HGDIOBJ FindObject(std::string_view base, std::string_view suffix = {},
                     HGDIOBJ fallback = nullptr) const;
  HFONT FindFont(std::string_view base, std::string_view suffix = {},
                 HFONT fallback = nullptr) const {
    return static_cast<HFONT>(FindObject(base, suffix, fallback));
  }

  CSkinAttributes& attributes() { return attributes_; }
  const CSkinAttributes& attributes() const { return attributes_; }
  int32_t& IntAttribute(std::string_view name) { return attributes_.IntAttribute(name); }
  std::wstring& TextAttribute(std::string_view name) { return attributes_.TextAttribute(name); }
  int32_t FindInt(std::string_view base, std::string_view suffix, int32_t fallback) const {
    return attributes_.FindInt(base, suffix, fallback);
  }
  std::wstring FindText(std::string_view base, std::string_view suffix,
                        std::wstring_view fallback) const {
    return attributes_.FindText(base, suffix, fallback);
  }

 private:
  int32_t Store(std::unique_ptr<CSkinImage> image, std::string_view partList);

  CSkinAttributes attributes_;
  std::map<int32_t, std::unique_ptr<CSkinImage>> images_;
  int32_t nextImage_ = 0;
  SkinPartTable parts_;
  std::map<std::string, HGDIOBJ, std::less<>> objects_;
  std::vector<UniqueGdiObject> ownedObjects_;
};
