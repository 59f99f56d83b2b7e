#include "vpn/exit_event_win.h"

#include <sddl.h>

#include <cstdint>
#include <random>
#include <utility>

namespace {

// Owned by the administrators; they and the system (the elevated child among them) may do
// everything with it (EVENT_ALL_ACCESS), nobody else anything.
constexpr wchar_t kExitEventDescriptor[] = L"O:BAD:P(A;;0x1f0003;;;BA)(A;;0x1f0003;;;SY)";

}  // namespace

std::wstring PrivateExitEvent::RandomName() {
  // std::random_device draws from the system's generator (RtlGenRandom) here.
  std::random_device random;
  std::wstring name = kOpenVpnExitEventPrefix;
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  for (int word = 0; word < 4; ++word) {
    const uint32_t bits = random();
    for (int shift = 28; shift >= 0; shift -= 4) name += kDigits[(bits >> shift) & 0xF];
  }
  return name;
}

PrivateExitEvent::PrivateExitEvent(NameSource names) : names_(std::move(names)) {}

std::wstring PrivateExitEvent::Create() {
  event_.reset();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kExitEventDescriptor, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return {};
  }
  UniqueLocal hold(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  for (int attempt = 0; attempt < kTries; ++attempt) {
    const std::wstring name = names_();
    if (name.empty()) continue;
    // Manual reset, as the child makes it itself when it finds none; not signalled, or the
    // child refuses to start.
    UniqueHandle event(CreateEventW(&attributes, TRUE, FALSE, name.c_str()));
    if (event && GetLastError() != ERROR_ALREADY_EXISTS) {
      event_ = std::move(event);
      return name;
    }
  }
  return {};
}

void PrivateExitEvent::Raise() {
  if (event_) SetEvent(event_.get());
}

void PrivateExitEvent::Clear() { event_.reset(); }
