#include "config/install_folder.h"

#include <gtest/gtest.h>

#include "fakes/fake_folder_security.h"

namespace {

constexpr wchar_t kParent[] = L"D:\\Tools";
constexpr wchar_t kFolder[] = L"D:\\Tools\\OrumaVPN";
constexpr wchar_t kModule[] = L"D:\\Tools\\OrumaVPN\\KavrinBind.dll";

class InstallFolderTest : public ::testing::Test {
 protected:
  // A parent an administrator made and keeps to the administrators.
  InstallFolderTest() { security_.entries[kParent] = FakeFolderSecurity::OwnFolder(); }

  // An earlier installation of ours.
  void OurInstallation() {
    security_.entries[kFolder] = FakeFolderSecurity::OwnFolder();
    security_.entries[kModule] = FakeFolderSecurity::OwnFile();
  }

  FakeFolderSecurity security_;
};

TEST_F(InstallFolderTest, ANewFolderUnderSafeParentsIsMadeWithTheProtectedDescriptor) {
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kProtected);
  EXPECT_EQ(security_.descriptors[kFolder], kInstallFolderDescriptors[0]);
  const std::wstring descriptor = kInstallFolderDescriptors[0];
  EXPECT_EQ(descriptor.rfind(L"O:BAD:P(", 0), 0u) << "owned by the administrators, nothing inherited";
  EXPECT_NE(descriptor.find(L"(A;OICI;0x1200a9;;;BU)"), std::wstring::npos)
      << "users read and execute, and no more";

  // An upgrade: kept as it is. A user's hard link to an installed file does not stop it, as
  // nothing passes a descriptor on.
  security_.descriptors.clear();
  OurInstallation();
  security_.entries[kModule].hardLinks = 2;
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kProtected);
  EXPECT_TRUE(security_.descriptors.empty());
}

// A user who made the folder (or a parent) can take it back after any change we make: their
// handle opened with WRITE_DAC keeps that right, and they can rename a parent and put their own
// tree in its place. Such a folder is refused, never repaired.
TEST_F(InstallFolderTest, AUsersFolderOrAUsersParentIsRefusedAndNothingIsChanged) {
  security_.entries[kFolder] = FakeFolderSecurity::UsersFolder();
  security_.entries[kModule] = FakeFolderSecurity::UsersFile();
  security_.heldWithWriteDac = {kFolder};
  // Between our look and anything we would do, a hard link to a file elsewhere comes in.
  security_.afterList = [&](const std::wstring&) {
    FolderEntryFacts linked = FakeFolderSecurity::OwnFile();
    linked.hardLinks = 2;
    security_.entries[std::wstring(kFolder) + L"\\hosts"] = linked;
  };
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotOurs);
  security_.HoldersAct();
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotOurs);

  // The folder looks like ours, but a parent is the user's (or open to users): renaming it
  // would put their own folder under the path.
  OurInstallation();
  security_.entries[kParent] = FakeFolderSecurity::UsersFolder();
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kUnsafeParent);
  security_.entries[kParent].trustedOwner = true;
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kUnsafeParent);
  security_.entries.erase(kFolder);
  security_.entries.erase(kModule);
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kUnsafeParent);
  security_.entries[kParent] = FakeFolderSecurity::OwnFolder();
  security_.entries[kParent].link = true;  // a junction into a user's tree
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kUnsafeParent);
  // A share's or a relative path's parents are not the machine's to judge.
  EXPECT_EQ(ProtectInstallFolder(security_, L"\\\\server\\share\\OrumaVPN"),
            InstallFolderResult::kUnsafeParent);
  EXPECT_EQ(ProtectInstallFolder(security_, L"OrumaVPN"), InstallFolderResult::kUnsafeParent);
  for (const std::wstring& entry : security_.log) {
    EXPECT_EQ(entry.rfind(L"create", 0), std::wstring::npos) << "made under an unsafe parent";
  }
  EXPECT_TRUE(security_.descriptors.empty());
}

// The volume's root is no parent to judge: users may make folders there but rename none of ours.
TEST_F(InstallFolderTest, AFolderInTheVolumesRootNeedsNoParentOfItsOwn) {
  security_.entries[L"D:"] = FakeFolderSecurity::UsersFolder();
  EXPECT_EQ(ProtectInstallFolder(security_, L"D:\\OrumaVPN"), InstallFolderResult::kProtected);
}

// What is inside an administrators' folder is looked at after it was made or found, as it is
// then.
TEST_F(InstallFolderTest, WhatIsNotOursInsideIsRefused) {
  OurInstallation();
  security_.entries[kModule] = FakeFolderSecurity::UsersFile();  // a user's file stays the user's
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotSecured);
  security_.entries[kModule] = FakeFolderSecurity::OwnFile();
  security_.entries[kModule].othersMayWrite = true;
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotSecured);

  OurInstallation();
  security_.entries[L"D:\\Tools\\OrumaVPN\\openvpn"] = {true, true, true, true, false, 1};
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kLinkInside);

  security_.entries[kFolder].link = true;  // a junction to somewhere else
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotAFolder);
  security_.entries[kFolder] = FakeFolderSecurity::OwnFile();
  EXPECT_EQ(ProtectInstallFolder(security_, kFolder), InstallFolderResult::kNotAFolder);
}

}  // namespace
