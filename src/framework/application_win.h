// The application object: one per process, driven from the program's wWinMain through
// RunApplication(). Holds the names under which the per-user profile lives, the main window
// and the process's message loop.
#pragma once

#include <windows.h>

#include <string>

#include "config/registry_profile.h"
#include "framework/message_box_win.h"
#include "framework/user_registry_profile_win.h"

class CWindow;

class CApplication : public RegistryProfile {
 public:
  CApplication();
  CApplication(const CApplication&) = delete;
  CApplication& operator=(const CApplication&) = delete;
  ~CApplication() override;

  // The application object of this process, or null before one exists. For the framework's
  // windows (their module, their owner, the end of the loop); services are handed to windows
  // by whoever creates them.
  static CApplication* Current();

  // Start-up. False ends the process through ExitInstance; true runs the message loop while
  // there is a main window (with none, as after a command-line action, it ends at once).
  virtual bool InitInstance();
  // Clean-up; the result is the process exit code (by default the code of WM_QUIT).
  virtual int ExitInstance();
  int Run();

  void SetInstance(HINSTANCE instance) { instance_ = instance; }
  HINSTANCE Instance() const { return instance_; }
  // Full path of the running executable.
  static std::wstring ModulePath();

  void SetAppName(const std::wstring& name);
  const std::wstring& AppName() const { return appName_; }
  void SetRegistryKey(const std::wstring& key);
  const std::wstring& RegistryKey() const { return registryKey_; }

  CWindow* MainWindow() const { return mainWindow_; }
  void SetMainWindow(CWindow* window) { mainWindow_ = window; }

  // A message box captioned with the application name, owned by the main window (or the
  // dialog it is running) when there is one. Returns the button pressed.
  int AppMessageBox(const std::wstring& text, UINT type = MB_OK);
  // AppMessageBox, for the windows that show boxes.
  MessageBoxFn MessageBoxes() {
    return [this](const std::wstring& text, UINT type) { return AppMessageBox(text, type); };
  }

  // Called by every window as it goes away; the main window leaving ends the message loop.
  void OnWindowDestroyed(CWindow* window);

  uint32_t GetProfileInt(const std::wstring& section, const std::wstring& entry,
                         uint32_t fallback) override;
  std::wstring GetProfileString(const std::wstring& section, const std::wstring& entry,
                                const std::wstring& fallback) override;
  std::optional<std::vector<uint8_t>> GetProfileBinary(const std::wstring& section,
                                                       const std::wstring& entry) override;
  bool WriteProfileInt(const std::wstring& section, const std::wstring& entry,
                       uint32_t value) override;
  bool WriteProfileString(const std::wstring& section, const std::wstring& entry,
                          const std::optional<std::wstring>& value) override;
  bool WriteProfileBinary(const std::wstring& section, const std::wstring& entry,
                          const std::vector<uint8_t>& bytes) override;

 private:
  bool PreTranslate(MSG& message);

  HINSTANCE instance_ = nullptr;
  std::wstring appName_;
  std::wstring registryKey_;
  CUserRegistryProfile profile_;
  CWindow* mainWindow_ = nullptr;
  bool inMessageLoop_ = false;
  int exitCode_ = 0;
  CApplication* previous_ = nullptr;
};

// Everything wWinMain has to do: hardens the DLL search path, then runs the application.
int RunApplication(CApplication& app, HINSTANCE instance);
