// FolderSecurity over a map of paths to what the system would say of them. Creating, applying
// and renaming act on the map and are logged, so tests see exactly what was asked of the system.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "config/program_data_folder.h"

class FakeFolderSecurity : public FolderSecurity {
 public:
  // An entry as an owner we trust would leave it.
  static FolderEntryFacts OwnFolder() { return {true, true, false, true, false, 1}; }
  static FolderEntryFacts OwnFile() { return {true, false, false, true, false, 1}; }

  FolderEntryFacts Inspect(const std::wstring& path) override {
    const auto found = entries.find(path);
    return found == entries.end() ? FolderEntryFacts{} : found->second;
  }
  std::vector<std::wstring> List(const std::wstring& folder) override {
    log.push_back(L"list " + folder);
    std::vector<std::wstring> names;
    const std::wstring prefix = folder + L"\\";
    for (const auto& [path, facts] : entries) {
      if (path.rfind(prefix, 0) == 0 && path.find(L'\\', prefix.size()) == std::wstring::npos) {
        names.push_back(path.substr(prefix.size()));
      }
    }
    return names;
  }
  bool CreateFolder(const std::wstring& path, const std::wstring& descriptor) override {
    log.push_back(L"create " + path + L" " + descriptor);
    if (entries.count(path)) return false;
    entries[path] = OwnFolder();
    return true;
  }
  bool ApplyDescriptor(const std::wstring& path, const std::wstring& descriptor) override {
    log.push_back(L"apply " + path + L" " + descriptor);
    if (failApply) return false;
    entries[path].othersMayWrite = false;
    return true;
  }
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    log.push_back(L"rename " + from + L" " + to);
    if (failRename || entries.count(to) || !entries.count(from)) return false;
    // The entry and everything under it move; a link's target is never touched.
    std::map<std::wstring, FolderEntryFacts> moved;
    for (auto it = entries.begin(); it != entries.end();) {
      if (it->first == from || it->first.rfind(from + L"\\", 0) == 0) {
        moved[to + it->first.substr(from.size())] = it->second;
        it = entries.erase(it);
      } else {
        ++it;
      }
    }
    entries.insert(moved.begin(), moved.end());
    return true;
  }

  std::map<std::wstring, FolderEntryFacts> entries;
  std::vector<std::wstring> log;
  bool failApply = false;
  bool failRename = false;
};
