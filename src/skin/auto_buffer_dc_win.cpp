#include "skin/auto_buffer_dc_win.h"

CAutoBufferDC::CAutoBufferDC(HDC target, const RECT& rect) : target_(target), rect_(rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (!target || width <= 0 || height <= 0) return;
  UniqueMemoryDc memory(CreateCompatibleDC(target));
  UniqueBitmap bitmap(CreateCompatibleBitmap(target, width, height));
  if (!memory || !bitmap) return;
  previousBitmap_ = SelectObject(memory.get(), bitmap.get());
  SetViewportOrgEx(memory.get(), -rect.left, -rect.top, nullptr);
  // Text and background settings carry over, so code written for the target draws the same.
  SelectObject(memory.get(), GetCurrentObject(target, OBJ_FONT));
  SetTextColor(memory.get(), GetTextColor(target));
  SetBkColor(memory.get(), GetBkColor(target));
  SetBkMode(memory.get(), GetBkMode(target));
  memory_ = std::move(memory);
  bitmap_ = std::move(bitmap);
}

CAutoBufferDC::~CAutoBufferDC() {
  if (!memory_) return;
  BitBlt(target_, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top,
         memory_.get(), rect_.left, rect_.top, SRCCOPY);
  SelectObject(memory_.get(), GetStockObject(SYSTEM_FONT));
  SelectObject(memory_.get(), previousBitmap_);
}
