// Arbitrary bytes as an ini file: reads, section listing and a write must neither crash nor
// lose the write, and the file must survive a save and reload unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text.h"
#include "config/ini_file.h"
#include "config/profile_access.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  IniFile ini = IniFile::Parse(bytes);

  for (const auto& name : ini.SectionNames()) {
    ini.Find(name, "key");
    const std::wstring wide = Utf8ToWide(name);
    if (UnescapeSectionName(EscapeSectionName(wide)) != wide) std::abort();
    UnescapeSectionName(wide);
  }
  ini.Find("Main", "LoginHosts");
  ini.Find("", "");

  const std::string saved = ini.Serialize();
  if (IniFile::Parse(saved).Serialize() != saved) std::abort();

  ini.Set("Fuzz", "key", "value");
  if (ini.Find("fuzz", " KEY ") != std::string("value")) std::abort();
  ini.Set("Fuzz", "other", "x");
  if (ini.Find("Fuzz", "key") != std::string("value")) std::abort();
  ini.DeleteKey("Fuzz", "key");
  ini.DeleteSection("Fuzz");
  if (!ini.SectionNames().empty()) ini.DeleteSection(ini.SectionNames().front());

  const std::string changed = ini.Serialize();
  if (IniFile::Parse(changed).Serialize() != changed) std::abort();
  return 0;
}
