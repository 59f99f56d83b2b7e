// ICMP echo through the system's ICMP helper, looked up at run time: from "Iphlpapi.dll", or from
// "ICMP.DLL" where the first lacks it.
#pragma once

#include <memory>

#include "base/unique_handle_win.h"
#include "policy/echo_probe.h"

class IcmpEchoProbe : public EchoProbe {
 public:
  // Null when neither library has all three functions.
  static std::unique_ptr<EchoProbe> Create();

  bool SendEcho(uint32_t address, const std::vector<uint8_t>& request, uint32_t timeoutMs,
                EchoReply& reply) override;

 private:
  using CreateFileFn = HANDLE(WINAPI*)();
  using SendEchoFn = DWORD(WINAPI*)(HANDLE, ULONG, LPVOID, WORD, void*, LPVOID, DWORD, DWORD);
  using CloseHandleFn = BOOL(WINAPI*)(HANDLE);

  IcmpEchoProbe() = default;
  bool LoadFrom(const wchar_t* library);

  UniqueModule module_;
  CreateFileFn createFile_ = nullptr;
  SendEchoFn sendEcho_ = nullptr;
  CloseHandleFn closeHandle_ = nullptr;
};
