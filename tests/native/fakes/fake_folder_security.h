// FolderSecurity over a map of paths to what the system would say of them. Creating, renaming
// and deleting act on the map and are logged, so tests see exactly what was asked of the
// system. A link is opened, never its target; a rename is refused while the source
// is held open without delete sharing or the new name exists; a held folder keeps naming its
// object across renames.
// Follows learn.microsoft.com: CreateFileW, MoveFileExW, OpenFileById, CreateHardLinkW, and
// "Access Rights and Access Masks" (rights are checked when a handle is opened, not later).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config/program_data_folder.h"

class FakeFolderSecurity : public FolderSecurity {
 public:
  // An entry as an owner we trust would leave it.
  static FolderEntryFacts OwnFolder() { return {true, true, false, true, false, 1}; }
  static FolderEntryFacts OwnFile() { return {true, false, false, true, false, 1}; }
  // An ordinary user's.
  static FolderEntryFacts UsersFolder() { return {true, true, false, false, true, 1}; }
  static FolderEntryFacts UsersFile() { return {true, false, false, false, true, 1}; }

  FolderEntryFacts Inspect(const std::wstring& path) override {
    const auto found = entries.find(path);
    return found == entries.end() ? FolderEntryFacts{} : found->second;
  }
  std::vector<std::wstring> List(const std::wstring& folder) override {
    log.push_back(L"list " + folder);
    std::vector<std::wstring> names = Children(folder);
    if (afterList) afterList(folder);
    return names;
  }
  bool CreateFolder(const std::wstring& path, const std::wstring& descriptor) override {
    log.push_back(L"create " + path + L" " + descriptor);
    if (entries.count(path)) return false;
    entries[path] = OwnFolder();
    descriptors[path] = descriptor;
    return true;
  }
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    // Someone who guesses the new name takes it between our look and our rename.
    if (takeEveryName) entries[to] = UsersFile();
    log.push_back(L"rename " + from + L" " + to);
    if (refuseRename.count(from) || entries.count(to) || !entries.count(from)) return false;
    Move(from, to);
    return true;
  }
  std::unique_ptr<HeldFolder> OpenFolder(const std::wstring& path) override {
    log.push_back(L"open " + path);
    const auto found = entries.find(path);
    if (found == entries.end() || !found->second.directory) return nullptr;
    auto held = std::make_shared<std::wstring>(path);
    held_.push_back(held);
    return std::make_unique<Held>(*this, held);
  }

  // Moves an entry and everything under it, as the system renames; held folders follow.
  void Move(const std::wstring& from, const std::wstring& to) {
    std::map<std::wstring, FolderEntryFacts> moved;
    for (auto it = entries.begin(); it != entries.end();) {
      if (Within(it->first, from)) {
        moved[to + it->first.substr(from.size())] = it->second;
        it = entries.erase(it);
      } else {
        ++it;
      }
    }
    entries.insert(moved.begin(), moved.end());
    for (const auto& weak : held_) {
      if (auto path = weak.lock(); path && Within(*path, from)) {
        *path = to + path->substr(from.size());
      }
    }
  }

  std::map<std::wstring, FolderEntryFacts> entries;
  std::vector<std::wstring> log;
  // Entries someone holds open without sharing deletion: the system refuses to rename them.
  std::set<std::wstring> refuseRename;
  bool takeEveryName = false;
  // Runs after a folder is listed: what someone else does between our calls (add a hard link
  // to a file elsewhere, rename a parent).
  std::function<void(const std::wstring& listed)> afterList;
  // Handles users opened with WRITE_DAC while they had the right: a handle keeps the rights it
  // was opened with whatever descriptor the entry gets later, so its holder can open the entry
  // to everybody again at any time (HoldersAct).
  std::set<std::wstring> heldWithWriteDac;
  void HoldersAct() {
    for (const std::wstring& path : heldWithWriteDac) {
      if (entries.count(path)) entries[path].othersMayWrite = true;
    }
  }
  // The descriptor each folder was created with.
  std::map<std::wstring, std::wstring> descriptors;

 private:
  class Held : public HeldFolder {
   public:
    Held(FakeFolderSecurity& fake, std::shared_ptr<std::wstring> path)
        : fake_(fake), path_(std::move(path)) {}
    FolderEntryFacts Facts() override { return fake_.Inspect(*path_); }
    std::vector<std::wstring> List() override {
      std::vector<std::wstring> names = fake_.Children(*path_);
      if (fake_.afterList) fake_.afterList(*path_);
      return names;
    }
    bool DeleteEntry(const std::wstring& name) override {
      const std::wstring path = *path_ + L"\\" + name;
      fake_.log.push_back(L"delete " + path);
      const auto found = fake_.entries.find(path);
      if (found == fake_.entries.end() || (found->second.directory && !found->second.link)) {
        return false;
      }
      fake_.entries.erase(found);
      return true;
    }
    bool DeleteSelf() override {
      fake_.log.push_back(L"delete " + *path_);
      if (!fake_.Children(*path_).empty()) return false;
      fake_.entries.erase(*path_);
      return true;
    }

   private:
    FakeFolderSecurity& fake_;
    std::shared_ptr<std::wstring> path_;
  };

  static bool Within(const std::wstring& path, const std::wstring& folder) {
    return path == folder || path.rfind(folder + L"\\", 0) == 0;
  }
  std::vector<std::wstring> Children(const std::wstring& folder) const {
    std::vector<std::wstring> names;
    const std::wstring prefix = folder + L"\\";
    for (const auto& [path, facts] : entries) {
      if (path.rfind(prefix, 0) == 0 && path.find(L'\\', prefix.size()) == std::wstring::npos) {
        names.push_back(path.substr(prefix.size()));
      }
    }
    return names;
  }

  std::vector<std::weak_ptr<std::wstring>> held_;
};
