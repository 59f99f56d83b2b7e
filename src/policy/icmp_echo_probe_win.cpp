#include "policy/icmp_echo_probe_win.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstring>

#include "framework/module_win.h"

namespace {

template <typename T>
T Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::unique_ptr<EchoProbe> IcmpEchoProbe::Create() {
  std::unique_ptr<IcmpEchoProbe> probe(new IcmpEchoProbe());
  if (probe->LoadFrom(L"Iphlpapi.dll") || probe->LoadFrom(L"ICMP.DLL")) return probe;
  return nullptr;
}

bool IcmpEchoProbe::LoadFrom(const wchar_t* library) {
  UniqueModule module = LoadSystemModule(library);
  if (!module) return false;
  auto createFile = Lookup<CreateFileFn>(module.get(), "IcmpCreateFile");
  auto sendEcho = Lookup<SendEchoFn>(module.get(), "IcmpSendEcho");
  auto closeHandle = Lookup<CloseHandleFn>(module.get(), "IcmpCloseHandle");
  if (!createFile || !sendEcho || !closeHandle) return false;
  module_ = std::move(module);
  createFile_ = createFile;
  sendEcho_ = sendEcho;
  closeHandle_ = closeHandle;
  return true;
}

bool IcmpEchoProbe::SendEcho(uint32_t address, const std::vector<uint8_t>& request,
                             uint32_t timeoutMs, EchoReply& reply) {
  HANDLE icmp = createFile_();
  if (icmp == INVALID_HANDLE_VALUE) return false;
  IP_OPTION_INFORMATION options = {};
  options.Ttl = 30;
  // Room for the reply record, the echoed body and an ICMP error message besides: with no more
  // than record and body, newer systems refuse every echo as "buffer too small".
  alignas(ICMP_ECHO_REPLY) unsigned char buffer[sizeof(ICMP_ECHO_REPLY) + 32 + 8 + 64] = {};
  std::vector<uint8_t> body = request;
  const DWORD replies = sendEcho_(icmp, address, body.data(), static_cast<WORD>(body.size()),
                                  &options, buffer, sizeof buffer, timeoutMs);
  closeHandle_(icmp);
  if (replies != 1) return false;
  const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(buffer);
  reply.address = record->Address;
  reply.roundTripMs = record->RoundTripTime;
  reply.status = record->Status;
  reply.body.clear();
  // The body pointer is the system's; only a body lying inside our buffer is read.
  const auto* data = static_cast<const unsigned char*>(record->Data);
  if (data >= buffer && record->DataSize <= sizeof buffer &&
      data + record->DataSize <= buffer + sizeof buffer) {
    reply.body.assign(data, data + record->DataSize);
  }
  return true;
}
