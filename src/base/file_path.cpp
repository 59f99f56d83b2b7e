#include "base/file_path.h"

#include "base/text.h"

std::filesystem::path FileSystemPath(const std::wstring& file) {
#ifdef _WIN32
  return std::filesystem::path(file);
#else
  const std::string utf8 = WideToUtf8(file);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#endif
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}
