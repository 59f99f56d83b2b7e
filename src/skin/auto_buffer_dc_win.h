// Flicker-free drawing: everything goes to a memory surface the size of the target rectangle,
// which reaches the screen in one block transfer when the object goes away. Drawing uses the
// target's coordinates.
#pragma once

#include <windows.h>

#include "base/unique_handle_win.h"

class CAutoBufferDC {
 public:
  CAutoBufferDC(HDC target, const RECT& rect);
  CAutoBufferDC(const CAutoBufferDC&) = delete;
  CAutoBufferDC& operator=(const CAutoBufferDC&) = delete;
  ~CAutoBufferDC();

  // The memory surface, or the target itself when no memory surface could be made.
  HDC get() const { return memory_ ? memory_.get() : target_; }
  operator HDC() const { return get(); }

 private:
  HDC target_;
  RECT rect_;
  UniqueMemoryDc memory_;
  UniqueBitmap bitmap_;
  HGDIOBJ previousBitmap_ = nullptr;
};
