#include "skin/skin_image_win.h"

#include <algorithm>
using std::max;
using std::min;
#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <mutex>

namespace {

// GDI+ starts with the first image and stops when the last one is gone; images are decoded on
// the user-interface thread, but the lock keeps a start racing a stop impossible.
std::shared_ptr<void> AcquireDecoder() {
  static std::mutex lock;
  static std::weak_ptr<void> running;
  std::lock_guard<std::mutex> guard(lock);
  if (auto session = running.lock()) return session;
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return nullptr;
  std::shared_ptr<void> session(reinterpret_cast<void*>(token), [](void* t) {
    std::lock_guard<std::mutex> inner(lock);
    Gdiplus::GdiplusShutdown(reinterpret_cast<ULONG_PTR>(t));
  });
  running = session;
  return session;
}

// A stream over a private copy of the bytes; the stream frees the copy.
IStream* MemoryStream(const void* bytes, size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return nullptr;
  if (void* data = GlobalLock(memory)) {
    std::memcpy(data, bytes, size);
    GlobalUnlock(memory);
  }
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
    GlobalFree(memory);
    return nullptr;
  }
  return stream;
}

}  // namespace

std::unique_ptr<CSkinImage> CSkinImage::Decode(const void* bytes, size_t size) {
  std::unique_ptr<CSkinImage> image(new CSkinImage());
  if (!bytes || size == 0) return image;
  image->decoder_ = AcquireDecoder();
  if (!image->decoder_) return image;
  IStream* stream = MemoryStream(bytes, size);
  if (!stream) return image;
  {
    Gdiplus::Bitmap decoded(stream);
    const UINT w = decoded.GetWidth();
    const UINT h = decoded.GetHeight();
    if (decoded.GetLastStatus() == Gdiplus::Ok && w > 0 && h > 0 && w <= 8192 && h <= 8192) {
      BITMAPINFO info = {};
      info.bmiHeader.biSize = sizeof(info.bmiHeader);
      info.bmiHeader.biWidth = static_cast<LONG>(w);
      info.bmiHeader.biHeight = -static_cast<LONG>(h);
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 32;
      info.bmiHeader.biCompression = BI_RGB;
      void* bits = nullptr;
      UniqueBitmap dib(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
      Gdiplus::BitmapData data = {};
      data.Width = w;
      data.Height = h;
      data.Stride = static_cast<INT>(w * 4);
      data.PixelFormat = PixelFormat32bppPARGB;
      data.Scan0 = bits;
      Gdiplus::Rect all(0, 0, static_cast<INT>(w), static_cast<INT>(h));
      if (dib && decoded.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                  PixelFormat32bppPARGB, &data) == Gdiplus::Ok) {
        decoded.UnlockBits(&data);
        image->width_ = static_cast<int32_t>(w);
        image->height_ = static_cast<int32_t>(h);
        image->hasAlpha_ = Gdiplus::IsAlphaPixelFormat(decoded.GetPixelFormat());
        image->bits_ = bits;
        image->bitmap_ = std::move(dib);
      }
    }
  }
  stream->Release();
  return image;
}

bool CSkinImage::Draw(HDC dc, const SkinRect& source, const SkinRect& target) const {
  if (!bitmap_ || source.Width() <= 0 || source.Height() <= 0 || target.Width() <= 0 ||
      target.Height() <= 0) {
    return false;
  }
  if (target.Width() < source.Width() || target.Height() < source.Height()) {
    return DrawShrunk(dc, source, target);
  }
  UniqueMemoryDc memory(CreateCompatibleDC(dc));
  if (!memory) return false;
  SelectedObject selected(memory.get(), bitmap_.get());
  if (hasAlpha_) {
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    return AlphaBlend(dc, target.left, target.top, target.Width(), target.Height(), memory.get(),
                      source.left, source.top, source.Width(), source.Height(), blend) != FALSE;
  }
  if (source.Width() == target.Width() && source.Height() == target.Height()) {
    return BitBlt(dc, target.left, target.top, target.Width(), target.Height(), memory.get(),
                  source.left, source.top, SRCCOPY) != FALSE;
  }
  // The default stretch mode ANDs merged pixels together, which darkens shrunk pictures.
  const int previous = SetStretchBltMode(dc, COLORONCOLOR);
  const BOOL ok = StretchBlt(dc, target.left, target.top, target.Width(), target.Height(),
                             memory.get(), source.left, source.top, source.Width(),
                             source.Height(), SRCCOPY);
  SetStretchBltMode(dc, previous);
  return ok != FALSE;
}

// Shrinking with the blits' own stretching drops whole rows and columns, which breaks thin
// lines and text in the pictures; GDI+ averages them instead (bicubic, pixels sampled at their
// centres, edges mirrored so that the rim of a part does not fade into nothing).
bool CSkinImage::DrawShrunk(HDC dc, const SkinRect& source, const SkinRect& target) const {
  Gdiplus::Bitmap pixels(width_, height_, width_ * 4, PixelFormat32bppPARGB,
                         static_cast<BYTE*>(bits_));
  if (pixels.GetLastStatus() != Gdiplus::Ok) return false;
  Gdiplus::Graphics graphics(dc);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.SetCompositingMode(hasAlpha_ ? Gdiplus::CompositingModeSourceOver
                                        : Gdiplus::CompositingModeSourceCopy);
  Gdiplus::ImageAttributes edges;
  edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  const Gdiplus::Rect to(target.left, target.top, target.Width(), target.Height());
  return graphics.DrawImage(&pixels, to, source.left, source.top, source.Width(),
                            source.Height(), Gdiplus::UnitPixel, &edges) == Gdiplus::Ok;
}
