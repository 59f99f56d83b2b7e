// The program's message box: captioned with its name over its main window's last active popup.
// Without an application object (tools, tests, or before start-up) the box sits over
// `fallbackOwner` with `fallbackCaption`.
#pragma once

#include <windows.h>

#include <string>

int ShowAppMessageBox(const std::wstring& text, UINT type, HWND fallbackOwner = nullptr,
                      const wchar_t* fallbackCaption = L"");
