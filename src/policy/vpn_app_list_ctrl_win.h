// The accelerated-application list of the policy dialog: a skinned report list with check
// boxes and the shell's icons, filled from the application list file and grown by dropping
// shortcuts or programs on it or through its context menu. Its decisions are those of
// AppListController; this class is the window that shows them.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/private_profile.h"
#include "policy/app_list.h"
#include "policy/app_shell_win.h"
#include "framework/message_filter_win.h"
#include "resource.h"
#include "skin/skin_list_ctrl_win.h"

class CVpnAppListCtrl : public CSkinListCtrl, private AppListView {
 public:
  static constexpr COLORREF kHintColor = RGB(150, 150, 150);
  static constexpr int kNameColumnWidth = 150;
  static constexpr int kPathColumnWidth = 370;
  // Context-menu commands.
  static constexpr UINT kChangeRules = ID_APPLIST_CHANGE_RULES;
  static constexpr UINT kRemove = ID_APPLIST_REMOVE;
  static constexpr UINT kAddFromUserStartMenu = ID_APPLIST_ADD_USER_STARTMENU;
  static constexpr UINT kAddFromCommonStartMenu = ID_APPLIST_ADD_COMMON_STARTMENU;
  static constexpr UINT kAddFromProgramFiles = ID_APPLIST_ADD_PROGRAM_FILES;

  // Creates the control with its columns and the system image lists, over the list file
  // `file`. `shell` null means the system's.
  bool Create(HWND parent, const RECT& rect, UINT id, std::wstring file,
              PrivateProfile& profile = SystemPrivateProfile(), AppShell* shell = nullptr);

  // The rows of the file, sorted by name.
  void Load();
  // Writes the check boxes; true when at least one application is checked.
  bool SaveChecks();
  void RunCommand(UINT command);
  void AddDropped(const std::vector<std::wstring>& paths);

  int RowCount() const override;
  std::wstring RowKey(int row) const override;
  bool IsRowChecked(int row) const override;
  void SetRowChecked(int row, bool checked);
  void SelectRow(int row, bool selected);
  std::wstring RowText(int row, int column) const;

  // Where messages and the options dialog go; tests put their own in.
  std::function<void(const std::wstring&)> showMessage;
  std::function<bool(AppBindOptions&)> editOptions;
  // Lets a message from programs with fewer rights (the shell dropping files) reach this window
  // alone; set before Create. Tests put their own in to see the calls.
  std::function<bool(HWND, UINT)> allowMessage = AllowMessageForWindow;

 protected:
  int Compare(LPARAM first, LPARAM second) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // AppListView
  int AppendRow(const AppListRow& row) override;
  std::vector<int> SelectedRows() const override;
  void DeleteRow(int row) override;
  void RevealRow(int row) override;
  void Redraw() override;
  void ShowMessage(const std::wstring& text) override;
  bool EditOptions(AppBindOptions& options) override;

  const AppListRow* RowData(int row) const;
  void ShowContextMenu(LPARAM at);
  void AddFromFolder(int csidl);
  void DropFiles(HDROP drop);
  void DrawEmptyHint();

  SystemAppShell systemShell_;
  std::unique_ptr<AppListController> controller_;
  // Row data by the id each row carries as its item data.
  std::map<LPARAM, AppListRow> rows_;
  LPARAM nextId_ = 1;
};
