// What the command-line actions and start-up do with the binding module's registration.
#pragma once

#include "policy/bind_module.h"

// Clears whatever an earlier registration left, then registers. The result is the registration's;
// the clearing fails whenever nothing was registered, which is no reason to give up.
int RegisterModules(BindModule& module);

int UnregisterModules(BindModule& module);

// A registered module is loaded into every process that has opened a socket. Call this after
// opening one: when the module is still not loaded, its registration is missing or stale, so
// it is made afresh. Failures are left for the "/register" action to report.
void RepairBindModuleRegistration(BindModule& module);
