#include "config/program_data_folder_win.h"

#include <aclapi.h>
#include <sddl.h>
// shlobj.h needs the types windows.h declares.
#include <shlobj.h>

#include <functional>
#include <map>
#include <random>
#include <memory>
#include <vector>

namespace {

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

// Rights that change an entry, its contents or its rights.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

// The servicing account, which owns the system's own folders (the program files folder among
// them) and has full control of them.
std::vector<BYTE> TrustedInstallerSid() {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                              &sid)) {
    return {};
  }
  LocalMemory hold(sid);
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

// The owner a file made by this process gets, read back from one made in the temporary folder.
std::vector<BYTE> OwnerOfOwnFiles() {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t file[MAX_PATH + 1] = {};
  if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"kv", 0, file)) return {};
  std::vector<BYTE> sid;
  {
    UniqueHandle probe(CreateFileW(file, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (probe && GetSecurityInfo(probe.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                 nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
      LocalMemory hold(descriptor);
      if (owner && IsValidSid(owner)) {
        const BYTE* bytes = static_cast<const BYTE*>(owner);
        sid.assign(bytes, bytes + GetLengthSid(owner));
      }
    }
  }
  DeleteFileW(file);
  return sid;
}

const std::vector<std::vector<BYTE>>& TrustedOwners() {
  static const std::vector<std::vector<BYTE>> owners = [] {
    std::vector<std::vector<BYTE>> list;
    for (auto sid : {WellKnownSid(WinBuiltinAdministratorsSid), WellKnownSid(WinLocalSystemSid),
                     TrustedInstallerSid(), OwnerOfOwnFiles()}) {
      if (!sid.empty()) list.push_back(std::move(sid));
    }
    return list;
  }();
  return owners;
}

bool OthersMayWrite(PACL dacl) {
  // No list at all lets everyone do everything.
  if (!dacl) return true;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return true;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    // Only for what is created inside; the entries themselves are judged on their own.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (!(allowed->Mask & kChangingRights)) continue;
    if (!IsTrustedOwner(const_cast<DWORD*>(&allowed->SidStart))) return true;
  }
  return false;
}

bool WithDescriptor(const std::wstring& text,
                    const std::function<bool(PSECURITY_DESCRIPTOR)>& use) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  LocalMemory hold(descriptor);
  return use(descriptor);
}

}  // namespace

bool IsTrustedOwner(PSID owner) {
  if (!owner || !IsValidSid(owner)) return false;
  for (const std::vector<BYTE>& sid : TrustedOwners()) {
    if (EqualSid(owner, const_cast<BYTE*>(sid.data()))) return true;
  }
  return false;
}

UniqueHandle OpenEntryNoFollow(const std::wstring& path, DWORD access) {
  return UniqueHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
}

namespace {

// What the system says of the entry `entry` holds; `attributes` are from its name, when known.
FolderEntryFacts FactsOf(HANDLE entry, DWORD attributes) {
  FolderEntryFacts facts;
  facts.exists = true;
  facts.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (GetFileInformationByHandle(entry, &info)) {
    facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.link = facts.link || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.hardLinks = info.nNumberOfLinks;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(entry, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    facts.othersMayWrite = true;
    return facts;
  }
  LocalMemory hold(descriptor);
  facts.trustedOwner = IsTrustedOwner(owner);
  facts.othersMayWrite = OthersMayWrite(dacl);
  return facts;
}

// A folder reached from one handle: its entries are found through the handle
// (FILE_ID_BOTH_DIR_INFO) and opened by their file number (OpenFileById, relative to the held
// folder's volume), so no name is looked up again and no link is followed on the way.
class SystemHeldFolder : public FolderSecurity::HeldFolder {
 public:
  explicit SystemHeldFolder(UniqueHandle folder) : folder_(std::move(folder)) {}

  FolderEntryFacts Facts() override { return FactsOf(folder_.get(), 0); }

  std::vector<std::wstring> List() override {
    ids_.clear();
    std::vector<std::wstring> names;
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder_.get(), kind, buffer.data(), bytes)) {
      kind = FileIdBothDirectoryInfo;
      const auto* base = reinterpret_cast<const BYTE*>(buffer.data());
      for (DWORD offset = 0;;) {
        const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(base + offset);
        const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        if (name != L"." && name != L"..") {
          names.push_back(name);
          ids_[name] = entry->FileId;
        }
        if (entry->NextEntryOffset == 0) break;
        offset += entry->NextEntryOffset;
      }
    }
    return names;
  }

  bool DeleteEntry(const std::wstring& name) override {
    const auto found = ids_.find(name);
    if (found == ids_.end()) return false;
    FILE_ID_DESCRIPTOR id = {};
    id.dwSize = sizeof id;
    id.Type = FileIdType;
    id.FileId = found->second;
    UniqueHandle entry(OpenFileById(folder_.get(), &id,
                                    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!entry || !GetFileInformationByHandle(entry.get(), &info)) return false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return false;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
      // The system refuses to delete a read-only file; the attribute goes through the same handle.
      FILE_BASIC_INFO basic = {};
      basic.FileAttributes = (info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) |
                             FILE_ATTRIBUTE_NORMAL;
      SetFileInformationByHandle(entry.get(), FileBasicInfo, &basic, sizeof basic);
    }
    return MarkDeleted(entry.get());
  }

  bool DeleteSelf() override { return MarkDeleted(folder_.get()); }

 private:
  static bool MarkDeleted(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
  }

  UniqueHandle folder_;
  std::map<std::wstring, LARGE_INTEGER> ids_;
};

}  // namespace

FolderEntryFacts SystemFolderSecurity::Inspect(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  UniqueHandle entry = OpenEntryNoFollow(path, READ_CONTROL | FILE_READ_ATTRIBUTES);
  if (!entry) {
    // What cannot be looked at cannot be vouched for.
    FolderEntryFacts facts;
    facts.exists = true;
    facts.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.othersMayWrite = true;
    return facts;
  }
  return FactsOf(entry.get(), attributes);
}

std::unique_ptr<FolderSecurity::HeldFolder> SystemFolderSecurity::OpenFolder(
    const std::wstring& path) {
  // Nobody may rename or delete it while it is held; we may, through this handle.
  UniqueHandle folder(CreateFileW(
      path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | DELETE | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!folder || !GetFileInformationByHandle(folder.get(), &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return nullptr;
  }
  return std::make_unique<SystemHeldFolder>(std::move(folder));
}

std::vector<std::wstring> SystemFolderSecurity::List(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool SystemFolderSecurity::CreateFolder(const std::wstring& path, const std::wstring& descriptor) {
  return WithDescriptor(descriptor, [&](PSECURITY_DESCRIPTOR sd) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, sd, FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
  });
}

bool SystemFolderSecurity::Rename(const std::wstring& from, const std::wstring& to) {
  // MoveFile renames a link itself, never what it points to.
  return MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

FolderSecurity& SystemFolderSecurityInstance() {
  static SystemFolderSecurity security;
  return security;
}

ProgramDataFolder& SystemProgramDataFolder() {
  static ProgramDataFolder folder([] {
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    const std::wstring path = std::wstring(common) + L"\\Kavrin";
    // The common folder itself is the system's and exists on every installation; only ours is
    // made or replaced here.
    std::random_device random;
    const DataFolderRepair repair =
        SecureDataFolder(SystemFolderSecurityInstance(), path, [&random] {
          return static_cast<uint64_t>(random()) << 32 | random();
        });
    return ProgramDataFolder::Location{path + L"\\", repair.secured};
  });
  return folder;
}
