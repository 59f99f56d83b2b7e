// The version resource of a module loaded in this process (the About box shows "FileVersion"
// and "BuildDate" from it).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CModuleVersion {
 public:
  CModuleVersion();

  // `moduleName` null reads the executable's own resource; a named module must already be
  // loaded. True only when the resource was read and carries a valid fixed part. A failed load
  // leaves nothing loaded, so values of an earlier load are not mistaken for this one's.
  bool Load(const wchar_t* moduleName);

  // A string of the resource's first translation, or empty when absent or nothing is loaded.
  std::wstring GetValue(const std::wstring& name) const;

  const VS_FIXEDFILEINFO& FixedFileInfo() const { return fixedFileInfo_; }
  uint16_t Language() const { return language_; }
  uint16_t CodePage() const { return codePage_; }

 private:
  void Reset();
  bool Read(const wchar_t* moduleName);

  VS_FIXEDFILEINFO fixedFileInfo_;
  std::vector<uint8_t> versionInfo_;
  uint16_t language_;
  uint16_t codePage_;
};
