#include "config/program_data_folder.h"

#include <utility>

ProgramDataFolder::ProgramDataFolder(Locator locate) : locate_(std::move(locate)) {}

const std::wstring& ProgramDataFolder::Path() {
  std::call_once(once_, [this] { path_ = locate_(); });
  return path_;
}

bool IsOwnFolder(const FolderEntryFacts& facts) {
  return facts.exists && facts.directory && !facts.link && facts.trustedOwner &&
         !facts.othersMayWrite;
}

bool IsOwnFile(const FolderEntryFacts& facts) {
  return facts.exists && !facts.directory && !facts.link && facts.trustedOwner &&
         !facts.othersMayWrite && facts.hardLinks <= 1;
}

namespace {

constexpr int kSetAsideAttempts = 100;

// Renames `path` to the first free "<path>.untrusted-N".
bool SetAside(FolderSecurity& security, const std::wstring& path) {
  for (int n = 1; n <= kSetAsideAttempts; ++n) {
    const std::wstring aside = path + kSetAsideMarker + std::to_wstring(n);
    if (security.Inspect(aside).exists) continue;
    if (security.Rename(path, aside)) return true;
  }
  return false;
}

// An entry the folder may keep. Its rights are not judged here: the folder's descriptor has just
// been passed on to everything that inherits, and what does not inherit belongs to an owner we
// trust, who set it so.
bool MayStay(const FolderEntryFacts& facts) {
  if (facts.link || !facts.trustedOwner) return false;
  return facts.directory || facts.hardLinks <= 1;
}

}  // namespace

DataFolderRepair SecureDataFolder(FolderSecurity& security, const std::wstring& folder) {
  DataFolderRepair repair;
  const FolderEntryFacts facts = security.Inspect(folder);
  bool present = facts.exists;
  if (present && (!facts.directory || facts.link || !facts.trustedOwner)) {
    // Never followed, never repaired: someone else's folder could be swapped again at any time.
    if (!SetAside(security, folder)) return repair;
    ++repair.setAside;
    present = false;
  }
  if (!present) {
    repair.created = security.CreateFolder(folder, kDataFolderDescriptor);
    // Someone may have made one in between; it is judged like any other.
    if (!repair.created) return repair;
  } else if (!security.ApplyDescriptor(folder, kDataFolderDescriptor)) {
    return repair;
  }
  if (!IsOwnFolder(security.Inspect(folder))) return repair;
  repair.secured = true;
  if (repair.created) return repair;

  const std::wstring prefix = folder + L"\\";
  for (const std::wstring& name : security.List(folder)) {
    if (name.find(kSetAsideMarker) != std::wstring::npos) continue;
    if (MayStay(security.Inspect(prefix + name))) continue;
    if (SetAside(security, prefix + name)) ++repair.setAside;
  }
  return repair;
}
