// Loading system DLLs without letting a planted copy in the current or program folder win.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle_win.h"

// Loads `name` ("user32.dll") from the system folder by full path. Refuses anything that is not
// a bare file name, so a caller cannot be talked into loading from elsewhere.
UniqueModule LoadSystemModule(const std::wstring& name);

// Limits the DLL search to the program's own folder and the system folder (the current folder
// and PATH no longer count), and makes SearchPath look in the current folder last. Call first
// thing at start-up; every step is skipped where the system lacks it.
void HardenModuleSearchPath();
