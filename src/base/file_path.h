// File-system paths from the program's wide texts: the wide path itself on Windows, its UTF-8
// bytes natively, so portable code can open, test and delete files by the names it holds.
#pragma once

#include <filesystem>
#include <string>

std::filesystem::path FileSystemPath(const std::wstring& file);

// The folder part of `path` up to and with its last separator (a backslash or a slash); empty
// when the path names no folder.
std::wstring FolderOf(const std::wstring& path);
