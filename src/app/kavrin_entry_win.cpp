// The program's entry point and its one application object.
#include <windows.h>

#include "app/vpn_app_win.h"
#include "framework/module_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a module: no planted DLL in the current folder may win.
  HardenModuleSearchPath();
  CVpnApp app;
  return RunApplication(app, instance);
}
