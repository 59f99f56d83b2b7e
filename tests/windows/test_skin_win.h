// The skin for the Windows tests' windows. The test binary carries no resources: the artwork is
// read from the source tree (the tests run in build/windows; KAVRIN_ART overrides).
#pragma once

#include <cstdlib>
#include <string>

#include "skin/skin_registry_win.h"
#include "skin/skin_startup_win.h"

inline CSkinRegistry& TestSkin() {
  static const bool filled = [] {
    const char* art = std::getenv("KAVRIN_ART");
    const std::string folder = art ? art : "..\\..\\res\\art";
    RegisterStartupSkinFromFolder(CSkinRegistry::Instance(),
                                  std::wstring(folder.begin(), folder.end()));
    return true;
  }();
  (void)filled;
  return CSkinRegistry::Instance();
}
