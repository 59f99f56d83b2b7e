#include "vpn/traffic_guard_win.h"

#include "framework/module_win.h"

namespace {

// Ours, apart from the name lookups' guard's; the session is dynamic, so it is free again once
// the session closes.
constexpr GUID kSubLayerKey = {
    0x5f1c7a1e, 0x3b6d, 0x4c2a, {0x9e, 0x41, 0x27, 0xd0, 0x8a, 0x6b, 0x13, 0xc5}};
const wchar_t kName[] = L"Kavrin traffic only through the tunnel";

}  // namespace

WfpTrafficGuard::WfpTrafficGuard(const wchar_t* module)
    : filtering_(LoadSystemModule(module)),
      ipHelper_(LoadSystemModule(L"iphlpapi.dll")),
      functions_(WfpFunctions::Find(filtering_.get(), ipHelper_.get())),
      set_(functions_, kSubLayerKey, kName) {}

WfpTrafficGuard::WfpTrafficGuard(const WfpFunctions& functions)
    : functions_(functions), set_(functions_, kSubLayerKey, kName) {}
