#include "config/install_folder.h"

#include <gtest/gtest.h>

#include "fakes/fake_folder_security.h"

namespace {

constexpr wchar_t kFolder[] = L"D:\\Tools\\OrumaVPN";
constexpr wchar_t kModule[] = L"D:\\Tools\\OrumaVPN\\KavrinBind.dll";

class InstallFolderTest : public ::testing::Test {
 protected:
  InstallFolderTest() { security_.passesOn = true; }

  // A folder as an ordinary user left it outside the program files folder: theirs, open to
  // every user, with a file in it everybody may replace.
  void UsersFolder() {
    security_.entries[kFolder] = {true, true, false, false, true, 1};
    security_.entries[kModule] = {true, false, false, true, true, 1};
  }

  FakeFolderSecurity security_;
};

TEST_F(InstallFolderTest, ANewFolderIsMadeWithTheProtectedDescriptor) {
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kProtected);
  EXPECT_EQ(security_.descriptors[kFolder], kInstallFolderDescriptors[0]);
  const std::wstring descriptor = kInstallFolderDescriptors[0];
  EXPECT_EQ(descriptor.rfind(L"O:BAD:P(", 0), 0u) << "owned by the administrators, nothing inherited";
  EXPECT_NE(descriptor.find(L"(A;OICI;0x1200a9;;;BU)"), std::wstring::npos)
      << "users read and execute, and no more";
}

TEST_F(InstallFolderTest, AnExistingFolderBecomesOursWithWhatInheritsInIt) {
  UsersFolder();
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kProtected);
  EXPECT_EQ(security_.descriptors[kFolder], kInstallFolderDescriptors[0]);
  EXPECT_EQ(security_.descriptors[kModule], L"inherited");
  EXPECT_TRUE(IsOwnFolder(security_.Inspect(kFolder)));
  EXPECT_TRUE(IsOwnFile(security_.Inspect(kModule)));
}

TEST_F(InstallFolderTest, AFolderThatCannotBeMadeOursIsRefused) {
  UsersFolder();
  security_.ownRights.insert(kModule);  // keeps "Users: Modify" of its own
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotSecured);

  UsersFolder();
  security_.ownRights.clear();
  security_.entries[kModule].trustedOwner = false;  // a user's file stays the user's
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotSecured);

  UsersFolder();
  security_.entries[kModule].trustedOwner = true;
  security_.failApply = true;
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotSecured);

  security_.failApply = false;
  security_.entries[kFolder].link = true;  // a junction to somewhere else
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotAFolder);
  security_.entries[kFolder] = FakeFolderSecurity::OwnFile();
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotAFolder);
}

// Windows 7 and 8.1 pass the descriptor on through a hard link: the linked file elsewhere would
// get our access list. Links are looked at before anything is set.
TEST_F(InstallFolderTest, LinksInsideAreFoundBeforeAnythingIsPassedOn) {
  UsersFolder();
  security_.entries[kModule].hardLinks = 2;
  security_.otherName[kModule] = L"C:\\Windows\\System32\\drivers\\etc\\hosts";
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kLinkInside);
  EXPECT_TRUE(security_.descriptors.empty()) << "nothing set, nothing passed on";

  UsersFolder();
  security_.otherName.clear();
  security_.entries[L"D:\\Tools\\OrumaVPN\\openvpn"] = {true, true, true, true, false, 1};
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kLinkInside);
  EXPECT_TRUE(security_.descriptors.empty());
}

}  // namespace
