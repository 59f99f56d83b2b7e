#include <filesystem>
#include <system_error>

#include "base/file_attributes.h"
#include "base/file_path.h"

void ResetFileAttributes(const std::wstring& file) {
  std::error_code ignored;
  std::filesystem::permissions(FileSystemPath(file), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add, ignored);
}
