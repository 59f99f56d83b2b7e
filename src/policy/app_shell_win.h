// The shell work of the accelerated-application list: resolving shortcuts (installer-advertised
// ones first, then ordinary shell links), the list file's integrity label, file icons from the
// system image lists, the folders the add commands start in, and the open-file dialog.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "policy/app_list.h"

class SystemAppShell : public AppShell {
 public:
  bool ResolveShortcut(const std::wstring& shortcut, std::wstring& target) override;
  void LowerIntegrity(const std::wstring& file) override;
};

// The program a shortcut starts, as an existing path. Needs COM initialised on the thread.
bool ResolveShortcutTarget(const std::wstring& shortcut, std::wstring& target);

// The system's shared image lists (never destroyed by their users), and the index of a file's
// icon in them; a file that is gone gets the icon of its type.
HIMAGELIST SystemImageList(bool small);
int SystemIconIndex(const std::wstring& path);

// A shell folder by its CSIDL number; empty when the shell cannot name it.
std::wstring ShellFolderPath(int csidl);

// The open-file dialog for adding an application, starting in `folder`, with `filter` in the
// form "description|patterns|" ('|' separating the parts). The chosen path, or empty.
std::wstring ChooseApplicationFile(HWND owner, const std::wstring& folder,
                                   const std::wstring& filter);
