#include "config/ini_file.h"

#include <cstddef>
#include <cstdint>

#include "base/text.h"

namespace {

constexpr size_t kNone = std::string::npos;

// The system also counts Ctrl-Z (an old end-of-file mark) as blank.
bool IsIniSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x1a;
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsIniSpace(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsIniSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

// The system keeps names and values as C strings, so an embedded NUL ends them.
std::string_view CutAtNul(std::string_view text) { return text.substr(0, text.find('\0')); }

std::string_view QueryName(std::string_view name) { return Trim(CutAtNul(name)); }

char LowerAsciiChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAsciiChar(a[i]) != LowerAsciiChar(b[i])) return false;
  }
  return true;
}

struct Line {
  enum class Kind { kBlank, kSection, kEntry };
  Kind kind = Kind::kBlank;
  std::string_view name;
  std::optional<std::string_view> value;
};

Line Classify(std::string_view raw) {
  const std::string_view text = Trim(raw);
  if (text.empty()) return {};
  if (text.front() == '[') {
    const size_t close = text.rfind(']');
    if (close != kNone) {
      return {Line::Kind::kSection, Trim(CutAtNul(text.substr(1, close - 1))), {}};
    }
  }
  const size_t equals = text.find('=');
  if (equals == kNone) return {Line::Kind::kEntry, CutAtNul(text), {}};
  return {Line::Kind::kEntry, CutAtNul(TrimRight(text.substr(0, equals))),
          CutAtNul(TrimLeft(text.substr(equals + 1)))};
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile file;
  std::string text;
  if (bytes.substr(0, 2) == kUtf16LeBom) {
    file.encoding_ = Encoding::kUtf16Le;
    text = Utf16LeToUtf8(bytes.substr(2));
  } else if (bytes.substr(0, 3) == kUtf8Bom) {
    file.encoding_ = Encoding::kUtf8Bom;
    text = bytes.substr(3);
  } else {
    text = bytes;
  }

  file.lines_.clear();
  size_t start = 0;
  for (;;) {
    const size_t lf = text.find('\n', start);
    if (lf == kNone) break;
    file.lines_.emplace_back(text, start, lf - start);
    start = lf + 1;
  }
  file.lines_.emplace_back(text, start);
  // New lines follow the file's own convention; an empty file gets the system's CR LF.
  if (file.lines_.size() > 1) {
    file.crlf_ = !file.lines_.front().empty() && file.lines_.front().back() == '\r';
  }
  return file;
}

std::string IniFile::Serialize() const {
  std::string text;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i != 0) text += '\n';
    text += lines_[i];
  }
  switch (encoding_) {
    case Encoding::kUtf16Le:
      return std::string(kUtf16LeBom) + Utf8ToUtf16Le(text);
    case Encoding::kUtf8Bom:
      return std::string(kUtf8Bom) + text;
    case Encoding::kPlain:
      break;
  }
  return text;
}

size_t IniFile::FindSection(std::string_view section) const {
  const std::string_view wanted = QueryName(section);
  if (wanted.empty()) return kNone;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line line = Classify(lines_[i]);
    if (line.kind == Line::Kind::kSection && SameName(line.name, wanted)) return i;
  }
  return kNone;
}

size_t IniFile::SectionEnd(size_t header) const {
  // An empty tail is not a line of its own: it only records that the file ends in a line break.
  const size_t end = lines_.back().empty() ? lines_.size() - 1 : lines_.size();
  for (size_t i = header + 1; i < end; ++i) {
    if (Classify(lines_[i]).kind == Line::Kind::kSection) return i;
  }
  return end;
}

size_t IniFile::FindKey(size_t header, std::string_view key) const {
  const std::string_view wanted = QueryName(key);
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    const Line line = Classify(lines_[i]);
    if (line.kind == Line::Kind::kEntry && SameName(line.name, wanted)) return i;
  }
  return kNone;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(section);
  if (header == kNone) return std::nullopt;
  const size_t at = FindKey(header, key);
  if (at == kNone) return std::nullopt;
  const Line line = Classify(lines_[at]);
  if (!line.value) return std::nullopt;
  return std::string(*line.value);
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& raw : lines_) {
    const Line line = Classify(raw);
    if (line.kind == Line::Kind::kSection && !line.name.empty()) names.emplace_back(line.name);
  }
  return names;
}

void IniFile::InsertLine(size_t index, std::string text) {
  if (crlf_) text += '\r';
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), std::move(text));
}

size_t IniFile::AppendIndex() {
  if (!lines_.back().empty()) {
    if (crlf_) lines_.back() += '\r';
    lines_.emplace_back();
  }
  return lines_.size() - 1;
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view sectionName = QueryName(section);
  const std::string_view keyName = QueryName(key);
  if (sectionName.empty()) return false;
  // Leading blanks would be lost on the next read anyway; the system drops them when writing.
  const std::string valueText(TrimLeft(CutAtNul(value)));
  const std::string entry = std::string(keyName) + "=" + valueText;

  const size_t header = FindSection(sectionName);
  if (header == kNone) {
    const size_t at = AppendIndex();
    InsertLine(at, "[" + std::string(sectionName) + "]");
    InsertLine(at + 1, entry);
    return true;
  }
  const size_t existing = FindKey(header, keyName);
  if (existing != kNone) {
    const bool hadCr = !lines_[existing].empty() && lines_[existing].back() == '\r';
    // The key keeps the spelling the file gave it.
    std::string replaced = std::string(Classify(lines_[existing]).name) + "=" + valueText;
    if (hadCr) replaced += '\r';
    if (lines_[existing] == replaced) return false;
    lines_[existing] = std::move(replaced);
    return true;
  }
  // After the section's last non-blank line, so a blank line before the next section stays.
  size_t at = header + 1;
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    if (Classify(lines_[i]).kind != Line::Kind::kBlank) at = i + 1;
  }
  if (at == lines_.size()) at = AppendIndex();
  InsertLine(at, entry);
  return true;
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
  const size_t header = FindSection(section);
  if (header == kNone) return false;
  const size_t at = FindKey(header, key);
  if (at == kNone) return false;
  if (at + 1 == lines_.size()) {
    lines_.back().clear();
  } else {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return true;
}

bool IniFile::DeleteSection(std::string_view section) {
  const size_t header = FindSection(section);
  if (header == kNone) return false;
  const size_t end = SectionEnd(header);
  const bool tookLastLine = end == lines_.size();
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
               lines_.begin() + static_cast<std::ptrdiff_t>(end));
  if (tookLastLine) lines_.emplace_back();
  return true;
}
