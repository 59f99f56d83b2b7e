#include "policy/bind_registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_bind_module.h"
#include "fakes/fake_folder_security.h"

namespace {

using Call = FakeBindModule::Call;
using ::testing::ElementsAre;

constexpr wchar_t kFolder[] = L"D:\\Tools\\OrumaVPN";
constexpr wchar_t kModule[] = L"D:\\Tools\\OrumaVPN\\KavrinBind.dll";

class BindRegistrationTest : public ::testing::Test {
 protected:
  BindRegistrationTest() {
    security_.entries[kFolder] = FakeFolderSecurity::OwnFolder();
    security_.entries[kModule] = FakeFolderSecurity::OwnFile();
  }
  ModuleLocation Location() { return {security_, kFolder, L"KavrinBind.dll"}; }

  FakeFolderSecurity security_;
};

// Never taken out to be put back: another provider may be layered over the set.
TEST_F(BindRegistrationTest, RegisterInstallsOverWhatIsThere) {
  FakeBindModule module;
  module.registerResult = 0;
  EXPECT_EQ(RegisterModules(module, Location()), 0);
  EXPECT_THAT(module.calls, ElementsAre(Call::kRegister));

  FakeBindModule failing;
  failing.unregisterResult = 0;
  failing.registerResult = static_cast<int>(0x80070005u);
  EXPECT_EQ(RegisterModules(failing, Location()), static_cast<int>(0x80070005u));
}

TEST_F(BindRegistrationTest, UnregisterReportsTheModulesAnswer) {
  FakeBindModule module;
  module.unregisterResult = 0;
  EXPECT_EQ(UnregisterModules(module), 0);

  module.unregisterResult = 1;
  EXPECT_EQ(UnregisterModules(module), 1);
  EXPECT_THAT(module.calls, ElementsAre(Call::kUnregister, Call::kUnregister));
}

// The catalog decides, not whether the module happens to be loaded.
TEST_F(BindRegistrationTest, RepairReregistersOnlyWhenTheCatalogLacksTheSet) {
  FakeBindModule registered;
  registered.registered = true;
  EXPECT_TRUE(RepairBindModuleRegistration(registered, Location()));
  EXPECT_THAT(registered.calls, ElementsAre(Call::kIsRegistered));

  FakeBindModule loadedButMissing;
  loadedButMissing.loaded = true;
  loadedButMissing.unregisterResult = 1;
  loadedButMissing.registerResult = 1;
  EXPECT_TRUE(RepairBindModuleRegistration(loadedButMissing, Location()));
  EXPECT_THAT(loadedButMissing.calls, ElementsAre(Call::kIsRegistered, Call::kRegister));
}

// Outside the program files folder a new folder inherits "Authenticated Users: Modify": anyone
// could swap the module every program loads. Such a copy neither registers nor repairs.
TEST_F(BindRegistrationTest, NoRegistrationFromAFolderOthersMayChange) {
  const auto refused = [&](const char* what) {
    FakeBindModule module;
    module.registerResult = 0;
    EXPECT_EQ(RegisterModules(module, Location()), kModuleFolderNotProtected) << what;
    EXPECT_FALSE(RepairBindModuleRegistration(module, Location())) << what;
    EXPECT_THAT(module.calls, ElementsAre(Call::kIsRegistered)) << what;
  };
  security_.entries[kFolder].othersMayWrite = true;
  refused("users may write the folder");
  security_.entries[kFolder] = FakeFolderSecurity::OwnFolder();
  security_.entries[kFolder].trustedOwner = false;
  refused("a user owns the folder");
  security_.entries[kFolder] = FakeFolderSecurity::OwnFolder();
  security_.entries[kFolder].link = true;
  refused("the folder is a junction");
  security_.entries[kFolder] = FakeFolderSecurity::OwnFolder();
  security_.entries[kModule].othersMayWrite = true;
  refused("users may write the module");
  security_.entries[kModule] = FakeFolderSecurity::OwnFile();
  security_.entries[kModule].hardLinks = 2;
  refused("the module is a second name of someone's file");

  security_.entries.erase(kModule);
  FakeBindModule missing;
  missing.registerResult = 1;
  EXPECT_EQ(RegisterModules(missing, Location()), 1) << "a missing module fails by itself";
}

}  // namespace
