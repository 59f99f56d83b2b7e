// Every text the program shows, looked up by an English key. The process-wide table is filled
// once by BuildTextTable() at start-up, before any other thread exists, and only read afterwards,
// so lookups need no lock.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TextTable {
 public:
  void Set(std::string_view key, std::wstring text);
  // The text of `key`, inserting an empty one when absent; composed texts are built from it.
  const std::wstring& TextFor(std::string_view key);

  // A copy of the text, or "[!] " and the key when the key is unknown, so a missing text shows
  // up on screen instead of an empty label. Never changes the table.
  std::wstring Get(std::string_view key) const;
  bool Contains(std::string_view key) const;
  size_t size() const { return texts_.size(); }
  // Keys in the order they were first inserted.
  const std::vector<std::string>& keysInBuildOrder() const { return buildOrder_; }

 private:
  std::wstring& Slot(std::string_view key);

  // Byte-wise, case-sensitive: "OK" and "ok" are different keys.
  std::map<std::string, std::wstring, std::less<>> texts_;
  std::vector<std::string> buildOrder_;
};

struct TextRow;

// Fills `table` with the program's texts in build order.
void BuildTextTable(TextTable& table);
// Fills `table` from `rows` in order; a piece naming another key uses that key's current text.
void BuildTextTable(TextTable& table, std::span<const TextRow> rows);
// Fills the process-wide table; called once by start-up.
void BuildTextTable();
// The process-wide table.
const TextTable& ProgramTextTable();
// Text of `key` from the process-wide table; see TextTable::Get. A null key reads as empty.
std::wstring GetText(const char* key);
