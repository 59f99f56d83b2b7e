#include "policy/bind_registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_bind_module.h"

namespace {

using Call = FakeBindModule::Call;
using ::testing::ElementsAre;

TEST(BindRegistrationTest, RegisterClearsFirstAndReportsOnlyTheRegistration) {
  FakeBindModule module;
  module.unregisterResult = 1;  // nothing was registered before
  module.registerResult = 0;
  EXPECT_EQ(RegisterModules(module), 0);
  EXPECT_THAT(module.calls, ElementsAre(Call::kUnregister, Call::kRegister));

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

TEST(BindRegistrationTest, RepairLeavesALoadedModuleAlone) {
  FakeBindModule module;
  module.loaded = true;
  RepairBindModuleRegistration(module);
  EXPECT_THAT(module.calls, ElementsAre(Call::kIsLoaded));
  EXPECT_THAT(module.presenceQueries, ElementsAre(std::wstring(L"KavrinBind.dll")));
}

TEST(BindRegistrationTest, RepairReregistersAModuleThatIsNotLoadedWhateverTheResults) {
  FakeBindModule module;
  module.loaded = false;
  module.unregisterResult = 1;
  module.registerResult = 1;
  RepairBindModuleRegistration(module);
  EXPECT_THAT(module.calls, ElementsAre(Call::kIsLoaded, Call::kUnregister, Call::kRegister));
}

}  // namespace
