// An edit field with the shared skinned-control handling (hover, cursor, attributes); the
// system draws it, over the white field the window's picture provides.
#pragma once

#include <string>

#include "skin/skin_control_win.h"

class CSkinEdit : public CSkinControl<CWindow> {
 public:
  CSkinEdit() : CSkinControl("Edit") {}

  // `style` adds to a borderless, auto-scrolling child edit (ES_PASSWORD, WS_BORDER, ...).
  bool Create(HWND parent, const RECT& rect, UINT id, DWORD style = 0);
};
