// Loading system DLLs without letting a planted copy in the current or program folder win.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle_win.h"

// Loads `name` ("user32.dll") from the system folder by full path. Refuses anything that is not
// a bare file name, so a caller cannot be talked into loading from elsewhere.
UniqueModule LoadSystemModule(const std::wstring& name);

// Takes the current folder out of the DLL search order and makes SearchPath look in it last.
// The program's own folder stays first, where the binding module is loaded from by bare name.
// Call first thing at start-up; every step is skipped where the system lacks it.
void HardenModuleSearchPath();
