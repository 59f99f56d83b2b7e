// Opens the binding-options dialog of the accelerated-application list, for screenshots and
// checks by eye under Wine. Test tool, not shipped.
//   app_list_preview.exe [<use async mode 0|1> <force address binding 0|1>]
// Prints what the dialog ended with.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "config/text_table.h"
#include "policy/dlg_vpn_app_bind_setting_win.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_startup_win.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  AppBindOptions options;
  if (argv != nullptr && argc >= 3) {
    options.useAsyncMode = _wtoi(argv[1]) != 0;
    options.forceWspBind = _wtoi(argv[2]) != 0;
  }
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  BuildTextTable();
  RegisterStartupSkinFromFolder(CSkinRegistry::Instance(), ProgramFolder() + L"\\..\\..\\res\\art");

  CDlgVpnAppBindSetting dialog(options);
  const INT_PTR code = dialog.DoModal(nullptr);
  std::printf("dialog=%s async=%d force=%d\n", code == IDOK ? "ok" : "cancel",
              dialog.options().useAsyncMode ? 1 : 0, dialog.options().forceWspBind ? 1 : 0);
  return code == IDOK ? 0 : 1;
}
