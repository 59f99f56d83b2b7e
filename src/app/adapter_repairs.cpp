#include "app/adapter_repairs.h"

#include <algorithm>
#include <string_view>

#include "base/text.h"

using namespace registry;

namespace {

constexpr wchar_t kBindValue[] = L"Bind";
constexpr wchar_t kDhcpAddressValue[] = L"DhcpIPAddress";
constexpr wchar_t kEnableDhcpValue[] = L"EnableDHCP";
constexpr uint32_t kVersionWithWanBehind = 5;

}  // namespace

// ---- the repairs --------------------------------------------------------------------------------

void RegistryAdapterRepairs::FixBindingOrder() {
  if (osMajorVersion_ != kVersionWithWanBehind) return;
  std::unique_ptr<RegistryKey> linkage = registry_.NewKey();
  if (linkage->Open(kTcpipLinkageKey) != kSuccess) return;
  uint32_t chars = 0;
  if (QueryMultiStringSize(*linkage, kBindValue, chars) != kSuccess) return;
  std::vector<std::wstring> bindings;
  // A list that changed or broke since it was sized is left alone: writing back the part that
  // could be read would unbind TCP/IP from every adapter that is missing from it.
  if (ReadMultiString(*linkage, kBindValue, chars, bindings) != kSuccess) return;
  std::erase_if(bindings, [](const std::wstring& entry) { return EqualsNoCase(entry, kWanBinding); });
  bindings.insert(bindings.begin(), kWanBinding);
  WriteMultiString(*linkage, kBindValue, bindings);
}

void RegistryAdapterRepairs::CheckDhcp(const std::wstring& localAddress) {
  // Interfaces without a DHCP address read as empty; an empty address would match them all.
  if (localAddress.empty()) return;
  std::unique_ptr<RegistryKey> interfaces = registry_.NewKey();
  if (interfaces->Open(kTcpipInterfacesKey) != kSuccess) return;
  std::unique_ptr<RegistryKey> adapter = registry_.NewKey();
  for (uint32_t index = 0;; ++index) {
    std::wstring name;
    const int32_t result = interfaces->EnumSubKey(index, name);
    if (result == kErrorNoMoreItems) break;
    // A name too long to be an interface's is passed over; any other failure is the key's own
    // and would come back at every further index.
    if (result == kErrorMoreData) continue;
    if (result != kSuccess) break;
    if (adapter->Open(std::wstring(kTcpipInterfacesKey) + L"\\" + name) != kSuccess) continue;
    std::wstring dhcpAddress;
    ReadText(*adapter, kDhcpAddressValue, dhcpAddress);
    uint32_t enabled = 0;
    const bool switchOff = dhcpAddress == localAddress &&
                           ReadDword(*adapter, kEnableDhcpValue, enabled) == kSuccess &&
                           enabled != 0;
    if (switchOff) WriteDword(*adapter, kEnableDhcpValue, 0);
    adapter->Close();
    if (switchOff && onDhcpSwitchedOff_) onDhcpSwitchedOff_();
  }
}
