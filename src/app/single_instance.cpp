#include "app/single_instance.h"

namespace {

InstanceCheck ByWindow(InstanceObjects& objects, InstanceCheck otherwise) {
  switch (objects.OwnWindowShown()) {
    case InstanceObjects::Window::kElevated:
      return InstanceCheck::kAnotherRuns;
    case InstanceObjects::Window::kUnelevated:
      return otherwise == InstanceCheck::kFirst ? InstanceCheck::kUnelevatedCopy : otherwise;
    case InstanceObjects::Window::kNone:
      break;
  }
  return otherwise;
}

// What one claim says: decided, or nothing known yet (a foreign or failed claim).
bool Decided(InstanceObjects& objects, InstanceObjects::Claim claim, InstanceCheck& check) {
  switch (claim) {
    case InstanceObjects::Claim::kCreated:
      check = ByWindow(objects, InstanceCheck::kFirst);
      return true;
    case InstanceObjects::Claim::kExisted:
      check = InstanceCheck::kAnotherRuns;
      return true;
    case InstanceObjects::Claim::kForeign:
    case InstanceObjects::Claim::kFailed:
      break;
  }
  return false;
}

}  // namespace

InstanceCheck CheckSingleInstance(InstanceObjects& objects, const std::wstring& name) {
  InstanceCheck check = InstanceCheck::kFirst;
  // Only administrators fill the namespace; without it, or with a foreign object there, the
  // global name is tried.
  if (objects.EnterOwnNamespace() && Decided(objects, objects.ClaimInNamespace(name), check)) {
    return check;
  }
  if (Decided(objects, objects.ClaimGlobal(name), check)) return check;
  return ByWindow(objects, InstanceCheck::kSquatted);
}

