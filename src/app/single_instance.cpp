#include "app/single_instance.h"

InstanceCheck CheckSingleInstance(InstanceObjects& objects, const std::wstring& name) {
  if (objects.EnterOwnNamespace()) {
    switch (objects.ClaimInNamespace(name)) {
      case InstanceObjects::Claim::kCreated:
        return objects.OwnWindowShown() ? InstanceCheck::kAnotherRuns : InstanceCheck::kFirst;
      case InstanceObjects::Claim::kExisted:
        return InstanceCheck::kAnotherRuns;
      case InstanceObjects::Claim::kForeign:
      case InstanceObjects::Claim::kFailed:
        break;  // only administrators fill the namespace; try the global name
    }
  }
  switch (objects.ClaimGlobal(name)) {
    case InstanceObjects::Claim::kCreated:
      return objects.OwnWindowShown() ? InstanceCheck::kAnotherRuns : InstanceCheck::kFirst;
    case InstanceObjects::Claim::kExisted:
      return InstanceCheck::kAnotherRuns;
    case InstanceObjects::Claim::kForeign:
    case InstanceObjects::Claim::kFailed:
      break;
  }
  return objects.OwnWindowShown() ? InstanceCheck::kAnotherRuns : InstanceCheck::kSquatted;
}
