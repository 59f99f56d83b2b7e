#include "app/single_instance.h"

#include <gtest/gtest.h>

#include "fakes/fake_instance_objects.h"

namespace {

constexpr wchar_t kName[] = L"ORUMAVPN_SINGLE_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";

TEST(SingleInstanceTest, TheFirstStartHoldsTheNameInTheOwnNamespaceAndTheSecondDefers) {
  FakeInstanceObjects objects;
  EXPECT_EQ(CheckSingleInstance(objects, kName), InstanceCheck::kFirst);
  EXPECT_EQ(objects.inNamespace.count(kName), 1u);
  EXPECT_TRUE(objects.global.empty());
  EXPECT_EQ(CheckSingleInstance(objects, kName), InstanceCheck::kAnotherRuns);
}

// Any user may create the global name first; in the private namespace it does not matter.
TEST(SingleInstanceTest, AUsersObjectUnderTheGlobalNameIsNeitherObeyedNorUsed) {
  FakeInstanceObjects objects;
  objects.global[kName] = {false, true};
  EXPECT_EQ(CheckSingleInstance(objects, kName), InstanceCheck::kFirst);

  FakeInstanceObjects withoutNamespaces;
  withoutNamespaces.privateNamespaces = false;
  withoutNamespaces.global[kName] = {false, true};
  EXPECT_EQ(CheckSingleInstance(withoutNamespaces, kName), InstanceCheck::kSquatted);
  // Held with a descriptor that keeps us out: the same.
  withoutNamespaces.global[kName] = {false, false};
  EXPECT_EQ(CheckSingleInstance(withoutNamespaces, kName), InstanceCheck::kSquatted);
}

TEST(SingleInstanceTest, WithoutNamespacesAnAdministratorsObjectIsAnotherInstance) {
  FakeInstanceObjects objects;
  objects.privateNamespaces = false;
  EXPECT_EQ(CheckSingleInstance(objects, kName), InstanceCheck::kFirst);
  EXPECT_EQ(CheckSingleInstance(objects, kName), InstanceCheck::kAnotherRuns);
}

// An earlier version holds only the global name, but shows its window. A copy a user started
// without administrator rights shows the same window and proves nothing: it is reported, and
// neither the program nor the installer waits for it.
TEST(SingleInstanceTest, OurProgramsWindowCountsWhateverTheObjectsSayWhenItIsElevated) {
  using Window = InstanceObjects::Window;
  FakeInstanceObjects objects;
  objects.ourProgramsWindow = Window::kElevated;
  EXPECT_EQ(CheckSingleInstance(objects, kName), InstanceCheck::kAnotherRuns);
  FakeInstanceObjects squatted;
  squatted.privateNamespaces = false;
  squatted.global[kName] = {false, false};
  squatted.ourProgramsWindow = Window::kElevated;
  EXPECT_EQ(CheckSingleInstance(squatted, kName), InstanceCheck::kAnotherRuns);

  FakeInstanceObjects unelevated;
  unelevated.ourProgramsWindow = Window::kUnelevated;
  EXPECT_EQ(CheckSingleInstance(unelevated, kName), InstanceCheck::kUnelevatedCopy);
  EXPECT_EQ(CheckSingleInstance(unelevated, kName), InstanceCheck::kAnotherRuns);
  squatted.ourProgramsWindow = Window::kUnelevated;
  EXPECT_EQ(CheckSingleInstance(squatted, kName), InstanceCheck::kSquatted);
}

}  // namespace
