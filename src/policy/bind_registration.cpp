#include "policy/bind_registration.h"

int RegisterModules(BindModule& module) {
  module.Register(false);
  return module.Register(true);
}

int UnregisterModules(BindModule& module) { return module.Register(false); }

void RepairBindModuleRegistration(BindModule& module) {
  if (module.IsRegistered()) return;
  module.Register(false);
  module.Register(true);
}
