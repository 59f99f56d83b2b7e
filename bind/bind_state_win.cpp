#include "bind_state_win.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>

#include "base/own_namespace_win.h"

namespace {

// Owned by the client's user-interface thread, which starts and stops the binding.
HANDLE g_section = nullptr;
void* g_view = nullptr;
// Held while published: the namespace's name lives as long as a handle to it.
std::unique_ptr<OwnNamespace> g_namespace;

// Readers get query, map-for-reading and read-control (0x20005), spelled out rather than as
// generic read, so the descriptor says the same wherever generic rights are not mapped.
// "ALL APPLICATION PACKAGES" (AC) is unknown before Windows 8; the descriptor without it is the
// same for every other reader.
// Owned by the administrators, which is what readers check before they trust it.
constexpr const wchar_t* kDescriptors[] = {
    L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x20005;;;WD)(A;;0x20005;;;AC)",
    L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x20005;;;WD)",
};

// Where the section lives: in the program's own namespace, which only administrators can make
// and fill, or, on a system without private namespaces, under the global name, where readers
// check the owner since anyone may have taken the name first. Null when the namespace exists
// on the system but cannot be had (nobody published then).
std::wstring SectionName(const OwnNamespace& space) {
  if (space.usable()) return OwnNamespace::Name(kBindStateSectionLeaf);
  if (space.state() == OwnNamespace::State::kUnsupported) return kBindStateSectionName;
  return {};
}

HANDLE CreateSection(const std::wstring& name) {
  for (const wchar_t* text : kDescriptors) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      continue;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    const HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                              kBindStateSectionSize, name.c_str());
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    // A section that was there before is someone else's (ours goes with our last handle):
    // writing into it would publish nothing readers trust.
    if (section != nullptr && error == ERROR_ALREADY_EXISTS &&
        !OwnedByAdministratorsOrSystem(section)) {
      CloseHandle(section);
      return nullptr;
    }
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
  g_namespace.reset();
}

bool PublishBindState(uint32_t tunnelAddress) {
  WithdrawBindState();
  auto space = std::make_unique<OwnNamespace>(true);
  const std::wstring name = SectionName(*space);
  const HANDLE section = name.empty() ? nullptr : CreateSection(name);
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
  g_namespace = std::move(space);
  return true;
}

BindState ReadPublishedBindState() {
  const OwnNamespace space(false);
  const std::wstring name = SectionName(space);
  if (name.empty()) return {};
  const HANDLE section = OpenFileMappingW(FILE_MAP_READ | READ_CONTROL, FALSE, name.c_str());
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
