// The log's folder in memory, as the reader sees it through a file opened with every sharing
// flag (Microsoft Learn, "CreateFileW", FILE_SHARE_WRITE | FILE_SHARE_DELETE): each read sees the
// file as it is at that moment, and the writer may append or roll over between two reads.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "app/log_tail.h"

class FakeLogFiles : public LogFiles {
 public:
  std::map<std::wstring, std::string> files;
  // Opened by someone who shares no reading: cannot be opened.
  std::set<std::wstring> locked;
  // Runs before each read with its number (from 1): the writer acting between reads.
  std::function<void(int)> beforeRead;
  int reads = 0;
  size_t bytesRead = 0;

  std::optional<LogFileEnd> ReadEnd(const std::wstring& name, size_t maxBytes) override {
    ++reads;
    if (beforeRead) beforeRead(reads);
    const auto file = files.find(name);
    if (file == files.end() || locked.count(name)) return std::nullopt;
    const size_t count = std::min(maxBytes, file->second.size());
    bytesRead += count;
    return LogFileEnd{file->second.size(), file->second.substr(file->second.size() - count)};
  }

  // The writer's roll-over: the newer file replaces the older, and a new one starts with `next`.
  void RollOver(const std::string& next = "") {
    files[kConnectionLogOldName] = files[kConnectionLogName];
    files[kConnectionLogName] = next;
  }
};
