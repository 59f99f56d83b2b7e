// How windows show message boxes: the application hands each window that shows boxes a
// MessageBoxFn that captions them with its name and owns them by its main window (or the dialog
// that window runs). A window given none shows a plain box.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Returns the button pressed.
using MessageBoxFn = std::function<int(const std::wstring& text, UINT type)>;

inline int ShowMessageBox(const MessageBoxFn& box, const std::wstring& text, UINT type,
                          HWND plainOwner = nullptr, const wchar_t* plainCaption = L"") {
  if (box) return box(text, type);
  return ::MessageBoxW(plainOwner, text.c_str(), plainCaption, type);
}
