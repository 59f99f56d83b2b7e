#include "app/instance_objects_win.h"

#include <sddl.h>

#include <utility>

namespace {

// Only administrators and the system may open it (the installer looks for it as one).
constexpr wchar_t kMutexDescriptor[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";

std::wstring GlobalName(const std::wstring& name) { return L"Global\\" + name; }

// The file's identity (volume and index), so two spellings of one path compare equal.
bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && GetFileInformationByHandle(file.get(), &info);
}

bool SameFile(const std::wstring& first, const std::wstring& second) {
  BY_HANDLE_FILE_INFORMATION a = {};
  BY_HANDLE_FILE_INFORMATION b = {};
  return FileIdentity(first, a) && FileIdentity(second, b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::wstring ProcessImage(DWORD processId) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
  return std::wstring(path, size);
}

}  // namespace

SystemInstanceObjects::SystemInstanceObjects(std::wstring programFile)
    : programFile_(std::move(programFile)) {}

bool SystemInstanceObjects::EnterOwnNamespace() {
  namespace_ = std::make_unique<OwnNamespace>(true);
  return namespace_->usable();
}

InstanceObjects::Claim SystemInstanceObjects::ClaimInNamespace(const std::wstring& name) {
  return ClaimName(OwnNamespace::Name(name.c_str()));
}

InstanceObjects::Claim SystemInstanceObjects::ClaimGlobal(const std::wstring& name) {
  return ClaimName(GlobalName(name));
}

InstanceObjects::Claim SystemInstanceObjects::ClaimName(const std::wstring& fullName) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexDescriptor, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return Claim::kFailed;
  }
  UniqueLocal hold(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  UniqueHandle mutex(CreateMutexW(&attributes, TRUE, fullName.c_str()));
  const DWORD error = GetLastError();
  if (!mutex) return error == ERROR_ACCESS_DENIED ? Claim::kForeign : Claim::kFailed;
  if (error != ERROR_ALREADY_EXISTS) {
    mutex_ = std::move(mutex);
    return Claim::kCreated;
  }
  return OwnedByAdministratorsOrSystem(mutex.get()) ? Claim::kExisted : Claim::kForeign;
}

InstanceObjects::Window SystemInstanceObjects::OwnWindowShown() {
  bool unelevated = false;
  ownWindow_ = FindOwnMainWindow(programFile_, &unelevated);
  if (ownWindow_ != nullptr) return Window::kElevated;
  return unelevated ? Window::kUnelevated : Window::kNone;
}

bool ProcessHasAdministratorRights(DWORD processId) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  HANDLE token = nullptr;
  if (!process || !OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) {
    return false;
  }
  UniqueHandle holdToken(token);
  TOKEN_ELEVATION elevation = {};
  DWORD length = 0;
  if (GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &length) &&
      elevation.TokenIsElevated != 0) {
    return true;
  }
  // XP has no elevation; a filtered token (UAC) keeps the administrators deny-only, which the
  // membership check does not count.
  HANDLE impersonation = nullptr;
  if (!DuplicateToken(token, SecurityIdentification, &impersonation)) return false;
  UniqueHandle holdImpersonation(impersonation);
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  const BOOL checked = CheckTokenMembership(impersonation, administrators, &member);
  FreeSid(administrators);
  return checked && member;
}

HWND FindOwnMainWindow(const std::wstring& programFile, bool* unelevatedSeen) {
  for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", kMainWindowCaption);
       window != nullptr; window = FindWindowExW(nullptr, window, L"#32770", kMainWindowCaption)) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == 0 || processId == GetCurrentProcessId()) continue;
    const std::wstring image = ProcessImage(processId);
    if (image.empty() || !SameFile(image, programFile)) continue;
    if (ProcessHasAdministratorRights(processId)) return window;
    if (unelevatedSeen != nullptr) *unelevatedSeen = true;
  }
  return nullptr;
}

bool IsProgramRunning(const std::wstring& programFile, bool& squatted) {
  squatted = false;
  const OwnNamespace space(false);
  if (space.usable()) {
    UniqueHandle mutex(
        OpenMutexW(SYNCHRONIZE, FALSE, OwnNamespace::Name(kSingleInstanceLeaf).c_str()));
    if (mutex) return true;
  }
  // Also where the namespace is there: a program of an earlier version has only this one.
  UniqueHandle mutex(
      OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, GlobalName(kSingleInstanceLeaf).c_str()));
  const DWORD error = GetLastError();
  if (mutex && OwnedByAdministratorsOrSystem(mutex.get())) return true;
  squatted = mutex.valid() || error == ERROR_ACCESS_DENIED;
  return FindOwnMainWindow(programFile) != nullptr;
}
