#include "policy/bind_registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_bind_module.h"

namespace {

using Call = FakeBindModule::Call;
using ::testing::ElementsAre;

// Never taken out to be put back: another provider may be layered over the set.
TEST(BindRegistrationTest, RegisterInstallsOverWhatIsThere) {
  FakeBindModule module;
  module.registerResult = 0;
  EXPECT_EQ(RegisterModules(module), 0);
  EXPECT_THAT(module.calls, ElementsAre(Call::kRegister));

  FakeBindModule failing;
  failing.unregisterResult = 0;
  failing.registerResult = static_cast<int>(0x80070005u);
  EXPECT_EQ(RegisterModules(failing), static_cast<int>(0x80070005u));
}

TEST(BindRegistrationTest, UnregisterReportsTheModulesAnswer) {
  FakeBindModule module;
  module.unregisterResult = 0;
  EXPECT_EQ(UnregisterModules(module), 0);

  module.unregisterResult = 1;
  EXPECT_EQ(UnregisterModules(module), 1);
  EXPECT_THAT(module.calls, ElementsAre(Call::kUnregister, Call::kUnregister));
}

// The catalog decides, not whether the module happens to be loaded.
TEST(BindRegistrationTest, RepairReregistersOnlyWhenTheCatalogLacksTheSet) {
  FakeBindModule registered;
  registered.registered = true;
  RepairBindModuleRegistration(registered);
  EXPECT_THAT(registered.calls, ElementsAre(Call::kIsRegistered));

  FakeBindModule loadedButMissing;
  loadedButMissing.loaded = true;
  loadedButMissing.unregisterResult = 1;
  loadedButMissing.registerResult = 1;
  RepairBindModuleRegistration(loadedButMissing);
  EXPECT_THAT(loadedButMissing.calls, ElementsAre(Call::kIsRegistered, Call::kRegister));
}

}  // namespace
