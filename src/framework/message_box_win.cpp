#include "framework/message_box_win.h"

#include "framework/application_win.h"

int ShowAppMessageBox(const std::wstring& text, UINT type, HWND fallbackOwner,
                      const wchar_t* fallbackCaption) {
  if (CApplication* app = CApplication::Current()) return app->AppMessageBox(text, type);
  return MessageBoxW(fallbackOwner, text.c_str(), fallbackCaption, type);
}
