// A skinned window of the program's own (header panel, tab control, scroll bar): painted
// through a buffer over its parent's background, and a parent to skinned controls itself -
// it passes their owner-draw requests back to them and their background requests up.
#pragma once

#include <string>

#include "skin/skin_control_win.h"

class CSkinWnd : public CSkinControl<CWindow> {
 public:
  explicit CSkinWnd(std::string style = {}) : CSkinControl(std::move(style)) {}

  bool Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text,
              DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);

 protected:
  bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  // The window's own background, in client coordinates.
  virtual void PaintBackground(HDC dc);
  virtual void Paint(HDC dc) { (void)dc; }
  // What a child sees under itself; `dc` is in the child's coordinates.
  virtual void PaintChildBackground(HWND child, HDC dc);
  // Answers WM_CTLCOLOR* of children; null leaves the system's answer.
  virtual HBRUSH ChildColorBrush(HDC dc) {
    (void)dc;
    return nullptr;
  }

 private:
  HFONT font_ = nullptr;
};
