#include "config/program_data_folder.h"

#include <utility>

ProgramDataFolder::ProgramDataFolder(Locator locate) : locate_(std::move(locate)) {}

void ProgramDataFolder::Locate() {
  std::call_once(once_, [this] { location_ = locate_(); });
}

const std::wstring& ProgramDataFolder::Path() {
  Locate();
  return location_.path;
}

bool ProgramDataFolder::Owned() {
  Locate();
  return location_.owned;
}

bool IsOwnFolder(const FolderEntryFacts& facts) {
  return facts.exists && facts.directory && !facts.link && facts.trustedOwner &&
         !facts.othersMayWrite;
}

bool IsOwnFile(const FolderEntryFacts& facts) {
  return facts.exists && !facts.directory && !facts.link && facts.trustedOwner &&
         !facts.othersMayWrite && facts.hardLinks <= 1;
}

bool IsOwnFileInOwnFolder(FolderSecurity& security, const std::wstring& folder,
                    const std::wstring& name) {
  if (folder.empty()) return false;
  return IsOwnFolder(security.Inspect(folder.substr(0, folder.size() - 1))) &&
         IsOwnFile(security.Inspect(folder + name));
}

namespace {

// A name someone else holds first is passed over; one that keeps being taken is an attack.
constexpr int kSetAsideAttempts = 8;

std::wstring Hex(uint64_t value) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text(16, L'0');
  for (int i = 15; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 15];
  return text;
}

// Renames `path` to "<path>.untrusted-<random>". Unpredictable, so nobody can take the name first
// on purpose; a name that exists is never reused.
bool SetAside(FolderSecurity& security, const std::wstring& path, const SetAsideRandom& random) {
  for (int n = 0; n < kSetAsideAttempts; ++n) {
    const std::wstring aside = path + kSetAsideMarker + Hex(random());
    if (security.Inspect(aside).exists) continue;
    if (security.Rename(path, aside)) return true;
  }
  return false;
}

// An entry the folder may keep. Its rights are not judged here: the folder was made with its
// descriptor, what we make inside inherits it, and what does not inherit belongs to an owner we
// trust, who set it so.
bool MayStay(const FolderEntryFacts& facts) {
  if (facts.link || !facts.trustedOwner) return false;
  return facts.directory || facts.hardLinks <= 1;
}

}  // namespace

DataFolderRepair SecureDataFolder(FolderSecurity& security, const std::wstring& folder,
                                  const SetAsideRandom& random) {
  DataFolderRepair repair;
  const FolderEntryFacts facts = security.Inspect(folder);
  bool present = facts.exists;
  if (present && !IsOwnFolder(facts)) {
    // Never followed, never repaired in place: whatever is linked inside would take the
    // descriptor too, and someone else's folder could be swapped again at any time.
    if (!SetAside(security, folder, random)) return repair;
    ++repair.setAside;
    present = false;
  }
  if (!present) {
    repair.created = security.CreateFolder(folder, kDataFolderDescriptor);
    // Someone may have made one in between; it is not ours.
    if (!repair.created) return repair;
  }
  if (!IsOwnFolder(security.Inspect(folder))) return repair;
  if (!repair.created) {
    const std::wstring prefix = folder + L"\\";
    for (const std::wstring& name : security.List(folder)) {
      // Only this program can make entries in its own folder: these are ours, set aside before.
      if (name.find(kSetAsideMarker) != std::wstring::npos) continue;
      if (MayStay(security.Inspect(prefix + name))) continue;
      // One entry we cannot move out of the way is enough to make the folder unsafe to use.
      if (!SetAside(security, prefix + name, random)) return repair;
      ++repair.setAside;
    }
  }
  repair.secured = true;
  return repair;
}

bool IsUpdateFolderName(std::wstring_view name) {
  constexpr std::wstring_view kPrefix = L"Update-";
  // A download folder's number is at most 32 bits.
  if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 10) return false;
  if (name.substr(0, kPrefix.size()) != kPrefix) return false;
  for (const wchar_t c : name.substr(kPrefix.size())) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

size_t DeleteLeftoverUpdateFolders(FolderSecurity& security, const std::wstring& folder,
                                   const std::vector<std::wstring>& leftoverPackages) {
  const std::unique_ptr<FolderSecurity::HeldFolder> data = security.OpenFolder(folder);
  if (!data || !IsOwnFolder(data->Facts())) return 0;
  size_t deleted = 0;
  for (const std::wstring& name : data->List()) {
    if (!IsUpdateFolderName(name)) {
      for (const std::wstring& package : leftoverPackages) {
        if (name == package) data->DeleteEntry(name);
      }
      continue;
    }
    const std::unique_ptr<FolderSecurity::HeldFolder> download =
        security.OpenFolder(folder + L"\\" + name);
    // A link in its place, or a folder someone else made or may change, is not ours to empty.
    if (!download || !IsOwnFolder(download->Facts())) continue;
    for (const std::wstring& entry : download->List()) download->DeleteEntry(entry);
    // Still in use (an installer that has not ended): the next start tries again.
    if (download->DeleteSelf()) ++deleted;
  }
  return deleted;
}
