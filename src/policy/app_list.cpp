#include "policy/app_list.h"

#include <utility>

#include "base/text.h"
#include "config/profile_access.h"
#include "config/text_table.h"

namespace {

constexpr wchar_t kFullNameKey[] = L"AppFullname";
constexpr wchar_t kAsyncModeKey[] = L"UseAsyncMode";
constexpr wchar_t kForceBindKey[] = L"ForceWSPBind";
constexpr wchar_t kActiveKey[] = L"Active";

}  // namespace

std::wstring AppDisplayName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool HasSuffixNoCase(const std::wstring& path, const std::wstring& suffix) {
  if (path.size() < suffix.size()) return false;
  return EqualsNoCase(std::wstring_view(path).substr(path.size() - suffix.size()), suffix);
}

AppListController::AppListController(AppListView& view, PrivateProfile& profile, AppShell& shell,
                                     std::wstring file)
    : view_(view), profile_(profile), shell_(shell), file_(std::move(file)) {}

void AppListController::Load() {
  for (const std::wstring& key : EnumProfileSections(profile_, file_)) Add(key, false);
}

int AppListController::Add(const std::wstring& path, bool write) {
  if (path.find(L'\\') == std::wstring::npos) return -1;
  std::wstring target = path;
  if (HasSuffixNoCase(path, L".lnk") && !shell_.ResolveShortcut(path, target)) return -1;
  if (target.empty() || !HasSuffixNoCase(target, L".exe")) return -1;

  if (write) {
    WriteProfileText(profile_, file_, path, kFullNameKey, target);
    WriteProfileInt(profile_, file_, path, kAsyncModeKey, 0);
    WriteProfileInt(profile_, file_, path, kForceBindKey, 0);
    WriteProfileInt(profile_, file_, path, kActiveKey, 1);
  }
  AppListRow row;
  row.displayName = AppDisplayName(path);
  row.key = path;
  row.fullName = ReadProfileText(profile_, file_, path, kFullNameKey, L"");
  row.active = ReadProfileInt(profile_, file_, path, kActiveKey, 1) != 0;
  return view_.AppendRow(row);
}

void AppListController::AddChosen(const std::wstring& path) {
  const int row = Add(path, true);
  if (row < 0) {
    Refuse();
    return;
  }
  view_.RevealRow(row);
}

void AppListController::AddDropped(const std::vector<std::wstring>& paths) {
  bool refused = false;
  int last = -1;
  for (const std::wstring& path : paths) {
    last = Add(path, true);
    if (last < 0) refused = true;
  }
  if (last >= 0) view_.RevealRow(last);
  if (refused) Refuse();
}

void AppListController::ChangeOptions() {
  const std::vector<int> selected = view_.SelectedRows();
  if (selected.empty()) return;
  AppBindOptions options = ReadOptions(view_.RowKey(selected.front()));
  if (!view_.EditOptions(options)) return;
  for (int row : selected) WriteOptions(view_.RowKey(row), options);
}

void AppListController::RemoveSelected() {
  const std::vector<int> selected = view_.SelectedRows();
  // From the last to the first, so the earlier indices still name their rows.
  for (auto row = selected.rbegin(); row != selected.rend(); ++row) {
    DeleteProfileSection(profile_, file_, view_.RowKey(*row));
    view_.DeleteRow(*row);
  }
  view_.Redraw();
}

bool AppListController::SaveChecks() {
  bool anyChecked = false;
  const int count = view_.RowCount();
  for (int row = 0; row < count; ++row) {
    const bool checked = view_.IsRowChecked(row);
    anyChecked = anyChecked || checked;
    WriteProfileInt(profile_, file_, view_.RowKey(row), kActiveKey, checked ? 1 : 0);
  }
  shell_.LowerIntegrity(file_);
  return anyChecked;
}

AppBindOptions AppListController::ReadOptions(const std::wstring& key) const {
  AppBindOptions options;
  options.useAsyncMode = ReadProfileInt(profile_, file_, key, kAsyncModeKey, 0) != 0;
  options.forceWspBind = ReadProfileInt(profile_, file_, key, kForceBindKey, 0) != 0;
  return options;
}

void AppListController::WriteOptions(const std::wstring& key, const AppBindOptions& options) {
  WriteProfileInt(profile_, file_, key, kAsyncModeKey, options.useAsyncMode ? 1 : 0);
  WriteProfileInt(profile_, file_, key, kForceBindKey, options.forceWspBind ? 1 : 0);
}

void AppListController::Refuse() { view_.ShowMessage(GetText("MustBeShortcutOrEXE")); }
