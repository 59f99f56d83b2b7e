// A list view's column header painted from the "HeaderCtrlColumn" parts, in "HeaderCtrlFont"
// when one is registered.
#pragma once

#include "framework/window_win.h"

class CSkinHeaderCtrl : public CWindow {
 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Paint(HDC dc);
};
