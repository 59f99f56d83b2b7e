#include "app/vpn_app_win.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "app/app_services_win.h"
#include "config/program_data_folder.h"
#include "config/program_data_folder_win.h"
#include "config/text_table.h"
#include "framework/module_win.h"
#include "policy/bind_module_win.h"
#include "policy/bind_registration.h"
#include "service/online_update_win.h"
#include "skin/busy_bar_win.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_startup_win.h"
#include "vpn/ipv6_route_table_win.h"
#include "vpn/route_journal.h"
#include "vpn/route_table_win.h"

namespace {

std::wstring ModuleFilePath() {
  wchar_t buffer[kMaxPathChars] = {};
  const DWORD n = GetModuleFileNameW(nullptr, buffer, kMaxPathChars);
  return std::wstring(buffer, n < kMaxPathChars ? n : kMaxPathChars - 1);
}

std::wstring SystemDirectory() {
  wchar_t buffer[kMaxPathChars] = {};
  const UINT n = GetSystemDirectoryW(buffer, kMaxPathChars);
  return std::wstring(buffer, n < kMaxPathChars ? n : 0);
}

std::vector<std::wstring> CommandLineItems() {
  std::vector<std::wstring> items;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return items;
  for (int i = 0; i < count; ++i) items.emplace_back(argv[i]);
  LocalFree(argv);
  return items;
}

}  // namespace

CVpnApp::CVpnApp(const SystemOverrides& overrides) : overrides_(overrides) {
  paths_ = ComputeAppPaths(ModuleFilePath(), SystemDirectory());
  // Made the program's own (or repaired) before anything is read from it or written to it.
  SystemProgramDataFolder().Path();
  setlocale(LC_ALL, "chs");
}

bool CVpnApp::InitInstance() {
  srand(static_cast<unsigned>(time(nullptr)));

  BuildTextTable();
  SystemBindModule bind;
  const CommandLineAction action = ParseCommandLineAction(CommandLineItems());
  // A registration action decides the module's registration itself; repairing it first would
  // make "/unregister" undo nothing and report success for a module that was never registered.
  if (action.kind == CommandLineAction::Kind::kNone) RepairBindModule(bind);

  CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xFF};
  InitCommonControlsEx(&controls);
  CApplication::InitInstance();
  RegisterBusyBarClass(GetModuleHandleW(nullptr));
  SetAppName(L"Kavrin");
  SetRegistryKey(L"Kavrin");
  RegisterStartupSkin(CSkinRegistry::Instance(), GetModuleHandleW(nullptr));

  if (HandleCommandLine(action, bind)) return true;
  if (!EnforceSingleInstance()) return false;
  ProgramDataFolder& data = SystemProgramDataFolder();
  if (data.Owned()) {
    // Only now: a second instance must never touch the routes or downloads of the running one.
    RecoverLeftRoutes();
    const std::wstring& path = data.Path();
    DeleteLeftoverUpdateFolders(SystemFolderSecurityInstance(), path.substr(0, path.size() - 1),
                                {kInstallerPackageName, kPortablePackageName});
  } else {
    // The program works from memory this start: nothing is read from the folder, written to it
    // or started from it, so no journal, no application list and no update package.
    AppMessageBox(GetText("DataFolderNotSafeUpdatesPaused"), MB_OK | MB_ICONWARNING);
  }

  // Paired with no clean-up: sockets stay usable for the rest of the process.
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 0), &wsa);

  RunMainWindow();
  return false;
}

int CVpnApp::ExitInstance() {
  instance_.reset();
  CoUninitialize();
  return CApplication::ExitInstance();
}

// The binding module's entries in the socket catalog are looked at directly; when they are
// missing, stale or half-written, the registration is made afresh.
// A copy in a folder others may change is never what every program on the machine loads; the
// user hears why once, at start-up.
void CVpnApp::RepairBindModule(BindModule& bind) {
  if (!RepairBindModuleRegistration(bind, BindModuleLocation())) {
    MessageBoxW(nullptr, GetText("ModuleFolderNotProtected").c_str(), kMainWindowCaption,
                MB_ICONWARNING);
  }
}

ModuleLocation CVpnApp::BindModuleLocation() const {
  std::wstring folder = paths_.moduleFolder;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return {.security = SystemFolderSecurityInstance(),
          .folder = folder,
          .moduleFile = kBindModuleFile};
}

bool CVpnApp::HandleCommandLine(const CommandLineAction& action, BindModule& bind) {
  switch (action.kind) {
    case CommandLineAction::Kind::kNone:
      return false;
    case CommandLineAction::Kind::kRegister:
    {
      const int result = RegisterModules(bind, BindModuleLocation());
      ShowRegistrationResult(result, "RegisterModulesSuccessfully",
                             result == kModuleFolderNotProtected ? "ModuleFolderNotProtected"
                                                                 : "RegisterModulesFailed");
      return true;
    }
    case CommandLineAction::Kind::kUnregister:
      ShowRegistrationResult(UnregisterModules(bind), "UnregisterModulesSuccessfully",
                             "UnregisterModulesFailed");
      return true;
    case CommandLineAction::Kind::kUpdate:
      RunUpdateCopy(action.target);
      return true;
  }
  return false;
}

void CVpnApp::ShowRegistrationResult(int result, const char* successKey, const char* failureKey) {
  const bool ok = result == 0;
  MessageBoxW(nullptr, GetText(ok ? successKey : failureKey).c_str(), kMainWindowCaption,
              ok ? MB_ICONINFORMATION : MB_ICONWARNING);
}

void CVpnApp::RunUpdateCopy(const std::wstring& target) {
  // Without a target there is nothing to copy over; retrying would only delay the same answer.
  const bool copied =
      !target.empty() &&
      CopyWithRetries(
          [&] { return CopyFileW(paths_.modulePath.c_str(), target.c_str(), FALSE) != 0; },
          [] { Sleep(1000); });
  if (!copied) {
    AppMessageBox(GetText("CanNotUpdateGreenFile"), MB_OK);
    return;
  }
  ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool CVpnApp::EnforceSingleInstance() {
  instance_ = std::make_unique<SystemInstanceObjects>(paths_.modulePath);
  switch (CheckSingleInstance(*instance_, kSingleInstanceLeaf)) {
    case InstanceCheck::kFirst:
      return true;
    case InstanceCheck::kSquatted:
      // Someone else's object under our global name proves nothing about us; obeying it would
      // let any user keep the program from starting.
      OutputDebugStringW(L"Kavrin: the single-instance name is held by another user's object\n");
      return true;
    case InstanceCheck::kUnelevatedCopy:
      // A copy without administrator rights cannot be the running program; deferring to it
      // would let any user on the desktop keep the program from starting.
      OutputDebugStringW(L"Kavrin: a copy without administrator rights runs; it is not counted\n");
      return true;
    case InstanceCheck::kAnotherRuns:
      break;
  }
  AppMessageBox(GetText("VpnAppAlreadyRunUseTrayIconToActive"), MB_OK);
  if (HWND running = instance_->ownWindow() ? instance_->ownWindow()
                                            : FindOwnMainWindow(paths_.modulePath)) {
    PostMessageW(running, kShowMainWindowMessage, 0, 0);
  }
  instance_.reset();
  return false;
}

// A journal is left only when a connection ended without restoring its routes (a crash, a
// kill, lost power); what it created and nobody has changed since comes out before the main
// window can start another connection.
void CVpnApp::RecoverLeftRoutes() {
  const std::wstring journal = SystemRouteJournalPath();
  if (GetFileAttributesW(journal.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  RouteTable* routes = overrides_.routes;
  std::unique_ptr<IpHelperRouteTable> system;
  if (!routes) {
    system = std::make_unique<IpHelperRouteTable>();
    routes = system.get();
  }
  Ipv6RouteTable* ipv6 = overrides_.ipv6Routes;
  std::unique_ptr<IpHelperIpv6RouteTable> systemIpv6;
  if (!ipv6) {
    systemIpv6 = std::make_unique<IpHelperIpv6RouteTable>();
    ipv6 = systemIpv6.get();
  }
  const RouteRecovery recovery = RecoverOwnRouteJournal(
      *routes, SystemFolderSecurityInstance(), SystemProgramDataFolder().Path(), ipv6);
  if (recovery.ignored) {
    // Nothing to show the user: the routes stay as they are, and the file for whoever looks.
    OutputDebugStringW((L"Kavrin: route journal not recovered, others could have written it: " +
                        journal + L"\n").c_str());
  }
}

void CVpnApp::RunMainWindow() {
  AppServices services(*this, overrides_, paths_);
  SetMainWindow(&services.window());
  services.window().DoModal();
  SetMainWindow(nullptr);
}
