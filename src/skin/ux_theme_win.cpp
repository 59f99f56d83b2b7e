#include "skin/ux_theme_win.h"

#include "framework/module_win.h"

namespace {

BOOL WINAPI NotThemed() { return FALSE; }
HTHEME_ WINAPI NoTheme(HWND, LPCWSTR) { return nullptr; }
HRESULT WINAPI CloseNothing(HTHEME_) { return E_NOTIMPL; }
HRESULT WINAPI DrawNothing(HTHEME_, HDC, int, int, const RECT*, const RECT*) { return E_NOTIMPL; }
HRESULT WINAPI NoContentRect(HTHEME_, HDC, int, int, const RECT*, RECT*) { return E_NOTIMPL; }
HRESULT WINAPI NoPartSize(HTHEME_, HDC, int, int, const RECT*, int, SIZE*) { return E_NOTIMPL; }

template <typename Fn>
void Look(HMODULE module, const char* name, Fn& slot, Fn fallback) {
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  slot = found ? reinterpret_cast<Fn>(reinterpret_cast<void*>(found)) : fallback;
}

}  // namespace

const UxTheme& UxTheme::Get() {
  static const UxTheme theme;
  return theme;
}

UxTheme::UxTheme() {
  // Kept loaded for the life of the process: the pointers below point into it.
  static UniqueModule module = LoadSystemModule(L"UxTheme.dll");
  HMODULE m = module.get();
  Look(m, "IsAppThemed", IsAppThemed, &NotThemed);
  Look(m, "OpenThemeData", OpenThemeData, &NoTheme);
  Look(m, "CloseThemeData", CloseThemeData, &CloseNothing);
  Look(m, "DrawThemeBackground", DrawThemeBackground, &DrawNothing);
  Look(m, "GetThemeBackgroundContentRect", GetThemeBackgroundContentRect, &NoContentRect);
  Look(m, "GetThemePartSize", GetThemePartSize, &NoPartSize);
}
