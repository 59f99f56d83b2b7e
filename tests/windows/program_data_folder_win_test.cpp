#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/file_attributes.h"
#include "config/program_data_folder_win.h"
#include "service/server_response.h"

namespace {

namespace fs = std::filesystem;

uint64_t NextName() {
  static uint64_t n = 0;
  return ++n;
}

// The one entry of `folder` whose name starts with `prefix`.
bool HasEntryStartingWith(const fs::path& folder, const std::wstring& prefix) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().wstring().rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// The system keeps no descriptors on files under Wine (it makes one from the Unix mode bits), so
// these tests hold to what the calls do; what the descriptor says is tested natively as text.
class ProgramDataFolderWin : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() /
            ("kv-data-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(base_);
    fs::create_directories(base_);
    folder_ = (base_ / "Kavrin").wstring();
  }
  void TearDown() override { fs::remove_all(base_); }

  fs::path base_;
  std::wstring folder_;
  SystemFolderSecurity security_;
};

TEST_F(ProgramDataFolderWin, CreatesTheFolderAndKeepsOneThatIsOurs) {
  EXPECT_TRUE(security_.CreateFolder(folder_, kDataFolderDescriptor));
  EXPECT_FALSE(security_.CreateFolder(folder_, kDataFolderDescriptor)) << "never an existing one";
  const FolderEntryFacts facts = security_.Inspect(folder_);
  EXPECT_TRUE(facts.exists && facts.directory && !facts.link);
  EXPECT_TRUE(facts.trustedOwner) << "made by this process";

  const DataFolderRepair repair = SecureDataFolder(security_, folder_, NextName);
  EXPECT_TRUE(repair.secured);
  EXPECT_FALSE(repair.created);
  EXPECT_EQ(security_.OpenFolder((base_ / "missing").wstring()), nullptr);
}

// A second name for someone else's file, planted before the repair, is renamed aside rather than
// written through.
TEST_F(ProgramDataFolderWin, PlantedHardLinkIsSetAsideNotWrittenThrough) {
  ASSERT_TRUE(security_.CreateFolder(folder_, kDataFolderDescriptor));
  const std::wstring victim = (base_ / "victim.ini").wstring();
  std::ofstream(fs::path(victim)) << "precious";
  const std::wstring planted = folder_ + L"\\Kavrin.ini";
  ASSERT_TRUE(CreateHardLinkW(planted.c_str(), victim.c_str(), nullptr));
  EXPECT_EQ(security_.Inspect(planted).hardLinks, 2u);

  EXPECT_EQ(SecureDataFolder(security_, folder_, NextName).setAside, 1u);
  EXPECT_TRUE(HasEntryStartingWith(folder_, L"Kavrin.ini.untrusted-"));
  ASSERT_TRUE(SaveResponseBody(planted, "fresh"));
  std::ifstream in{fs::path(victim)};
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

// A data folder that is a plain file is renamed aside and a folder made in its place.
TEST_F(ProgramDataFolderWin, FileInThePlaceOfTheFolderIsSetAside) {
  std::ofstream(fs::path(folder_)) << "not a folder";
  const DataFolderRepair repair = SecureDataFolder(security_, folder_, NextName);
  EXPECT_TRUE(repair.secured && repair.created);
  EXPECT_TRUE(fs::is_directory(fs::path(folder_)));
  EXPECT_TRUE(HasEntryStartingWith(base_, L"Kavrin.untrusted-"));
}

// A user holds the planted file open without sharing deletion: the system refuses every rename,
// so the folder is not ours this start.
TEST_F(ProgramDataFolderWin, PlantedFileHeldOpenLeavesTheFolderUnsecured) {
  UniqueHandle held(CreateFileW(folder_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  const DataFolderRepair repair = SecureDataFolder(security_, folder_, NextName);
  EXPECT_FALSE(repair.secured);
  EXPECT_FALSE(HasEntryStartingWith(base_, L"Kavrin.untrusted-"));
}

// Clean-up through held handles: a download folder with a read-only package goes; a set-aside
// folder whose name only starts like one stays, with what is in it.
TEST_F(ProgramDataFolderWin, CleanUpTakesOnlyDownloadFolders) {
  ASSERT_TRUE(security_.CreateFolder(folder_, kDataFolderDescriptor));
  const fs::path data(folder_);
  fs::create_directories(data / "Update-12");
  fs::create_directories(data / "Update-3.untrusted-1");
  std::ofstream(data / "Update-12" / "KavrinInstaller.exe") << "old";
  std::ofstream(data / "Update-3.untrusted-1" / "keep") << "x";
  std::ofstream(data / "Kavrin.exe") << "older";
  ASSERT_TRUE(SetFileAttributesW((data / "Update-12" / "KavrinInstaller.exe").c_str(),
                                 FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(DeleteLeftoverUpdateFolders(security_, folder_, {L"Kavrin.exe"}), 1u);
  EXPECT_FALSE(fs::exists(data / "Update-12"));
  EXPECT_FALSE(fs::exists(data / "Kavrin.exe"));
  EXPECT_TRUE(fs::exists(data / "Update-3.untrusted-1" / "keep"));
}

TEST_F(ProgramDataFolderWin, LeftoverHiddenSystemAnswerCanBeReplaced) {
  const std::wstring file = (base_ / "Kavrin.ini").wstring();
  ASSERT_TRUE(SaveResponseBody(file, "old"));
  ASSERT_TRUE(SetFileAttributesW(
      file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
  ResetFileAttributes(file);
  EXPECT_EQ(GetFileAttributesW(file.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                 FILE_ATTRIBUTE_READONLY),
            0u);
  EXPECT_TRUE(SaveResponseBody(file, "new"));
}

}  // namespace
