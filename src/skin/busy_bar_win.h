// The busy bar: a window class ("gs_nonprogressbar") showing a train of blocks running left to
// right while work of unknown length goes on. Themed like the system's progress bar when visual
// styles are on; style bit 0x8000 forces the classic look.
#pragma once

#include <windows.h>

constexpr wchar_t kBusyBarClassName[] = L"gs_nonprogressbar";
constexpr DWORD kBusyBarClassicStyle = 0x8000;

constexpr UINT kBusyBarGetInterval = WM_USER;         // result: the interval in ms
constexpr UINT kBusyBarSetInterval = WM_USER + 1;     // wParam: ms; restarts a running timer
constexpr UINT kBusyBarGetBlockCount = WM_USER + 2;   // result: blocks in the train
constexpr UINT kBusyBarSetBlockCount = WM_USER + 3;   // wParam: 1 to 20; result 0 refuses

// Registers the class in `instance`; true also when it is registered already.
bool RegisterBusyBarClass(HINSTANCE instance);

// The current animation step of a busy bar (0: empty); for tests and diagnostics.
unsigned BusyBarStep(HWND bar);
