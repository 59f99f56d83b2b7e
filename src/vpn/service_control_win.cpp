#include "vpn/service_control_win.h"

#include <windows.h>

#include <type_traits>
#include <vector>

#include "base/unique_handle_win.h"

namespace {

struct ScHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::CloseServiceHandle(h); }
};
using UniqueScHandle = UniqueHandleT<ScHandleTraits>;

// The configuration query's buffer; a service's configuration fits with room to spare.
constexpr DWORD kConfigBufferBytes = 8192;
// Services may be installed between the size query and the fill; a few retries cover that.
constexpr int kEnumerateAttempts = 4;

// SERVICE_STATUS and SERVICE_STATUS_PROCESS share their first seven fields.
template <typename SystemStatus>
ServiceStatus FromSystem(const SystemStatus& status) {
  ServiceStatus out;
  out.serviceType = status.dwServiceType;
  out.currentState = status.dwCurrentState;
  out.controlsAccepted = status.dwControlsAccepted;
  out.win32ExitCode = status.dwWin32ExitCode;
  out.serviceSpecificExitCode = status.dwServiceSpecificExitCode;
  out.checkPoint = status.dwCheckPoint;
  out.waitHint = status.dwWaitHint;
  if constexpr (std::is_same_v<SystemStatus, SERVICE_STATUS_PROCESS>) {
    out.processId = status.dwProcessId;
    out.serviceFlags = status.dwServiceFlags;
  }
  return out;
}

class ScmService : public ServiceHandle {
 public:
  explicit ScmService(SC_HANDLE service) : service_(service) {}

  bool QueryStatus(ServiceStatus& status) override {
    SERVICE_STATUS system = {};
    if (!QueryServiceStatus(service_.get(), &system)) return false;
    status = FromSystem(system);
    return true;
  }

  bool QueryStartType(uint32_t& startType) override {
    std::vector<uint8_t> buffer(kConfigBufferBytes);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    if (!QueryServiceConfigW(service_.get(), config, kConfigBufferBytes, &needed)) return false;
    startType = config->dwStartType;
    return true;
  }

  bool ChangeStartType(uint32_t startType) override {
    return ChangeServiceConfigW(service_.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr) != FALSE;
  }

  bool Start() override { return StartServiceW(service_.get(), 0, nullptr) != FALSE; }

 private:
  UniqueScHandle service_;
};

class ScmManager : public ServiceManager {
 public:
  explicit ScmManager(SC_HANDLE manager) : manager_(manager) {}

  std::unique_ptr<ServiceHandle> Open(const std::wstring& name) override {
    SC_HANDLE service = OpenServiceW(manager_.get(), name.c_str(), SERVICE_ALL_ACCESS);
    if (!service) return nullptr;
    return std::make_unique<ScmService>(service);
  }

  bool EnumerateServices(ServiceSnapshot& snapshot) override {
    for (int attempt = 0; attempt < kEnumerateAttempts; ++attempt) {
      DWORD needed = 0;
      DWORD count = 0;
      EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                            SERVICE_STATE_ALL, nullptr, 0, &needed, &count, nullptr, nullptr);
      if (needed == 0) return false;
      // Kept as the records' own type so the strings they point into stay aligned.
      std::vector<ENUM_SERVICE_STATUS_PROCESSW> buffer(
          needed / sizeof(ENUM_SERVICE_STATUS_PROCESSW) + 1);
      const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(buffer[0]));
      DWORD resume = 0;
      count = 0;
      if (!EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                                 SERVICE_STATE_ALL, reinterpret_cast<BYTE*>(buffer.data()),
                                 bytes, &needed, &count, &resume, nullptr)) {
        if (GetLastError() == ERROR_MORE_DATA) continue;
        return false;
      }
      snapshot.clear();
      for (DWORD i = 0; i < count; ++i) {
        const ENUM_SERVICE_STATUS_PROCESSW& entry = buffer[i];
        snapshot.push_back({entry.lpServiceName ? entry.lpServiceName : L"",
                            entry.lpDisplayName ? entry.lpDisplayName : L"",
                            FromSystem(entry.ServiceStatusProcess)});
      }
      return true;
    }
    return false;
  }

 private:
  UniqueScHandle manager_;
};

}  // namespace

std::unique_ptr<ServiceManager> ScmServiceControl::OpenManager() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return nullptr;
  return std::make_unique<ScmManager>(manager);
}

void ScmServiceControl::EnableDebugPrivilege() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) return;
  AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
}

bool ScmServiceControl::TerminateProcess(uint32_t processId) {
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  return process && ::TerminateProcess(process.get(), 0) != FALSE;
}

ServiceControl& SystemServiceControl() {
  static ScmServiceControl control;
  return control;
}
