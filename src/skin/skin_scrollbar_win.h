// A skinned scroll bar standing over a list's system scroll bar: the list's window shape leaves
// the system bar out, this window draws in its place from the "VScrollBar"/"HScrollBar" parts
// and turns clicks and drags into the list's ordinary scroll messages.
#pragma once

#include <optional>

#include "skin/skin_geometry.h"
#include "skin/skin_wnd_win.h"

class CSkinScrollbar : public CSkinWnd {
 public:
  explicit CSkinScrollbar(bool vertical)
      : CSkinWnd(vertical ? "VScrollBar" : "HScrollBar"), vertical_(vertical) {}

  // Places (creating on first use) or hides the bar to match the owner's system bar.
  void Follow(HWND owner);
  bool vertical() const { return vertical_; }

  // Lays both bars of `owner` out and clips the system bars out of the owner's shape.
  static void Sync(HWND owner, CSkinScrollbar& vertical, CSkinScrollbar& horizontal);

  enum class Element { kNone, kFirstArrow, kPageBefore, kThumb, kPageAfter, kSecondArrow };
  struct Geometry {
    SkinRect firstArrow;
    SkinRect secondArrow;
    SkinRect track;
    std::optional<SkinRect> thumb;
  };
  Geometry Measure() const;

 protected:
  void Paint(HDC dc) override;
  bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  Element HitTest(POINT at) const;
  void Act(Element element);
  void Scroll(WORD code, WORD position = 0);
  // Moves the owner so that its scroll position becomes `position` while the thumb is dragged.
  void TrackTo(int position);
  std::string StateOf(Element element) const;
  void DrawBox(HDC dc, const SkinRect& box, Element element, const char* glyph) const;

  bool vertical_;
  HWND owner_ = nullptr;
  Element pressed_ = Element::kNone;
  Element underMouse_ = Element::kNone;
  int dragOffset_ = 0;
};
