// The file system's security on Windows: descriptors as text, owners, reparse points.
#pragma once

#include <windows.h>

#include "base/unique_handle_win.h"
#include "config/program_data_folder.h"

class SystemFolderSecurity : public FolderSecurity {
 public:
  FolderEntryFacts Inspect(const std::wstring& path) override;
  std::vector<std::wstring> List(const std::wstring& folder) override;
  bool CreateFolder(const std::wstring& path, const std::wstring& descriptor) override;
  bool Rename(const std::wstring& from, const std::wstring& to) override;
  std::unique_ptr<HeldFolder> OpenFolder(const std::wstring& path) override;
};

FolderSecurity& SystemFolderSecurityInstance();

// Opens `path` itself (a link is not followed) with `access` for a look at it, letting others
// read and write but never delete or rename it while the handle is held.
UniqueHandle OpenEntryNoFollow(const std::wstring& path, DWORD access);

// True when `owner` is the administrators, the system, or the owner the files of this process
// get. A file this process creates tells the last: administrators where the system makes them
// the owner of what an administrator creates, the user's own account where it does not.
bool IsTrustedOwner(PSID owner);
