// The application object: prepares the process, carries out command-line actions, keeps one
// instance per machine and runs the main window as a modal dialog.
#pragma once

#include <windows.h>

#include <string>

#include "app/app_paths.h"
#include "app/command_line.h"
#include "base/unique_handle_win.h"
#include "framework/application_win.h"

class BindModule;
struct MainWindowOptions;

inline constexpr wchar_t kSingleInstanceMutexName[] =
    L"Global\\ORUMAVPN_SINGLE_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";
inline constexpr wchar_t kMainWindowCaption[] = L"OrumaVPN";
// Posted by a second instance to the running one's main window: show yourself.
inline constexpr UINT kShowMainWindowMessage = WM_APP + 1;

class CVpnApp : public CApplication {
 public:
  CVpnApp();

  static CVpnApp* Get() { return static_cast<CVpnApp*>(CApplication::Current()); }

  bool InitInstance() override;
  int ExitInstance() override;

  const AppPaths& paths() const { return paths_; }
  const std::string& disk_identification() const { return disk_identification_; }
  const std::string& bios_identification() const { return bios_identification_; }
  const std::string& adapter_identification() const { return adapter_identification_; }
  // Pieces of the system the main window should use instead of its own (a test build's
  // simulated network); they must outlive the run.
  void SetMainWindowOptions(const MainWindowOptions* options) { main_window_options_ = options; }

 private:
  void RepairBindModule(BindModule& bind);
  // True when a command-line action ran; start-up ends there.
  bool HandleCommandLine(const CommandLineAction& action, BindModule& bind);
  void ShowRegistrationResult(int result, const char* success_key, const char* failure_key);
  void RunUpdateCopy(const std::wstring& target);
  // False when another instance runs (it has been asked to show itself).
  bool EnforceSingleInstance();
  // Takes back the routes of a connection that ended without restoring them.
  void RecoverLeftRoutes();
  void ComputeClientIdentification();
  void RunMainWindow();

  AppPaths paths_;
  std::string disk_identification_;
  std::string bios_identification_;
  std::string adapter_identification_;
  UniqueHandle instance_mutex_;
  const MainWindowOptions* main_window_options_ = nullptr;
};
