#include "config/install_folder.h"

#include <cwctype>
#include <vector>

namespace {

// An installation holds a few dozen entries two levels deep; a tree far beyond that is not one
// we installed, and is refused rather than walked.
constexpr int kMaxDepth = 8;
constexpr size_t kMaxEntries = 10000;

// Every entry under `folder`, depth first, links not followed; false past the bounds.
bool Collect(FolderSecurity& security, const std::wstring& folder, int depth,
             std::vector<std::wstring>& paths) {
  if (depth > kMaxDepth) return false;
  for (const std::wstring& name : security.List(folder)) {
    const std::wstring path = folder + L"\\" + name;
    paths.push_back(path);
    if (paths.size() > kMaxEntries) return false;
    const FolderEntryFacts facts = security.Inspect(path);
    if (facts.directory && !facts.link && !Collect(security, path, depth + 1, paths)) return false;
  }
  return true;
}

// The folders `folder` lies in, below the volume's root ("D:\Tools" for "D:\Tools\OrumaVPN");
// false for anything but a path on a drive letter (a share's security is not the machine's).
bool ParentsOf(const std::wstring& folder, std::vector<std::wstring>& parents) {
  if (folder.size() < 4 || !std::iswalpha(folder[0]) || folder[1] != L':' || folder[2] != L'\\') {
    return false;
  }
  for (size_t end = folder.find(L'\\', 3); end != std::wstring::npos;
       end = folder.find(L'\\', end + 1)) {
    // "D:\\x" or "D:\x\" would name a folder other than the one the check looked at.
    if (end == 3 || folder[end - 1] == L'\\') return false;
    parents.push_back(folder.substr(0, end));
  }
  return folder.back() != L'\\';
}

// Nobody but the administrators may rename a parent and put a folder of their own in its
// place, or make the folder first. The volume's root cannot be renamed; that users may create
// folders in it does not let them touch one an administrator made.
bool ParentsAreSafe(FolderSecurity& security, const std::wstring& folder) {
  std::vector<std::wstring> parents;
  if (!ParentsOf(folder, parents)) return false;
  for (const std::wstring& parent : parents) {
    if (!IsOwnFolder(security.Inspect(parent))) return false;
  }
  return true;
}

// Everything inside is the administrators' and no link leads elsewhere. A second name of a file
// does no harm: nothing here changes a descriptor, and the installer replaces names.
InstallFolderResult CheckContents(FolderSecurity& security, const std::wstring& folder) {
  std::vector<std::wstring> entries;
  if (!Collect(security, folder, 0, entries)) return InstallFolderResult::kNotSecured;
  for (const std::wstring& path : entries) {
    const FolderEntryFacts entry = security.Inspect(path);
    if (entry.link) return InstallFolderResult::kLinkInside;
    if (!entry.trustedOwner || entry.othersMayWrite) return InstallFolderResult::kNotSecured;
  }
  return InstallFolderResult::kProtected;
}

}  // namespace

InstallFolderResult ProtectInstallFolder(FolderSecurity& security, const std::wstring& folder) {
  if (!ParentsAreSafe(security, folder)) return InstallFolderResult::kUnsafeParent;
  const FolderEntryFacts facts = security.Inspect(folder);
  if (!facts.exists) {
    bool created = false;
    for (const wchar_t* descriptor : kInstallFolderDescriptors) {
      if ((created = security.CreateFolder(folder, descriptor))) break;
    }
    if (!created || !IsOwnFolder(security.Inspect(folder))) return InstallFolderResult::kNotSecured;
  } else if (!facts.directory || facts.link) {
    return InstallFolderResult::kNotAFolder;
  } else if (!IsOwnFolder(facts)) {
    // Never made ours in place: whoever made it may hold a handle that keeps the rights it was
    // opened with (WRITE_DAC among them) whatever descriptor we set, and on Windows 7 and 8.1
    // a descriptor passed on follows the hard links they add meanwhile.
    return InstallFolderResult::kNotOurs;
  }
  // Walked after the change as well: the folder is looked at as it is now, not as it was.
  if (!IsOwnFolder(security.Inspect(folder))) return InstallFolderResult::kNotSecured;
  return CheckContents(security, folder);
}
