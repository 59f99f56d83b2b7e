#include "framework/module_version_win.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;
constexpr uint16_t kWesternCodePage = 1252;

}  // namespace

CModuleVersion::CModuleVersion() { Reset(); }

void CModuleVersion::Reset() {
  fixedFileInfo_ = {};
  versionInfo_.clear();
  language_ = 0;
  codePage_ = kWesternCodePage;
}

bool CModuleVersion::Load(const wchar_t* moduleName) {
  Reset();
  if (Read(moduleName)) return true;
  Reset();
  return false;
}

bool CModuleVersion::Read(const wchar_t* moduleName) {
  const HMODULE module = GetModuleHandleW(moduleName);
  if (module == nullptr) return false;
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  // A truncated path would name some other file.
  if (length == 0 || length >= MAX_PATH) return false;

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  versionInfo_.assign(size, 0);
  if (!GetFileVersionInfoW(path, 0, size, versionInfo_.data())) return false;

  void* fixed = nullptr;
  UINT fixedSize = 0;
  if (!VerQueryValueW(versionInfo_.data(), L"\\", &fixed, &fixedSize) || fixed == nullptr ||
      fixedSize < sizeof(fixedFileInfo_)) {
    return false;
  }
  std::memcpy(&fixedFileInfo_, fixed, sizeof(fixedFileInfo_));

  void* translation = nullptr;
  UINT translationSize = 0;
  if (VerQueryValueW(versionInfo_.data(), L"\\VarFileInfo\\Translation", &translation,
                     &translationSize) &&
      translation != nullptr && translationSize >= sizeof(uint32_t)) {
    uint32_t first = 0;
    std::memcpy(&first, translation, sizeof(first));
    language_ = static_cast<uint16_t>(first & 0xFFFF);
    codePage_ = static_cast<uint16_t>(first >> 16);
  }
  return fixedFileInfo_.dwSignature == kFixedFileInfoSignature;
}

std::wstring CModuleVersion::GetValue(const std::wstring& name) const {
  if (versionInfo_.empty()) return {};
  wchar_t translation[9];
  std::swprintf(translation, 9, L"%04x%04x", language_, codePage_);
  const std::wstring query = L"\\StringFileInfo\\" + std::wstring(translation) + L"\\" + name;

  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(versionInfo_.data(), query.c_str(), &value, &length) || value == nullptr) {
    return {};
  }
  // The length counts characters and may or may not include the terminator.
  const wchar_t* text = static_cast<const wchar_t*>(value);
  return std::wstring(text, wcsnlen(text, length));
}
