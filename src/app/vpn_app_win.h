// The application object: prepares the process, carries out command-line actions, keeps one
// instance per machine and runs the main window, which AppServices puts together, as a modal
// dialog.
#pragma once

#include <windows.h>

#include <string>

#include "app/app_paths.h"
#include "app/command_line.h"
#include "app/system_overrides.h"
#include "base/unique_handle_win.h"
#include "framework/application_win.h"

class BindModule;

inline constexpr wchar_t kSingleInstanceMutexName[] =
    L"Global\\ORUMAVPN_SINGLE_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";
inline constexpr wchar_t kMainWindowCaption[] = L"OrumaVPN";
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
  UniqueHandle instanceMutex_;
};
