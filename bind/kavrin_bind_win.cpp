// KavrinBind.dll's entry points.
//
// The socket layer loads this module into every process that opens a socket, so it keeps to
// plain data initialised at compile time and does nothing in DllMain that could wait.
#include <windows.h>

#include <string>

#include "bind_state_win.h"
#include "bind_target.h"
#include "provider_win.h"
#include "registration_win.h"
#include "route_request_client_win.h"

namespace {

HMODULE g_module = nullptr;
// Start and stop come from the client's user-interface thread; the lock keeps a second caller
// from publishing over a withdrawal halfway done.
CRITICAL_SECTION g_lock;

class Locked {
 public:
  Locked() { EnterCriticalSection(&g_lock); }
  ~Locked() { LeaveCriticalSection(&g_lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

// The registered path must be the whole path, however deep the program folder is.
std::wstring ModulePath() {
  constexpr size_t kLongestPath = 32768;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= kLongestPath) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    InitializeCriticalSection(&g_lock);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Only on FreeLibrary: at process exit other threads were killed, perhaps inside the lock.
    // A client that lets the module go takes the binding with it.
    WithdrawBindState();
    DeleteCriticalSection(&g_lock);
  }
  return TRUE;
}

HRESULT __stdcall DllRegisterServer() {
  const std::wstring path = ModulePath();
  if (path.empty()) return E_FAIL;
  return RegisterBindModule(path);
}

HRESULT __stdcall DllUnregisterServer() {
  const std::wstring path = ModulePath();
  if (path.empty()) return E_FAIL;
  return UnregisterBindModule(path);
}

// In the client: publishes "binding on" with the tunnel's address for the module in every other
// process. An unusable address leaves the binding off.
void __stdcall VpnBindStart(DWORD count, DWORD localAddress) {
  Locked lock;
  if (const auto target = MakeBindTarget(count, localAddress)) {
    PublishBindState(target->localAddress);
  } else {
    WithdrawBindState();
  }
}

void __stdcall VpnBindStop() {
  Locked lock;
  WithdrawBindState();
}

// The socket layer's start-up of this module as a layered provider (provider_win.h).
int WSPAPI WSPStartup(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocol,
                      WSPUPCALLTABLE upcalls, LPWSPPROC_TABLE table) {
  return StartLayeredProvider(version, data, protocol, upcalls, table);
}

// Tests and test tools only: see UseTestCatalog.
void __stdcall KavrinBindUseTestCatalog(const WSAPROTOCOL_INFOW* entries,
                                        const wchar_t* const* paths, int count) {
  UseTestCatalog(entries, paths, count);
}

// The route request an accelerated application's connection makes, on its own: for tests and
// the command-line tool. 0 with the reply byte in `reply`, or a system error number.
DWORD __stdcall VpnBindRequestRoute(DWORD address, BYTE* reply) {
  if (reply == nullptr) return ERROR_INVALID_PARAMETER;
  uint8_t answer = 0;
  const DWORD error = RequestHostRoute(address, answer);
  *reply = answer;
  return error;
}

}  // extern "C"
