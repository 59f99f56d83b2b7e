// The accelerated applications: the application list file ("applist.ini" in the program data
// folder, which the binding module reads) and the decisions of the list that shows it. One
// section per added path (a shortcut or a program), named by the path itself:
//
//   [C:\Tools\Editor.lnk]
//   AppFullname=C:\Tools\Editor.exe     the program the path starts
//   UseAsyncMode=0                      binding options, set in the options dialog
//   ForceWSPBind=0
//   Active=1                            the row's check box, written at every apply
//
// The list control is an AppListView, the shell an AppShell; the file is reached through the
// profile access layer, so everything here runs natively against a real ini file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/private_profile.h"

inline constexpr wchar_t kAppListFileName[] = L"applist.ini";

struct AppBindOptions {
  bool useAsyncMode = false;
  bool forceWspBind = false;
};

// What a row shows and keeps. The key is the added path, the name of its section.
struct AppListRow {
  std::wstring displayName;  // the text after the last backslash of the key
  std::wstring key;
  std::wstring fullName;  // "AppFullname" of the section
  bool active = true;
};

class AppShell {
 public:
  virtual ~AppShell() = default;
  // The program a shortcut file starts; false when the shortcut does not exist, cannot be
  // resolved or its target does not exist.
  virtual bool ResolveShortcut(const std::wstring& shortcut, std::wstring& target) = 0;
  // Lets low integrity processes use the file; failures are the caller's to ignore.
  virtual void LowerIntegrity(const std::wstring& file) = 0;
};

class AppListView {
 public:
  virtual ~AppListView() = default;
  // Appends a row and returns its index.
  virtual int AppendRow(const AppListRow& row) = 0;
  virtual int RowCount() const = 0;
  virtual std::wstring RowKey(int row) const = 0;
  virtual bool IsRowChecked(int row) const = 0;
  // Selected rows in ascending order.
  virtual std::vector<int> SelectedRows() const = 0;
  virtual void DeleteRow(int row) = 0;
  // Scrolls the row into view and makes it the selection mark.
  virtual void RevealRow(int row) = 0;
  virtual void Redraw() = 0;
  virtual void ShowMessage(const std::wstring& text) = 0;
  // The options dialog over `options`; true (with `options` updated) when it ended with OK.
  virtual bool EditOptions(AppBindOptions& options) = 0;
};

class AppListController {
 public:
  AppListController(AppListView& view, PrivateProfile& profile, AppShell& shell,
                    std::wstring file);

  const std::wstring& file() const { return file_; }

  // Adds a row for every section that still names a shortcut or program; the others stay in
  // the file untouched.
  void Load();
  // Adds one path: a shortcut (".lnk") to a program or a program (".exe"), in any letter case.
  // `write` puts a fresh section in the file first (an existing one is reset). The new row, or
  // -1 when the path is neither.
  int Add(const std::wstring& path, bool write);

  // The user's additions: one chosen in the file dialog, or several dropped on the list. A
  // refusal is told once.
  void AddChosen(const std::wstring& path);
  void AddDropped(const std::vector<std::wstring>& paths);
  // Options of the selected rows, edited from those of the first.
  void ChangeOptions();
  // Deletes the selected rows and their sections.
  void RemoveSelected();
  // Writes every row's check box, then labels the file for low integrity readers. True when at
  // least one row is checked.
  bool SaveChecks();

  AppBindOptions ReadOptions(const std::wstring& key) const;
  void WriteOptions(const std::wstring& key, const AppBindOptions& options);

 private:
  void Refuse();

  AppListView& view_;
  PrivateProfile& profile_;
  AppShell& shell_;
  std::wstring file_;
};

// The name part of a path: the text after its last backslash (all of it without one).
std::wstring AppDisplayName(const std::wstring& path);
// Whether `path` ends in `suffix`, ASCII letters compared without case.
bool HasSuffixNoCase(const std::wstring& path, const std::wstring& suffix);
