// An ini file held in memory, read and changed the way the system's private-profile calls do:
// section and key names match without ASCII case and after trimming, the first matching section
// and the first matching key in it win, and nothing but a line starting with '[' and holding a
// ']' is special (a ';' line is an ordinary line). Changes touch only the lines they must, so a
// file written by someone else keeps its layout and its comments. Writes and deletions act on the
// same first match that reads see.
//
// Text is held as UTF-8. A file that starts with a UTF-16LE or UTF-8 byte-order mark is converted
// on the way in and written back in the encoding it came in; any other file is taken byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IniFile {
 public:
  static IniFile Parse(std::string_view bytes);
  std::string Serialize() const;

  // The raw value (trimmed, quotes kept) of `key`; nothing when the section or key is absent or
  // the key's line has no '='.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // Names of all sections in file order, duplicates included; unnamed sections are left out.
  std::vector<std::string> SectionNames() const;

  // Each reports whether the file changed.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  bool DeleteKey(std::string_view section, std::string_view key);
  // Removes the first section of that name with all its lines.
  bool DeleteSection(std::string_view section);

 private:
  enum class Encoding { kPlain, kUtf8Bom, kUtf16Le };

  // Index of the first header of `section`, or npos.
  size_t FindSection(std::string_view section) const;
  // Index of the next header after `header`, or the tail index.
  size_t SectionEnd(size_t header) const;
  size_t FindKey(size_t header, std::string_view key) const;
  void InsertLine(size_t index, std::string text);
  // Index at which a line appended to the file goes, making sure the last line is terminated.
  size_t AppendIndex();

  // The file split at every LF; a CR before the LF stays with its line. The last element is
  // whatever follows the final LF (empty for a file that ends in a line break).
  std::vector<std::string> lines_{std::string()};
  Encoding encoding_ = Encoding::kPlain;
  bool crlf_ = true;
};
