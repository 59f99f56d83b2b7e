// The application object: prepares the process, carries out command-line actions, keeps one
// instance per machine and runs the main window, which AppServices puts together, as a modal
// dialog.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/app_paths.h"
#include "app/command_line.h"
#include "app/instance_objects_win.h"
#include "app/system_overrides.h"
#include "base/unique_handle_win.h"
#include "framework/application_win.h"
#include "policy/bind_registration.h"

class BindModule;

// Posted by a second instance to the running one's main window: show yourself.
inline constexpr UINT kShowMainWindowMessage = WM_APP + 1;

class CVpnApp : public CApplication {
 public:
  // `overrides` must outlive the run.
  explicit CVpnApp(const SystemOverrides& overrides = {});

  bool InitInstance() override;
  int ExitInstance() override;

  const AppPaths& paths() const { return paths_; }

 private:
  void RepairBindModule(BindModule& bind);
  // The program's folder and the module in it, as registration sees them.
  ModuleLocation BindModuleLocation() const;
  // True when a command-line action ran; start-up ends there.
  bool HandleCommandLine(const CommandLineAction& action, BindModule& bind);
  void ShowRegistrationResult(int result, const char* successKey, const char* failureKey);
  void RunUpdateCopy(const std::wstring& target);
  // False when another instance runs (it has been asked to show itself).
  bool EnforceSingleInstance();
  // Takes back the routes of a connection that ended without restoring them.
  void RecoverLeftRoutes();
  void RunMainWindow();

  SystemOverrides overrides_;
  AppPaths paths_;
  // The instance object and the private namespace it lives in, held for the program's life.
  std::unique_ptr<SystemInstanceObjects> instance_;
};
