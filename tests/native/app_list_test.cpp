#include "policy/app_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "base/text.h"
#include "config/native_private_profile.h"
#include "config/profile_access.h"
#include "config/text_table.h"

namespace {

namespace fs = std::filesystem;

class FakeAppListView : public AppListView {
 public:
  struct Row {
    AppListRow data;
    bool checked;
    bool selected = false;
  };

  int AppendRow(const AppListRow& row) override {
    rows.push_back({row, row.active});
    return static_cast<int>(rows.size()) - 1;
  }
  int RowCount() const override { return static_cast<int>(rows.size()); }
  std::wstring RowKey(int row) const override { return rows.at(row).data.key; }
  bool IsRowChecked(int row) const override { return rows.at(row).checked; }
  std::vector<int> SelectedRows() const override {
    std::vector<int> selected;
    for (size_t n = 0; n < rows.size(); ++n) {
      if (rows[n].selected) selected.push_back(static_cast<int>(n));
    }
    return selected;
  }
  void DeleteRow(int row) override { rows.erase(rows.begin() + row); }
  void RevealRow(int row) override { revealed.push_back(row); }
  void Redraw() override { ++redraws; }
  void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
  bool EditOptions(AppBindOptions& options) override {
    offered.push_back(options);
    if (!answer) return false;
    options = *answer;
    return true;
  }

  std::vector<std::wstring> Keys() const {
    std::vector<std::wstring> keys;
    for (const Row& row : rows) keys.push_back(row.data.key);
    return keys;
  }

  std::vector<Row> rows;
  std::vector<int> revealed;
  std::vector<std::wstring> messages;
  std::vector<AppBindOptions> offered;
  std::optional<AppBindOptions> answer;
  int redraws = 0;
};

class FakeAppShell : public AppShell {
 public:
  bool ResolveShortcut(const std::wstring& shortcut, std::wstring& target) override {
    const auto found = shortcuts.find(shortcut);
    if (found == shortcuts.end()) return false;
    target = found->second;
    return true;
  }
  void LowerIntegrity(const std::wstring& file) override { labelled.push_back(file); }

  std::map<std::wstring, std::wstring> shortcuts;
  std::vector<std::wstring> labelled;
};

class AppListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("kavrin_app_list_test_" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = Utf8ToWide((dir_ / "applist.ini").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string FileBytes() {
    std::ifstream in(dir_ / "applist.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::wstring Value(const std::wstring& section, const std::wstring& key) {
    return ReadProfileText(profile_, file_, section, key, L"-");
  }
  std::vector<std::wstring> Sections() { return EnumProfileSections(profile_, file_); }

  fs::path dir_;
  std::wstring file_;
  NativePrivateProfile profile_;
  FakeAppListView view_;
  FakeAppShell shell_;

  AppListController List() { return AppListController(view_, profile_, shell_, file_); }
};

TEST_F(AppListTest, AddedProgramsGetASectionAndARowAndComeBackOnTheNextLoad) {
  const std::wstring odd = L"C:\\Games\\A[1]%20\\Run]\tnow.exe";
  const std::wstring plain = L"C:\\Tools\\Editor.EXE";
  AppListController list = List();
  EXPECT_EQ(list.Add(odd, true), 0);
  EXPECT_EQ(list.Add(plain, true), 1);
  // Brackets and percent signs are escaped in the section name, nowhere else.
  EXPECT_NE(FileBytes().find("[C:\\Games\\A%5b1%5d%2520\\Run%5d%09now.exe]"), std::string::npos)
      << FileBytes();
  EXPECT_EQ(Value(odd, L"AppFullname"), odd);
  for (const wchar_t* key : {L"UseAsyncMode", L"ForceWSPBind"}) EXPECT_EQ(Value(odd, key), L"0");
  EXPECT_EQ(Value(odd, L"Active"), L"1");

  FakeAppListView later;
  AppListController reloaded(later, profile_, shell_, file_);
  reloaded.Load();
  ASSERT_EQ(later.rows.size(), 2u);
  EXPECT_EQ(later.rows[0].data.key, odd);
  EXPECT_EQ(later.rows[0].data.displayName, L"Run]\tnow.exe");
  EXPECT_EQ(later.rows[0].data.fullName, odd);
  EXPECT_TRUE(later.rows[0].checked);
  EXPECT_EQ(later.rows[1].data.key, plain);
  EXPECT_EQ(Sections(), (std::vector<std::wstring>{odd, plain}));
}

TEST_F(AppListTest, ShortcutsAndProgramsAreToldByTheirEndingsInAnyCase) {
  shell_.shortcuts[L"C:\\Menu\\X.LNK"] = L"C:\\Program Files\\Y\\Y.EXE";
  shell_.shortcuts[L"C:\\Menu\\Readme.lnk"] = L"C:\\Program Files\\Y\\Readme.txt";
  shell_.shortcuts[L"C:\\Menu\\Empty.lnk"] = L"";
  AppListController list = List();

  ASSERT_EQ(list.Add(L"C:\\Menu\\X.LNK", true), 0);
  EXPECT_EQ(view_.rows[0].data.displayName, L"X.LNK");
  EXPECT_EQ(view_.rows[0].data.fullName, L"C:\\Program Files\\Y\\Y.EXE");
  EXPECT_EQ(Value(L"C:\\Menu\\X.LNK", L"AppFullname"), L"C:\\Program Files\\Y\\Y.EXE");

  for (const wchar_t* refused :
       {L"C:\\Menu\\Readme.lnk", L"C:\\Menu\\Empty.lnk", L"C:\\Menu\\Broken.lnk",
        L"C:\\Docs\\Notes.txt", L"C:\\Games", L"C:\\Games\\exe", L"Run.exe", L""}) {
    EXPECT_EQ(list.Add(refused, true), -1) << refused;
  }
  EXPECT_EQ(view_.rows.size(), 1u);
  EXPECT_EQ(Sections(), std::vector<std::wstring>{L"C:\\Menu\\X.LNK"});
}

TEST_F(AppListTest, TheSamePathAddedTwiceGivesTwoRowsOverOneFreshSection) {
  const std::wstring path = L"C:\\Tools\\Editor.exe";
  AppListController list = List();
  list.Add(path, true);
  list.WriteOptions(path, {true, true});
  WriteProfileInt(profile_, file_, path, L"Active", 0);

  EXPECT_EQ(list.Add(path, true), 1);
  EXPECT_EQ(view_.Keys(), (std::vector<std::wstring>{path, path}));
  EXPECT_EQ(Sections(), std::vector<std::wstring>{path});
  EXPECT_EQ(Value(path, L"UseAsyncMode"), L"0");
  EXPECT_EQ(Value(path, L"ForceWSPBind"), L"0");
  EXPECT_EQ(Value(path, L"Active"), L"1");
  EXPECT_TRUE(view_.rows[1].checked);
}

TEST_F(AppListTest, LoadingSkipsWhatNoLongerResolvesButLeavesItInTheFile) {
  shell_.shortcuts[L"C:\\Menu\\Kept.lnk"] = L"C:\\Apps\\Kept.exe";
  shell_.shortcuts[L"C:\\Menu\\Gone.lnk"] = L"C:\\Apps\\Gone.exe";
  AppListController list = List();
  list.Add(L"C:\\Menu\\Kept.lnk", true);
  list.Add(L"C:\\Menu\\Gone.lnk", true);
  list.Add(L"C:\\Apps\\Quiet.exe", true);
  WriteProfileInt(profile_, file_, L"C:\\Apps\\Quiet.exe", L"Active", 0);
  // Written by someone else: no check state, and a name that is no program.
  WriteProfileText(profile_, file_, L"C:\\Apps\\Other.exe", L"AppFullname", L"C:\\Apps\\O.exe");
  WriteProfileText(profile_, file_, L"C:\\Apps\\notes.txt", L"AppFullname", L"x");
  shell_.shortcuts.erase(L"C:\\Menu\\Gone.lnk");
  const std::string before = FileBytes();

  FakeAppListView later;
  AppListController reloaded(later, profile_, shell_, file_);
  reloaded.Load();
  EXPECT_EQ(later.Keys(), (std::vector<std::wstring>{L"C:\\Menu\\Kept.lnk", L"C:\\Apps\\Quiet.exe",
                                                     L"C:\\Apps\\Other.exe"}));
  EXPECT_FALSE(later.rows[1].checked);
  EXPECT_TRUE(later.rows[2].checked);  // no "Active" reads as checked
  EXPECT_EQ(later.rows[2].data.fullName, L"C:\\Apps\\O.exe");
  EXPECT_EQ(FileBytes(), before);
}

TEST_F(AppListTest, RemovingSelectedRowsRemovesExactlyTheirSections) {
  AppListController list = List();
  std::vector<std::wstring> paths;
  for (int n = 0; n < 6; ++n) {
    paths.push_back(L"C:\\Apps\\App" + std::to_wstring(n) + L".exe");
    list.Add(paths.back(), true);
  }
  for (int row : {0, 3, 5}) view_.rows[static_cast<size_t>(row)].selected = true;
  list.RemoveSelected();
  const std::vector<std::wstring> left = {paths[1], paths[2], paths[4]};
  EXPECT_EQ(view_.Keys(), left);
  EXPECT_EQ(Sections(), left);
  EXPECT_EQ(view_.redraws, 1);

  for (auto& row : view_.rows) row.selected = false;
  view_.rows[1].selected = true;
  view_.rows[2].selected = true;
  list.RemoveSelected();
  EXPECT_EQ(Sections(), std::vector<std::wstring>{paths[1]});
}

TEST_F(AppListTest, DroppedFilesAreAddedInOrderAndARefusalIsToldOnce) {
  AppListController list = List();
  list.AddDropped({L"C:\\Apps\\One.exe", L"C:\\Docs\\Letter.doc", L"C:\\Apps\\Two.exe"});
  EXPECT_EQ(view_.Keys(), (std::vector<std::wstring>{L"C:\\Apps\\One.exe", L"C:\\Apps\\Two.exe"}));
  EXPECT_EQ(view_.revealed, std::vector<int>{1});
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{GetText("MustBeShortcutOrEXE")});

  // A drop ending in a refusal reveals nothing.
  list.AddDropped({L"C:\\Apps\\Three.exe", L"C:\\Docs", L"C:\\Docs\\a.txt"});
  EXPECT_EQ(view_.revealed, std::vector<int>{1});
  EXPECT_EQ(view_.messages.size(), 2u);
  EXPECT_EQ(view_.rows.size(), 3u);

  list.AddChosen(L"C:\\Apps\\Four.exe");
  EXPECT_EQ(view_.revealed, (std::vector<int>{1, 3}));
  list.AddChosen(L"C:\\Apps\\Four.dll");
  EXPECT_EQ(view_.messages.size(), 3u);
}

TEST_F(AppListTest, OptionsComeFromTheFirstSelectedRowAndGoToEverySelectedRow) {
  AppListController list = List();
  for (const wchar_t* path : {L"C:\\A\\a.exe", L"C:\\A\\b.exe", L"C:\\A\\c.exe"}) {
    list.Add(path, true);
  }
  list.ChangeOptions();  // nothing selected
  EXPECT_TRUE(view_.offered.empty());

  list.WriteOptions(L"C:\\A\\b.exe", {true, false});
  view_.rows[1].selected = view_.rows[2].selected = true;
  view_.answer.reset();  // Cancel
  list.ChangeOptions();
  ASSERT_EQ(view_.offered.size(), 1u);
  EXPECT_TRUE(view_.offered[0].useAsyncMode);
  EXPECT_FALSE(view_.offered[0].forceWspBind);
  EXPECT_EQ(Value(L"C:\\A\\c.exe", L"UseAsyncMode"), L"0");

  view_.answer = AppBindOptions{false, true};
  list.ChangeOptions();
  for (const wchar_t* path : {L"C:\\A\\b.exe", L"C:\\A\\c.exe"}) {
    EXPECT_EQ(Value(path, L"UseAsyncMode"), L"0") << path;
    EXPECT_EQ(Value(path, L"ForceWSPBind"), L"1") << path;
  }
  EXPECT_EQ(Value(L"C:\\A\\a.exe", L"ForceWSPBind"), L"0");
}

TEST_F(AppListTest, SavingWritesEveryCheckLabelsTheFileAndTellsWhetherAnyIsChecked) {
  AppListController list = List();
  EXPECT_FALSE(list.SaveChecks());  // an empty list

  list.Add(L"C:\\A\\a.exe", true);
  list.Add(L"C:\\A\\b.exe", true);
  view_.rows[0].checked = false;
  view_.rows[1].checked = false;
  EXPECT_FALSE(list.SaveChecks());
  EXPECT_EQ(Value(L"C:\\A\\a.exe", L"Active"), L"0");
  EXPECT_EQ(Value(L"C:\\A\\b.exe", L"Active"), L"0");

  view_.rows[1].checked = true;
  EXPECT_TRUE(list.SaveChecks());
  EXPECT_EQ(Value(L"C:\\A\\b.exe", L"Active"), L"1");
  EXPECT_EQ(shell_.labelled, (std::vector<std::wstring>{file_, file_, file_}));
}

}  // namespace
