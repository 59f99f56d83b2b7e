// The visual-style functions of UxTheme.dll, looked up once by name. Where the library or a
// function is missing the stand-in fails: not themed, no theme, nothing drawn.
#pragma once

#include <windows.h>

using HTHEME_ = HANDLE;

class UxTheme {
 public:
  static const UxTheme& Get();

  BOOL(WINAPI* IsAppThemed)();
  HTHEME_(WINAPI* OpenThemeData)(HWND, LPCWSTR);
  HRESULT(WINAPI* CloseThemeData)(HTHEME_);
  HRESULT(WINAPI* DrawThemeBackground)(HTHEME_, HDC, int, int, const RECT*, const RECT*);
  HRESULT(WINAPI* GetThemeBackgroundContentRect)(HTHEME_, HDC, int, int, const RECT*, RECT*);
  HRESULT(WINAPI* GetThemePartSize)(HTHEME_, HDC, int, int, const RECT*, int, SIZE*);

 private:
  UxTheme();
};
