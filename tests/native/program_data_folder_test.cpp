#include "config/program_data_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "fakes/fake_folder_security.h"

namespace {

const std::wstring kFolder = L"C:\\ProgramData\\Kavrin";
const std::wstring kDescriptor = kDataFolderDescriptor;

bool Logged(const FakeFolderSecurity& security, const std::wstring& line) {
  for (const std::wstring& entry : security.log) {
    if (entry == line) return true;
  }
  return false;
}

TEST(DataFolderDescriptor, OnlyAdministratorsAndTheSystemMayChangeAnything) {
  const std::string text(kDescriptor.begin(), kDescriptor.end());
  EXPECT_EQ(text.rfind("O:BAD:P(", 0), 0u) << "owned by administrators, nothing inherited";
  const std::regex ace(R"(\(A;OICI;([^;]+);;;([^)]+)\))");
  int aces = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), ace), end; it != end; ++it, ++aces) {
    const std::string rights = (*it)[1];
    const std::string who = (*it)[2];
    if (who == "BA" || who == "SY") {
      EXPECT_EQ(rights, "FA") << who;
      continue;
    }
    // Read data, attributes, extended attributes, execute, read control, synchronize: nothing
    // that writes, deletes or changes rights.
    EXPECT_EQ(std::strtoul(rights.c_str(), nullptr, 0), 0x1200a9ul) << who;
  }
  EXPECT_EQ(aces, 4);
}

TEST(SecureDataFolder, CreatesAMissingFolderWithTheDescriptor) {
  FakeFolderSecurity security;
  const DataFolderRepair repair = SecureDataFolder(security, kFolder);
  EXPECT_TRUE(repair.secured);
  EXPECT_TRUE(repair.created);
  EXPECT_EQ(security.log, std::vector<std::wstring>{L"create " + kFolder + L" " + kDescriptor});
}

TEST(SecureDataFolder, RepairsAnOpenFolderAndSetsAsideWhatIsNotOurs) {
  FakeFolderSecurity security;
  FolderEntryFacts open = FakeFolderSecurity::OwnFolder();
  open.othersMayWrite = true;
  security.entries[kFolder] = open;
  FolderEntryFacts foreign = FakeFolderSecurity::OwnFile();
  foreign.trustedOwner = false;
  FolderEntryFacts link = FakeFolderSecurity::OwnFile();
  link.link = true;
  FolderEntryFacts secondName = FakeFolderSecurity::OwnFile();
  secondName.hardLinks = 2;
  security.entries[kFolder + L"\\Kavrin.ini"] = foreign;
  security.entries[kFolder + L"\\applist.ini"] = FakeFolderSecurity::OwnFile();
  security.entries[kFolder + L"\\KavrinAnns.ini"] = link;
  security.entries[kFolder + L"\\KavrinAnns.ini.untrusted-1"] = foreign;
  security.entries[kFolder + L"\\RouteJournal.dat"] = secondName;
  security.entries[kFolder + L"\\Update-1"] = FakeFolderSecurity::OwnFolder();

  const DataFolderRepair repair = SecureDataFolder(security, kFolder);
  EXPECT_TRUE(repair.secured);
  EXPECT_FALSE(repair.created);
  EXPECT_EQ(repair.setAside, 3u);
  EXPECT_TRUE(Logged(security, L"apply " + kFolder + L" " + kDescriptor));
  const std::wstring in = kFolder + L"\\";
  EXPECT_TRUE(Logged(security, L"rename " + in + L"Kavrin.ini " + in + L"Kavrin.ini.untrusted-1"));
  // The name taken by an earlier start is passed over, and that one itself stays put.
  EXPECT_TRUE(
      Logged(security, L"rename " + in + L"KavrinAnns.ini " + in + L"KavrinAnns.ini.untrusted-2"));
  EXPECT_TRUE(security.entries.count(in + L"KavrinAnns.ini.untrusted-1"));
  EXPECT_TRUE(security.entries.count(in + L"RouteJournal.dat.untrusted-1"));
  EXPECT_TRUE(security.entries.count(in + L"applist.ini"));
  EXPECT_TRUE(security.entries.count(in + L"Update-1"));
}

TEST(SecureDataFolder, AFolderThatIsNotOursIsSetAsideUnopened) {
  for (const bool isLink : {true, false}) {
    FakeFolderSecurity security;
    FolderEntryFacts planted = FakeFolderSecurity::OwnFolder();
    planted.link = isLink;
    planted.trustedOwner = isLink;
    security.entries[kFolder] = planted;
    security.entries[kFolder + L"\\Kavrin.ini"] = FakeFolderSecurity::OwnFile();

    const DataFolderRepair repair = SecureDataFolder(security, kFolder);
    EXPECT_TRUE(repair.secured && repair.created) << isLink;
    EXPECT_EQ(security.log,
              (std::vector<std::wstring>{L"rename " + kFolder + L" " + kFolder + L".untrusted-1",
                                         L"create " + kFolder + L" " + kDescriptor}))
        << "neither repaired nor listed through: " << isLink;
    EXPECT_FALSE(security.entries.count(kFolder + L"\\Kavrin.ini"));
  }
}

TEST(SecureDataFolder, StaysUnsecuredWhenItCannotBeMadeOurs) {
  FakeFolderSecurity stuck;
  FolderEntryFacts foreign = FakeFolderSecurity::OwnFolder();
  foreign.trustedOwner = false;
  stuck.entries[kFolder] = foreign;
  stuck.failRename = true;
  EXPECT_FALSE(SecureDataFolder(stuck, kFolder).secured);
  for (const std::wstring& line : stuck.log) EXPECT_EQ(line.rfind(L"rename ", 0), 0u) << line;

  FakeFolderSecurity unrepaired;
  FolderEntryFacts open = FakeFolderSecurity::OwnFolder();
  open.othersMayWrite = true;
  unrepaired.entries[kFolder] = open;
  unrepaired.failApply = true;
  EXPECT_FALSE(SecureDataFolder(unrepaired, kFolder).secured);
}

}  // namespace
