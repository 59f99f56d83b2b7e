// The elevated program's message filter: which messages from programs with fewer rights (the
// shell, sandboxed programs) reach one of its windows.
#pragma once

#include <windows.h>

// Lets `message` reach `window`, and that window only, from programs with fewer rights
// (ChangeWindowMessageFilterEx, Windows 7 and later). False where the system has no per-window
// filter or refuses; the process-wide filter is never widened here.
bool AllowMessageForWindow(HWND window, UINT message);
