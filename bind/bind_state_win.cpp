#include "bind_state_win.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

// Owned by the client's user-interface thread, which starts and stops the binding.
HANDLE g_section = nullptr;
void* g_view = nullptr;

// Readers get query, map-for-reading and read-control (0x20005), spelled out rather than as
// generic read, so the descriptor says the same wherever generic rights are not mapped.
// "ALL APPLICATION PACKAGES" (AC) is unknown before Windows 8; the descriptor without it is the
// same for every other reader.
// Owned by the administrators, which is what readers check before they trust it.
constexpr const wchar_t* kDescriptors[] = {
    L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x20005;;;WD)(A;;0x20005;;;AC)",
    L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x20005;;;WD)",
};

// A section of that name made by anyone else (any process may create one before the client
// does) is a squatter's, and means "binding off".
bool OwnedByAdministratorsOrSystem(HANDLE section) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(section, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner != nullptr && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                                            IsWellKnownSid(owner, WinLocalSystemSid));
  LocalFree(descriptor);
  return trusted;
}

HANDLE CreateSection() {
  for (const wchar_t* text : kDescriptors) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      continue;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    const HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                              kBindStateSectionSize, kBindStateSectionName);
    LocalFree(descriptor);
    return section;
  }
  return nullptr;
}

}  // namespace

void WithdrawBindState() {
  if (g_view != nullptr) {
    // A reader that opened the section just before it goes must see the binding off, too.
    static_cast<PublishedBindState*>(g_view)->on = 0;
    UnmapViewOfFile(g_view);
    g_view = nullptr;
  }
  if (g_section != nullptr) {
    CloseHandle(g_section);
    g_section = nullptr;
  }
}

bool PublishBindState(uint32_t tunnelAddress) {
  WithdrawBindState();
  const HANDLE section = CreateSection();
  if (section == nullptr) return false;
  void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(PublishedBindState));
  if (view == nullptr) {
    CloseHandle(section);
    return false;
  }
  PublishedBindState record;
  record.tunnelAddress = tunnelAddress;
  record.clientProcessId = GetCurrentProcessId();
  // "on" last: a reader between the two writes sees the binding still off.
  auto* shared = static_cast<PublishedBindState*>(view);
  *shared = record;
  MemoryBarrier();
  shared->on = 1;
  g_section = section;
  g_view = view;
  return true;
}

BindState ReadPublishedBindState() {
  const HANDLE section =
      OpenFileMappingW(FILE_MAP_READ | READ_CONTROL, FALSE, kBindStateSectionName);
  if (section == nullptr) return {};
  if (!OwnedByAdministratorsOrSystem(section)) {
    CloseHandle(section);
    return {};
  }
  BindState state;
  if (const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(PublishedBindState))) {
    state = DecodeBindState(view, sizeof(PublishedBindState));
    UnmapViewOfFile(view);
  }
  CloseHandle(section);
  return state;
}
