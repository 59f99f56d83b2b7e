#include "framework/message_filter_win.h"

#include "framework/module_win.h"

bool AllowMessageForWindow(HWND window, UINT message) {
  if (window == nullptr || message == 0) return false;
  UniqueModule user32 = LoadSystemModule(L"user32.dll");
  if (!user32) return false;
  using ForWindowFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  constexpr DWORD kMsgfltAllow = 1;
  const auto forWindow = reinterpret_cast<ForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(user32.get(), "ChangeWindowMessageFilterEx")));
  return forWindow && forWindow(window, message, kMsgfltAllow, nullptr);
}
