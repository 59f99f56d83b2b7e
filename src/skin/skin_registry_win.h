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
#include <tuple>
#include <vector>

#include "base/unique_handle_win.h"
#include "skin/skin_artwork.h"
#include "skin/skin_attributes.h"
#include "skin/skin_geometry.h"
#include "skin/skin_image_win.h"
#include "skin/skin_part_table.h"
#include "skin/skin_scale.h"

// A font of the skin as laid out at 96 DPI; the registry makes it for any other DPI on demand.
struct SkinFontSpec {
  int32_t height = -12;  // logical units at 96 DPI; negative = character height
  int32_t weight = 400;
  bool underline = false;
};

class CSkinRegistry {
 public:
  CSkinRegistry() = default;
  CSkinRegistry(const CSkinRegistry&) = delete;
  CSkinRegistry& operator=(const CSkinRegistry&) = delete;

  static CSkinRegistry& Instance();

  // Loads resource `id` of type "IMAGE" from `module` and registers it; a missing resource
  // registers nothing and takes no index. Returns the image index or -1. The larger artwork
  // sets of the same picture are resources `id` of type "IMAGE150" and "IMAGE200".
  int32_t RegisterImage(HMODULE module, int id, std::string_view partList);
  int32_t RegisterImageBytes(const void* bytes, size_t size, std::string_view partList);
  // Adds the `percent` set of a registered image; false when it cannot be decoded.
  bool AddImageScale(int32_t image, int32_t percent, const void* bytes, size_t size);
  std::vector<int32_t> ImageScales(int32_t image) const { return artwork_.Scales(image); }

  const SkinPart& FindPart(std::string_view base, std::string_view suffix = {}) const {
    return parts_.Find(base, suffix);
  }
  bool HasPart(std::string_view base, std::string_view suffix = {}) const {
    return !FindPart(base, suffix).IsEmpty();
  }
  SkinSize ImageSize(int32_t image, int32_t percent = 100) const;
  int32_t imageCount() const { return nextImage_; }

  // Parts are drawn for a window's DPI: "natural size" is the part's size at that DPI, and the
  // pixels come from the artwork set ChooseArtworkScale picks, shrunk smoothly to the target.
  bool DrawPart(const SkinPart& part, HDC dc, uint32_t flags, const RECT& target,
                int32_t dpi) const;
  // At natural size where the target is empty, stretched otherwise.
  bool DrawPart(const SkinPart& part, HDC dc, const RECT& target, int32_t dpi) const {
    return DrawPart(part, dc, kSkinNaturalSize, target, dpi);
  }
  bool DrawPart(std::string_view base, std::string_view suffix, HDC dc, const RECT& target,
                int32_t dpi, uint32_t flags = kSkinNaturalSize) const {
    return DrawPart(FindPart(base, suffix), dc, flags, target, dpi);
  }
  // An icon part and a line of text side by side in a cell (SkinTextIconAlign flags); the text
  // is drawn with `format` (DT_* flags).
  void DrawTextWithPart(const SkinPart& part, HDC dc, const std::wstring& text, const RECT& cell,
                        uint32_t align, UINT format, int32_t dpi) const;

  // Takes ownership of `object`; one object may be registered under several names.
  void RegisterObject(std::string_view name, HGDIOBJ object);
  // A stock object, registered without being owned.
  void RegisterStockObject(std::string_view name, HGDIOBJ object);
  // A font made from `spec` at 96 DPI, and at other DPIs when asked for; returns the 96-DPI one
  // so that it can be registered under more names.
  HFONT RegisterFont(std::string_view name, const SkinFontSpec& spec);
  HGDIOBJ FindObject(std::string_view base, std::string_view suffix = {},
                     HGDIOBJ fallback = nullptr) const;
  // The font registered as base + suffix, else base, made for `dpi`; else `fallback`.
  HFONT FindFont(std::string_view base, std::string_view suffix = {}, HFONT fallback = nullptr,
                 int32_t dpi = kBaseDpi) const;
  // `font` made for `dpi` when it is one of the skin's fonts (at any DPI); else `font` itself.
  HFONT FontForDpi(HFONT font, int32_t dpi) const;

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
  const CSkinImage* Image(int32_t image, int32_t percent) const;

  CSkinAttributes attributes_;
  // image index -> percent -> picture
  std::map<int32_t, std::map<int32_t, std::unique_ptr<CSkinImage>>> images_;
  SkinArtwork artwork_;
  int32_t nextImage_ = 0;
  SkinPartTable parts_;
  std::map<std::string, HGDIOBJ, std::less<>> objects_;
  std::vector<UniqueGdiObject> ownedObjects_;
  // Fonts by what they are: the description of every font the registry made, and the one made
  // for each description and DPI (made on first use, so mutable behind the const lookups).
  mutable std::map<HGDIOBJ, SkinFontSpec> fontSpecs_;
  mutable std::map<std::tuple<int32_t, int32_t, bool, int32_t>, HFONT> fontsByDpi_;
  mutable std::vector<UniqueGdiObject> scaledFonts_;
};
