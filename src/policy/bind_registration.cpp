#include "policy/bind_registration.h"

int RegisterModules(BindModule& module) { return module.Register(true); }

int UnregisterModules(BindModule& module) { return module.Register(false); }

void RepairBindModuleRegistration(BindModule& module) {
  if (module.IsRegistered()) return;
  module.Register(true);
}
