#include "config/text_table.h"

#include "base/text.h"
#include "config/text_table_defaults.h"

std::wstring& TextTable::Slot(std::string_view key) {
  auto found = texts_.find(key);
  if (found == texts_.end()) {
    found = texts_.emplace(std::string(key), std::wstring()).first;
    buildOrder_.emplace_back(key);
  }
  return found->second;
}

void TextTable::Set(std::string_view key, std::wstring text) { Slot(key) = std::move(text); }

const std::wstring& TextTable::TextFor(std::string_view key) { return Slot(key); }

std::wstring TextTable::Get(std::string_view key) const {
  const auto found = texts_.find(key);
  if (found != texts_.end()) return found->second;
  return L"[!] " + AnsiToWide(key);
}

bool TextTable::Contains(std::string_view key) const { return texts_.find(key) != texts_.end(); }

void BuildTextTable(TextTable& table) { BuildTextTable(table, DefaultTextRows()); }

void BuildTextTable(TextTable& table, std::span<const TextRow> rows) {
  for (const TextRow& row : rows) {
    std::wstring text;
    for (const TextPiece& piece : row.pieces) {
      if (piece.key != nullptr) {
        text += table.TextFor(piece.key);
      } else if (piece.literal != nullptr) {
        text += piece.literal;
      }
    }
    table.Set(row.key, std::move(text));
  }
}

namespace {

TextTable& MutableProgramTextTable() {
  static TextTable table;
  return table;
}

}  // namespace

void BuildTextTable() { BuildTextTable(MutableProgramTextTable()); }

const TextTable& ProgramTextTable() { return MutableProgramTextTable(); }

std::wstring GetText(const char* key) {
  return ProgramTextTable().Get(key != nullptr ? std::string_view(key) : std::string_view());
}
