// Attributes of files the program replaces.
#pragma once

#include <string>

// Clears every attribute of `file` that would stop it from being replaced: read-only, and on
// Windows also hidden and system (the system refuses to overwrite a hidden or system file with
// a plain one). A missing file is left missing.
void ResetFileAttributes(const std::wstring& file);
