#include "base/own_namespace_win.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// Lookups and traversal for everyone (0x20003: DIRECTORY_QUERY, DIRECTORY_TRAVERSE and
// READ_CONTROL), low integrity through the label; everything else is the administrators' and
// the system's. "AC" is unknown before Windows 8, where the list without it is the same.
constexpr const wchar_t* kNamespaceDescriptors[] = {
    L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;0x20003;;;WD)(A;;0x20003;;;AC)S:(ML;;NW;;;LW)",
    L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;0x20003;;;WD)S:(ML;;NW;;;LW)",
};

// Object Namespaces (Microsoft Learn): the boundary names the administrators; a namespace is
// found by its prefix and boundary together.
struct NamespaceCalls {
  using CreateBoundary = HANDLE(WINAPI*)(LPCWSTR, ULONG);
  using AddSid = BOOL(WINAPI*)(HANDLE*, PSID);
  using DeleteBoundary = VOID(WINAPI*)(HANDLE);
  using Create = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
  using Open = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
  using Close = BOOLEAN(WINAPI*)(HANDLE, ULONG);

  CreateBoundary createBoundary = nullptr;
  AddSid addSid = nullptr;
  DeleteBoundary deleteBoundary = nullptr;
  Create create = nullptr;
  Open open = nullptr;
  Close close = nullptr;

  bool complete() const {
    return createBoundary && addSid && deleteBoundary && create && open && close;
  }
};

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const NamespaceCalls& Calls() {
  static const NamespaceCalls calls = [] {
    NamespaceCalls found;
    // kernel32 is in every process already; this takes no reference.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return found;
    found.createBoundary =
        Lookup<NamespaceCalls::CreateBoundary>(kernel, "CreateBoundaryDescriptorW");
    found.addSid = Lookup<NamespaceCalls::AddSid>(kernel, "AddSIDToBoundaryDescriptor");
    found.deleteBoundary = Lookup<NamespaceCalls::DeleteBoundary>(kernel, "DeleteBoundaryDescriptor");
    found.create = Lookup<NamespaceCalls::Create>(kernel, "CreatePrivateNamespaceW");
    found.open = Lookup<NamespaceCalls::Open>(kernel, "OpenPrivateNamespaceW");
    found.close = Lookup<NamespaceCalls::Close>(kernel, "ClosePrivateNamespace");
    return found;
  }();
  return calls;
}

}  // namespace

OwnNamespace::OwnNamespace(bool create) {
  const NamespaceCalls& calls = Calls();
  if (!calls.complete()) return;
  state_ = State::kFailed;
  HANDLE boundary = calls.createBoundary(kOwnNamespacePrefix, 0);
  if (boundary == nullptr) return;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(sid);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) ||
      !calls.addSid(&boundary, sid)) {
    calls.deleteBoundary(boundary);
    return;
  }
  if (create) {
    for (const wchar_t* text : kNamespaceDescriptors) {
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        continue;
      }
      SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
      handle_ = calls.create(&attributes, boundary, kOwnNamespacePrefix);
      LocalFree(descriptor);
      break;
    }
    if (handle_ != nullptr) {
      created_ = true;
      state_ = State::kCreated;
    }
  }
  // Made earlier by the running program (or this process): only an administrator could.
  if (handle_ == nullptr) {
    handle_ = calls.open(boundary, kOwnNamespacePrefix);
    if (handle_ != nullptr) state_ = State::kOpened;
  }
  calls.deleteBoundary(boundary);
}

OwnNamespace::~OwnNamespace() {
  // Closing the one this process made takes the prefix away for everyone else: later opens
  // fail, and the objects made in it stay reachable only through their handles.
  if (handle_ != nullptr) Calls().close(handle_, 0);
}

bool OwnedByAdministratorsOrSystem(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner != nullptr && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                                            IsWellKnownSid(owner, WinLocalSystemSid));
  LocalFree(descriptor);
  return trusted;
}
