#include "framework/application_win.h"

#include <vector>

#include "framework/module_win.h"
#include "framework/window_win.h"

namespace {

CApplication* g_current = nullptr;

}  // namespace

CApplication::CApplication() : previous_(g_current) { g_current = this; }

CApplication::~CApplication() {
  if (g_current == this) g_current = previous_;
}

CApplication* CApplication::Current() { return g_current; }

bool CApplication::InitInstance() { return true; }

int CApplication::ExitInstance() { return exitCode_; }

int CApplication::Run() {
  if (!InitInstance()) return ExitInstance();
  if (mainWindow_ && mainWindow_->hwnd()) {
    inMessageLoop_ = true;
    MSG message;
    for (;;) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0) {
        exitCode_ = static_cast<int>(message.wParam);
        break;
      }
      if (got == -1) break;
      if (PreTranslate(message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    inMessageLoop_ = false;
  }
  return ExitInstance();
}

bool CApplication::PreTranslate(MSG& message) {
  // From the window the message is for up to its top-level window, so a dialog sees the keys
  // meant for its controls.
  for (HWND window = message.hwnd; window; window = GetAncestor(window, GA_PARENT)) {
    if (CWindow* object = CWindow::FromHandle(window);
        object && object->PreTranslateMessage(message)) {
      return true;
    }
    if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)) break;
  }
  return false;
}

std::wstring CApplication::ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

void CApplication::SetAppName(const std::wstring& name) {
  appName_ = name;
  profile_.SetAppName(name);
}

void CApplication::SetRegistryKey(const std::wstring& key) {
  registryKey_ = key;
  profile_.SetRegistryKey(key);
}

int CApplication::AppMessageBox(const std::wstring& text, UINT type) {
  HWND owner = nullptr;
  if (mainWindow_ && mainWindow_->hwnd()) owner = GetLastActivePopup(mainWindow_->hwnd());
  return MessageBoxW(owner, text.c_str(), appName_.c_str(), type);
}

void CApplication::OnWindowDestroyed(CWindow* window) {
  if (window != mainWindow_) return;
  mainWindow_ = nullptr;
  // A main window run as a modal dialog ends its own loop; a quit message left behind would
  // close the next message box before anyone saw it.
  if (inMessageLoop_) PostQuitMessage(0);
}

uint32_t CApplication::GetProfileInt(const std::wstring& section, const std::wstring& entry,
                                     uint32_t fallback) {
  return profile_.GetProfileInt(section, entry, fallback);
}

std::wstring CApplication::GetProfileString(const std::wstring& section, const std::wstring& entry,
                                            const std::wstring& fallback) {
  return profile_.GetProfileString(section, entry, fallback);
}

std::optional<std::vector<uint8_t>> CApplication::GetProfileBinary(const std::wstring& section,
                                                                   const std::wstring& entry) {
  return profile_.GetProfileBinary(section, entry);
}

bool CApplication::WriteProfileInt(const std::wstring& section, const std::wstring& entry,
                                   uint32_t value) {
  return profile_.WriteProfileInt(section, entry, value);
}

bool CApplication::WriteProfileString(const std::wstring& section, const std::wstring& entry,
                                      const std::optional<std::wstring>& value) {
  return profile_.WriteProfileString(section, entry, value);
}

bool CApplication::WriteProfileBinary(const std::wstring& section, const std::wstring& entry,
                                      const std::vector<uint8_t>& bytes) {
  return profile_.WriteProfileBinary(section, entry, bytes);
}

int RunApplication(CApplication& app, HINSTANCE instance) {
  HardenModuleSearchPath();
  app.SetInstance(instance);
  return app.Run();
}
