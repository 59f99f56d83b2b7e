// What the command-line actions and start-up do with the binding module's registration.
#pragma once

#include "policy/bind_module.h"

// Clears whatever an earlier registration left, then registers. The result is the registration's;
// the clearing fails whenever nothing was registered, which is no reason to give up.
int RegisterModules(BindModule& module);

int UnregisterModules(BindModule& module);

// When the socket catalog lacks the module's whole set (never registered, registered from another
// folder, or left half-written), the registration is made afresh. Whether the module is loaded
// says little: the socket layer brings it in only for sockets it hands to our chains and lets
// it go at the last clean-up, and a module loaded by a registration call proves nothing about
// the catalog. Failures are left for the "/register" action to report.
void RepairBindModuleRegistration(BindModule& module);
