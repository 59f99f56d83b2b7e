#include "config/install_folder.h"

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

bool Apply(FolderSecurity& security, const std::wstring& folder) {
  for (const wchar_t* descriptor : kInstallFolderDescriptors) {
    if (security.ApplyDescriptor(folder, descriptor)) return true;
  }
  return false;
}

bool Create(FolderSecurity& security, const std::wstring& folder) {
  for (const wchar_t* descriptor : kInstallFolderDescriptors) {
    if (security.CreateFolder(folder, descriptor)) return true;
  }
  return false;
}

}  // namespace

InstallFolderResult ProtectInstallFolder(FolderSecurity& security, const std::wstring& folder) {
  const FolderEntryFacts facts = security.Inspect(folder);
  if (!facts.exists) {
    if (!Create(security, folder)) return InstallFolderResult::kNotSecured;
    return IsOwnFolder(security.Inspect(folder)) ? InstallFolderResult::kProtected
                                                 : InstallFolderResult::kNotSecured;
  }
  if (!facts.directory || facts.link) return InstallFolderResult::kNotAFolder;

  // Before anything inherits: the descriptor passed on through a second name would land on a
  // file somewhere else.
  std::vector<std::wstring> entries;
  if (!Collect(security, folder, 0, entries)) return InstallFolderResult::kNotSecured;
  for (const std::wstring& path : entries) {
    const FolderEntryFacts entry = security.Inspect(path);
    if (entry.link || (!entry.directory && entry.hardLinks > 1)) {
      return InstallFolderResult::kLinkInside;
    }
  }
  if (!Apply(security, folder)) return InstallFolderResult::kNotSecured;
  if (!IsOwnFolder(security.Inspect(folder))) return InstallFolderResult::kNotSecured;
  // What kept a descriptor of its own, or an owner of its own, was not made ours by inheriting.
  for (const std::wstring& path : entries) {
    const FolderEntryFacts entry = security.Inspect(path);
    if (!entry.trustedOwner || entry.othersMayWrite) return InstallFolderResult::kNotSecured;
  }
  return InstallFolderResult::kProtected;
}
