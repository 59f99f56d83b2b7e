#include "policy/vpn_app_list_ctrl_win.h"

#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include "config/text_table.h"
#include "framework/message_box_win.h"
#include "policy/dlg_vpn_app_bind_setting_win.h"
#include "resource.h"

namespace {

constexpr UINT kCheckedImage = 2;
constexpr UINT kUncheckedImage = 1;

}  // namespace

bool CVpnAppListCtrl::Create(HWND parent, const RECT& rect, UINT id, std::wstring file,
                             PrivateProfile& profile, AppShell* shell) {
  if (!CSkinListCtrl::Create(parent, rect, id, LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS)) {
    return false;
  }
  const DWORD extended = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP;
  ::SendMessageW(hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  ::SendMessageW(hwnd(), LVM_SETIMAGELIST, LVSIL_NORMAL,
                 reinterpret_cast<LPARAM>(SystemImageList(false)));
  ::SendMessageW(hwnd(), LVM_SETIMAGELIST, LVSIL_SMALL,
                 reinterpret_cast<LPARAM>(SystemImageList(true)));
  const struct {
    const char* key;
    int width;
  } columns[] = {{"Application", kNameColumnWidth}, {"ProgramPath", kPathColumnWidth}};
  for (int c = 0; c < 2; ++c) {
    InsertColumn(c, GetText(columns[c].key), columns[c].width);
  }
  DragAcceptFiles(hwnd(), TRUE);
  // The elevated program takes drops from the shell in this window only: every other window
  // keeps the system's filter against programs with fewer rights.
  if (allowMessage) {
    constexpr UINT kCopyGlobalData = 0x0049;
    for (UINT message : {UINT{WM_DROPFILES}, UINT{WM_COPYDATA}, kCopyGlobalData}) {
      allowMessage(hwnd(), message);
    }
  }
  controller_ = std::make_unique<AppListController>(static_cast<AppListView&>(*this), profile,
                                                    shell ? *shell : systemShell_, std::move(file));
  return true;
}

void CVpnAppListCtrl::Load() {
  controller_->Load();
  ResetSort();
}

bool CVpnAppListCtrl::SaveChecks() { return controller_ && controller_->SaveChecks(); }

void CVpnAppListCtrl::RunCommand(UINT command) {
  switch (command) {
    case kAddFromUserStartMenu:
      AddFromFolder(CSIDL_PROGRAMS);
      break;
    case kAddFromCommonStartMenu:
      AddFromFolder(CSIDL_COMMON_PROGRAMS);
      break;
    case kAddFromProgramFiles:
      AddFromFolder(CSIDL_PROGRAM_FILES);
      break;
    case kChangeRules:
      controller_->ChangeOptions();
      break;
    case kRemove:
      controller_->RemoveSelected();
      break;
    default:
      break;
  }
}

void CVpnAppListCtrl::AddDropped(const std::vector<std::wstring>& paths) {
  controller_->AddDropped(paths);
}

void CVpnAppListCtrl::AddFromFolder(int csidl) {
  const std::wstring path = ChooseApplicationFile(
      ::GetParent(hwnd()), ShellFolderPath(csidl), GetText("AddAcceleratedAppFileDialogFilter"));
  if (!path.empty()) controller_->AddChosen(path);
}

// ---- rows --------------------------------------------------------------------------------------

int CVpnAppListCtrl::AppendRow(const AppListRow& row) {
  const LPARAM id = nextId_++;
  rows_[id] = row;
  std::wstring name = row.displayName;
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
  item.iItem = RowCount();
  item.pszText = name.data();
  item.lParam = id;
  item.iImage = SystemIconIndex(row.key);
  const int index =
      static_cast<int>(::SendMessageW(hwnd(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (index < 0) {
    rows_.erase(id);
    return -1;
  }
  std::wstring path = row.fullName;
  LVITEMW sub = {};
  sub.iSubItem = 1;
  sub.pszText = path.data();
  ::SendMessageW(hwnd(), LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
  SetRowChecked(index, row.active);
  return index;
}

const AppListRow* CVpnAppListCtrl::RowData(int row) const {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!::SendMessageW(hwnd(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  const auto found = rows_.find(item.lParam);
  return found == rows_.end() ? nullptr : &found->second;
}

int CVpnAppListCtrl::RowCount() const {
  return static_cast<int>(::SendMessageW(hwnd(), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring CVpnAppListCtrl::RowKey(int row) const {
  const AppListRow* data = RowData(row);
  return data ? data->key : std::wstring();
}

bool CVpnAppListCtrl::IsRowChecked(int row) const {
  const UINT state =
      static_cast<UINT>(::SendMessageW(hwnd(), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
  return ((state & LVIS_STATEIMAGEMASK) >> 12) == kCheckedImage;
}

void CVpnAppListCtrl::SetRowChecked(int row, bool checked) {
  LVITEMW state = {};
  state.stateMask = LVIS_STATEIMAGEMASK;
  state.state = INDEXTOSTATEIMAGEMASK(checked ? kCheckedImage : kUncheckedImage);
  ::SendMessageW(hwnd(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

void CVpnAppListCtrl::SelectRow(int row, bool selected) {
  LVITEMW state = {};
  state.stateMask = LVIS_SELECTED;
  state.state = selected ? LVIS_SELECTED : 0;
  ::SendMessageW(hwnd(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

std::wstring CVpnAppListCtrl::RowText(int row, int column) const {
  wchar_t text[MAX_PATH * 2] = {};
  LVITEMW get = {};
  get.iSubItem = column;
  get.pszText = text;
  get.cchTextMax = static_cast<int>(std::size(text));
  ::SendMessageW(hwnd(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&get));
  return text;
}

std::vector<int> CVpnAppListCtrl::SelectedRows() const {
  std::vector<int> selected;
  int row = -1;
  for (;;) {
    row = static_cast<int>(
        ::SendMessageW(hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED));
    if (row < 0) return selected;
    selected.push_back(row);
  }
}

void CVpnAppListCtrl::DeleteRow(int row) {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!::SendMessageW(hwnd(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return;
  ::SendMessageW(hwnd(), LVM_DELETEITEM, row, 0);
  rows_.erase(item.lParam);
}

void CVpnAppListCtrl::RevealRow(int row) {
  ::SendMessageW(hwnd(), LVM_ENSUREVISIBLE, row, FALSE);
  ::SendMessageW(hwnd(), LVM_SETSELECTIONMARK, 0, row);
}

void CVpnAppListCtrl::Redraw() { InvalidateRect(hwnd(), nullptr, TRUE); }

void CVpnAppListCtrl::ShowMessage(const std::wstring& text) {
  if (showMessage) {
    showMessage(text);
  } else {
    ShowMessageBox({}, text, MB_OK, ::GetParent(hwnd()), L"Kavrin");
  }
}

bool CVpnAppListCtrl::EditOptions(AppBindOptions& options) {
  if (editOptions) return editOptions(options);
  CDlgVpnAppBindSetting dialog(options);
  if (dialog.DoModal(::GetParent(hwnd())) != IDOK) return false;
  options = dialog.options();
  return true;
}

int CVpnAppListCtrl::Compare(LPARAM first, LPARAM second) {
  const auto a = rows_.find(first);
  const auto b = rows_.find(second);
  if (a == rows_.end() || b == rows_.end()) return 0;
  const bool byName = sortColumn() == 0;
  const std::wstring& left = byName ? a->second.displayName : a->second.key;
  const std::wstring& right = byName ? b->second.displayName : b->second.key;
  return lstrcmpiW(left.c_str(), right.c_str()) * sortDirection();
}

// ---- messages ----------------------------------------------------------------------------------

bool CVpnAppListCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_PAINT:
      if (RowCount() != 0) break;
      result = Default();
      DrawEmptyHint();
      return true;
    case WM_CONTEXTMENU:
      ShowContextMenu(lParam);
      result = 0;
      return true;
    case WM_DROPFILES:
      DropFiles(reinterpret_cast<HDROP>(wParam));
      result = 0;
      return true;
    default:
      break;
  }
  return CSkinListCtrl::OnMessage(message, wParam, lParam, result);
}

void CVpnAppListCtrl::ShowContextMenu(LPARAM at) {
  UniqueMenu menu(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_APPLIST_MENU)));
  if (!menu) return;
  HMENU popup = GetSubMenu(menu.get(), 0);
  if (popup == nullptr) return;
  POINT point = {GET_X_LPARAM(at), GET_Y_LPARAM(at)};
  if (at == -1) {  // from the keyboard: at the list's corner
    point = {0, 0};
    ClientToScreen(hwnd(), &point);
  }
  const UINT command = static_cast<UINT>(
      TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, point.x, point.y, 0,
                     hwnd(), nullptr));
  if (command != 0) RunCommand(command);
}

void CVpnAppListCtrl::DropFiles(HDROP drop) {
  std::vector<std::wstring> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT n = 0; n < count; ++n) {
    const UINT length = DragQueryFileW(drop, n, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    DragQueryFileW(drop, n, path.data(), length + 1);
    path.resize(length);
    paths.push_back(std::move(path));
  }
  DragFinish(drop);
  AddDropped(paths);
}

void CVpnAppListCtrl::DrawEmptyHint() {
  DrawEmptyListText(hwnd(), GetText("DragAppToThisList"), kHintColor);
}
