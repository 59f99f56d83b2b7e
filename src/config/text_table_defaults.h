// The rows the text table is built from, in build order.
#pragma once

#include <span>
#include <vector>

// One piece of a row's text: a literal, or the text a key has in the table at build time.
struct TextPiece {
  const wchar_t* literal = nullptr;
  const char* key = nullptr;
};

struct TextRow {
  const char* key;
  std::vector<TextPiece> pieces;
};

std::span<const TextRow> DefaultTextRows();
