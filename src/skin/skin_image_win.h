// One decoded skin image: a 32-bit top-down DIB with premultiplied alpha, drawn with per-pixel
// alpha when the source had an alpha channel and copied otherwise.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/unique_handle_win.h"
#include "skin/skin_geometry.h"

class CSkinImage {
 public:
  // Decodes PNG, JPEG or BMP bytes. An undecodable image is kept with size 0 x 0, so its parts
  // exist but draw nothing.
  static std::unique_ptr<CSkinImage> Decode(const void* bytes, size_t size);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  bool hasAlpha() const { return hasAlpha_; }
  HBITMAP bitmap() const { return bitmap_.get(); }

  // Copies `source` (image pixels, clipped to the image) onto `target`, stretched as needed;
  // a smaller target is shrunk with a smoothing filter.
  bool Draw(HDC dc, const SkinRect& source, const SkinRect& target) const;

 private:
  CSkinImage() = default;
  bool DrawShrunk(HDC dc, const SkinRect& source, const SkinRect& target) const;

  int32_t width_ = 0;
  int32_t height_ = 0;
  bool hasAlpha_ = false;
  UniqueBitmap bitmap_;
  void* bits_ = nullptr;  // the DIB's pixels, owned by bitmap_
  // Keeps the image decoder running for as long as any image lives.
  std::shared_ptr<void> decoder_;
};
