// The installation folder's protection, which the installer's plug-in applies before anything is
// copied. Outside the program files folder a new folder inherits "Authenticated Users: Modify"
// from its parent, so any user could replace the binding module every program loads, or drop a
// library the elevated program loads; the folder is made the administrators' own instead, or the
// installation is refused.
#pragma once

#include <string>

#include "config/program_data_folder.h"

// Owned by the administrators; administrators and the system have full control, users and
// application packages (which load the binding module) read and execute; nothing is inherited
// from the parent, and everything inside inherits all of it. "AC" is unknown before Windows 8,
// where the second is used.
inline constexpr const wchar_t* kInstallFolderDescriptors[] = {
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AC)"
    L"(A;OICI;0x1200a9;;;S-1-15-2-2)",
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)",
};

enum class InstallFolderResult {
  kProtected,
  // Not a folder, or a link or junction to somewhere else.
  kNotAFolder,
  // Something inside is a link, or a file with a second name elsewhere: passing the descriptor
  // on would change what it points to (Windows 7 and 8.1 follow hard links when they do).
  kLinkInside,
  // The descriptor could not be set, or the folder or something in it is still not ours after.
  kNotSecured,
};

// Makes `folder` (no trailing separator) the administrators' own: created with the descriptor
// when missing, else given it after everything inside has been looked at, and then checked.
InstallFolderResult ProtectInstallFolder(FolderSecurity& security, const std::wstring& folder);
