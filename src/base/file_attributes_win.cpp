#include <windows.h>

#include "base/file_attributes.h"

void ResetFileAttributes(const std::wstring& file) {
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}
