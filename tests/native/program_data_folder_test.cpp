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

// Set-aside names from a counter, so the tests can name them.
SetAsideRandom Counter() {
  return [n = uint64_t{0}]() mutable { return ++n; };
}

std::wstring Aside(const std::wstring& path, uint64_t n) {
  wchar_t hex[17] = {};
  swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(n));
  return path + kSetAsideMarker + hex;
}

TEST(SecureDataFolder, CreatesAMissingFolderWithTheDescriptor) {
  FakeFolderSecurity security;
  const DataFolderRepair repair = SecureDataFolder(security, kFolder, Counter());
  EXPECT_TRUE(repair.secured);
  EXPECT_TRUE(repair.created);
  EXPECT_EQ(security.log, std::vector<std::wstring>{L"create " + kFolder + L" " + kDescriptor});
}

// A folder an older version left open to everyone is replaced whole, its contents untouched: a
// descriptor passed on in place would reach whatever others had linked into it.
TEST(SecureDataFolder, AFolderNotEntirelyOursIsReplacedWholeUnopened) {
  FolderEntryFacts open = FakeFolderSecurity::OwnFolder();
  open.othersMayWrite = true;
  FolderEntryFacts link = FakeFolderSecurity::OwnFolder();
  link.link = true;
  for (const FolderEntryFacts& old : {open, link, FakeFolderSecurity::UsersFolder(),
                                      FakeFolderSecurity::UsersFile()}) {
    FakeFolderSecurity security;
    security.entries[kFolder] = old;
    security.entries[kFolder + L"\\Kavrin.ini"] = FakeFolderSecurity::OwnFile();
    const DataFolderRepair repair = SecureDataFolder(security, kFolder, Counter());
    EXPECT_TRUE(repair.secured && repair.created);
    EXPECT_EQ(security.log, (std::vector<std::wstring>{L"rename " + kFolder + L" " + Aside(kFolder, 1),
                                                        L"create " + kFolder + L" " + kDescriptor}));
    EXPECT_TRUE(security.entries.count(Aside(kFolder, 1) + L"\\Kavrin.ini"));
  }
}

// Attack: a file in the folder's place and every name the set-aside would have counted through.
TEST(SecureDataFolder, PlantedSetAsideNamesCannotBlockTheFolder) {
  FakeFolderSecurity security;
  security.entries[kFolder] = FakeFolderSecurity::UsersFile();
  for (int n = 1; n <= 100; ++n) {
    security.entries[kFolder + L".untrusted-" + std::to_wstring(n)] =
        FakeFolderSecurity::UsersFile();
  }
  const DataFolderRepair repair = SecureDataFolder(security, kFolder, Counter());
  EXPECT_TRUE(repair.secured && repair.created);
  EXPECT_TRUE(security.entries.count(Aside(kFolder, 1)));
}

// Attacks the set-aside cannot get past: the planted folder held open without sharing deletion,
// and someone who takes every new name first. The folder is then not ours, and says so.
TEST(SecureDataFolder, StaysUnsecuredWhenTheFolderCannotBeSetAside) {
  FakeFolderSecurity held;
  held.entries[kFolder] = FakeFolderSecurity::UsersFolder();
  held.refuseRename.insert(kFolder);
  EXPECT_FALSE(SecureDataFolder(held, kFolder, Counter()).secured);
  for (const std::wstring& line : held.log) EXPECT_EQ(line.rfind(L"rename ", 0), 0u) << line;

  FakeFolderSecurity squatted;
  squatted.entries[kFolder] = FakeFolderSecurity::UsersFolder();
  squatted.takeEveryName = true;
  EXPECT_FALSE(SecureDataFolder(squatted, kFolder, Counter()).secured);
  EXPECT_LE(squatted.log.size(), 8u) << "gives up after a few names";

}

TEST(SecureDataFolder, EntriesNotOursAreSetAsideAndOneThatStaysMakesItUnsafe) {
  FolderEntryFacts link = FakeFolderSecurity::OwnFile();
  link.link = true;
  FolderEntryFacts secondName = FakeFolderSecurity::OwnFile();
  secondName.hardLinks = 2;
  const std::wstring in = kFolder + L"\\";
  auto planted = [&] {
    FakeFolderSecurity security;
    security.entries[kFolder] = FakeFolderSecurity::OwnFolder();
    security.entries[in + L"Kavrin.ini"] = FakeFolderSecurity::UsersFile();
    security.entries[in + L"KavrinAnns.ini"] = link;
    security.entries[in + L"RouteJournal.dat"] = secondName;
    security.entries[in + L"applist.ini"] = FakeFolderSecurity::OwnFile();
    security.entries[in + L"Update-1"] = FakeFolderSecurity::OwnFolder();
    security.entries[Aside(in + L"Kavrin.ini", 9)] = FakeFolderSecurity::UsersFile();
    return security;
  };
  FakeFolderSecurity security = planted();
  const DataFolderRepair repair = SecureDataFolder(security, kFolder, Counter());
  EXPECT_TRUE(repair.secured);
  EXPECT_EQ(repair.setAside, 3u);
  for (const wchar_t* name : {L"Kavrin.ini", L"KavrinAnns.ini", L"RouteJournal.dat"}) {
    EXPECT_FALSE(security.entries.count(in + name)) << name;
  }
  EXPECT_TRUE(security.entries.count(in + L"applist.ini"));
  EXPECT_TRUE(security.entries.count(Aside(in + L"Kavrin.ini", 9))) << "set aside before: stays";

  // The planted link is held open: it cannot be moved, so nothing in the folder may be trusted.
  FakeFolderSecurity stuck = planted();
  stuck.refuseRename.insert(in + L"KavrinAnns.ini");
  EXPECT_FALSE(SecureDataFolder(stuck, kFolder, Counter()).secured);
}

TEST(UpdateCleanUp, OnlyOurOwnUpdateFoldersAreEmptiedThroughTheirHandles) {
  EXPECT_TRUE(IsUpdateFolderName(L"Update-7"));
  for (const wchar_t* name : {L"Update-", L"Update-7.untrusted-1", L"Update-x", L"update-7",
                              L"Update-12345678901"}) {
    EXPECT_FALSE(IsUpdateFolderName(name)) << name;
  }
  FakeFolderSecurity security;
  const std::wstring in = kFolder + L"\\";
  FolderEntryFacts junction = FakeFolderSecurity::OwnFolder();
  junction.link = true;
  security.entries[kFolder] = FakeFolderSecurity::OwnFolder();
  security.entries[in + L"Update-1"] = FakeFolderSecurity::OwnFolder();
  security.entries[in + L"Update-1\\KavrinInstaller.exe"] = FakeFolderSecurity::OwnFile();
  security.entries[in + L"Update-2"] = junction;
  security.entries[in + L"Update-3"] = FakeFolderSecurity::UsersFolder();
  security.entries[in + L"Update-3\\x"] = FakeFolderSecurity::UsersFile();
  security.entries[in + L"Update-4.untrusted-1"] = FakeFolderSecurity::OwnFolder();
  security.entries[in + L"Update-4.untrusted-1\\y"] = FakeFolderSecurity::OwnFile();
  security.entries[in + L"Kavrin.exe"] = FakeFolderSecurity::OwnFile();
  security.entries[in + L"applist.ini"] = FakeFolderSecurity::OwnFile();

  EXPECT_EQ(DeleteLeftoverUpdateFolders(security, kFolder, {L"Kavrin.exe"}), 1u);
  EXPECT_FALSE(security.entries.count(in + L"Update-1"));
  EXPECT_FALSE(security.entries.count(in + L"Kavrin.exe"));
  for (const wchar_t* kept : {L"Update-2", L"Update-3\\x", L"Update-4.untrusted-1\\y",
                              L"applist.ini"}) {
    EXPECT_TRUE(security.entries.count(in + kept)) << kept;
  }
  for (const std::wstring& line : security.log) {
    EXPECT_EQ(line.find(L"Update-2\\"), std::wstring::npos) << "never through the link: " << line;
  }
}

// Attack: the download folder is renamed away while we work in it, and a junction to a system
// folder put in its place. Deleting goes on in the folder we hold, never through the new name.
TEST(UpdateCleanUp, AFolderSwappedForAJunctionMidwayTakesNothingElseWithIt) {
  FakeFolderSecurity security;
  const std::wstring in = kFolder + L"\\";
  const std::wstring system = L"C:\\Windows\\System32";
  security.entries[kFolder] = FakeFolderSecurity::OwnFolder();
  security.entries[in + L"Update-5"] = FakeFolderSecurity::OwnFolder();
  security.entries[in + L"Update-5\\kernel32.dll"] = FakeFolderSecurity::OwnFile();
  security.entries[system + L"\\kernel32.dll"] = FakeFolderSecurity::OwnFile();
  security.afterList = [&](const std::wstring& listed) {
    if (listed != in + L"Update-5") return;
    security.Move(in + L"Update-5", in + L"elsewhere");
    FolderEntryFacts junction = FakeFolderSecurity::UsersFolder();
    junction.link = true;
    security.entries[in + L"Update-5"] = junction;
    security.entries[in + L"Update-5\\kernel32.dll"] = FakeFolderSecurity::OwnFile();
  };
  DeleteLeftoverUpdateFolders(security, kFolder, {});
  EXPECT_FALSE(security.entries.count(in + L"elsewhere\\kernel32.dll"));
  EXPECT_TRUE(security.entries.count(in + L"Update-5\\kernel32.dll"));
  EXPECT_TRUE(security.entries.count(system + L"\\kernel32.dll"));
}

}  // namespace
