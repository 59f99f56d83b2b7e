// The installation folder's protection, which the installer's plug-in applies before anything is
// copied. Outside the program files folder a new folder inherits "Authenticated Users: Modify"
// from its parent, so any user could replace the binding module every program loads, or drop a
// library the elevated program loads. A folder is taken only when the installer makes it itself
// under parents that are the administrators' own, or when it is the administrators' own
// already with such parents; anything else is refused (the installer suggests the program files
// folder). A folder is never made ours in place.
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
  // Something inside is a link or junction leading elsewhere.
  kLinkInside,
  // The folder could not be made, or it or something in it is not the administrators' own.
  kNotSecured,
  // The folder exists and is someone else's, or others may change it.
  kNotOurs,
  // A folder it lies in is someone else's or others may change it (rename it and put their own
  // in its place), or the path is not on a drive of this machine.
  kUnsafeParent,
};

// Takes `folder` (no trailing separator) for the installation: created with the descriptor
// when missing, else kept as it is when it is the administrators' own; its parents and then
// everything in it are checked.
InstallFolderResult ProtectInstallFolder(FolderSecurity& security, const std::wstring& folder);
