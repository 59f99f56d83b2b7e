#include "skin/skin_part_table.h"

#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

#include "base/text.h"
#include "skin/skin_scale.h"

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    pieces.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return pieces;
    start = end + 1;
  }
}

// Base 0 as in strtol ("0x1f", "017", "12"); whatever follows the digits is ignored.
int64_t ReadNumber(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 0); }

int32_t Clamp32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

struct Field {
  int64_t numerator = 0;
  std::optional<int64_t> denominator;  // set for "N/D"
};

Field ReadField(const std::string& text) {
  Field field;
  const size_t slash = text.find('/');
  field.numerator = ReadNumber(text.substr(0, slash));
  if (slash != std::string::npos) field.denominator = ReadNumber(text.substr(slash + 1));
  return field;
}

// N * size / D, multiplication first, truncating toward zero. A zero denominator would divide
// by zero; such a field is treated as naming no cell at all.
std::optional<int32_t> Scaled(int64_t numerator, int64_t size, int64_t denominator) {
  if (denominator == 0) return std::nullopt;
  return Clamp32(numerator * size / denominator);
}

}  // namespace

SkinPart ParseSkinPartLine(std::string_view line, int32_t image, int32_t width, int32_t height,
                           int32_t percent) {
  SkinPart part;
  part.image = image;
  // Plain numbers are pixels of the 100 % picture; a larger set places each edge where that
  // edge went, so neighbouring parts still meet.
  // Where a fraction placed the edge instead, a plain size is added scaled.
  int64_t left100 = 0;
  int64_t top100 = 0;
  bool leftFromCell = false;
  bool topFromCell = false;
  const auto edge = [percent](int64_t at100) {
    return percent == 100 ? Clamp32(at100) : ScaleForPercent(Clamp32(at100), percent);
  };
  const std::vector<std::string_view> fields = Split(line, ',');
  for (size_t i = 0; i < fields.size() && i < 5; ++i) {
    const std::string value = TrimText(fields[i]);
    if (value.empty()) break;
    if (i == 0) {
      part.name = value;
      part.right = width;
      part.bottom = height;
      continue;
    }
    const Field f = ReadField(value);
    if (f.denominator && *f.denominator == 0) continue;
    switch (i) {
      case 1:
        if (f.denominator) {
          part.left = *Scaled(f.numerator, width, *f.denominator);
          leftFromCell = true;
          part.right = *Scaled(f.numerator + 1, width, *f.denominator);
          part.top = 0;
          part.bottom = height;
        } else {
          left100 = f.numerator;
          leftFromCell = false;
          part.left = edge(left100);
        }
        break;
      case 2:
        if (f.denominator) {
          part.top = *Scaled(f.numerator, height, *f.denominator);
          topFromCell = true;
          part.bottom = *Scaled(f.numerator + 1, height, *f.denominator);
        } else {
          top100 = f.numerator;
          topFromCell = false;
          part.top = edge(top100);
        }
        break;
      case 3:
        part.right = f.denominator
                         ? Clamp32(part.left + *Scaled(f.numerator, width, *f.denominator))
                         : leftFromCell ? Clamp32(part.left + edge(f.numerator))
                                        : edge(left100 + f.numerator);
        break;
      case 4:
        part.bottom = f.denominator
                          ? Clamp32(part.top + *Scaled(f.numerator, height, *f.denominator))
                          : topFromCell ? Clamp32(part.top + edge(f.numerator))
                                       : edge(top100 + f.numerator);
        break;
    }
  }
  return part;
}

void SkinPartTable::AddPartList(std::string_view partList, int32_t image, int32_t width,
                                int32_t height, int32_t percent) {
  for (std::string_view raw : Split(partList, '\n')) {
    if (raw.empty()) continue;
    const std::string line = TrimText(raw);
    // A line of blanks ends the part list; anything after it is not read.
    if (line.empty()) return;
    SkinPart part = ParseSkinPartLine(line, image, width, height, percent);
    if (!part.name.empty()) Add(std::move(part));
  }
}

void SkinPartTable::Add(SkinPart part) {
  std::string name = part.name;
  parts_.insert_or_assign(std::move(name), std::move(part));
}

const SkinPart& SkinPartTable::Find(std::string_view base, std::string_view suffix) const {
  std::string name;
  name.reserve(base.size() + suffix.size());
  name.append(base).append(suffix);
  const auto it = parts_.find(name);
  return it == parts_.end() ? EmptyPart() : it->second;
}

const SkinPart& SkinPartTable::EmptyPart() {
  static const SkinPart empty;
  return empty;
}
