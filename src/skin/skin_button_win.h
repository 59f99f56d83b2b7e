// A push button drawn from the parts style + state ("Button", "ButtonHovered",
// "CancelButtonPushed", ...) with the style's font and text colour, an optional icon ("Icon"),
// horizontal ("Align") and vertical ("VAlign") alignment.
#pragma once

#include <string>

#include "skin/skin_control_win.h"

class CSkinButton : public CSkinControl<CWindow>, public ISkinItemDrawer {
 public:
  // An empty style means "Button", or "CancelButton" for the cancel id (2).
  explicit CSkinButton(std::string style = {}) : CSkinControl(std::move(style)) {}

  bool Create(HWND parent, const RECT& rect, UINT id, const std::wstring& text);
  // Takes over an existing button and makes it owner-drawn.
  bool AttachButton(HWND button);

  void DrawSkinItem(const DRAWITEMSTRUCT& item) override;

 protected:
  // "Disabled", "Pushed", "Hovered" or empty.
  std::string StateSuffix(const DRAWITEMSTRUCT& item) const;
  void TakeParentFont(HWND parent);
  void ChooseDefaultStyle(UINT id);
};
