// Fills the skin registry at start-up: the images, then the fonts, brushes and pens, then the
// global attributes, in that order.
#pragma once

#include <windows.h>

#include <string>

class CSkinRegistry;

// From the IMAGE resources of `module` (the program).
void RegisterStartupSkin(CSkinRegistry& registry, HMODULE module);
// From the artwork files in `artFolder` (res/art), for programs without the resources: the
// gallery and the tests.
void RegisterStartupSkinFromFolder(CSkinRegistry& registry, const std::wstring& artFolder);
