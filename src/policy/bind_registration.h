// What the command-line actions and start-up do with the binding module's registration.
#pragma once

#include "policy/bind_module.h"

// Registers over whatever an earlier registration left: the registration completes and corrects
// the set in place, never taking it out first (other providers may be layered over it).
int RegisterModules(BindModule& module);

int UnregisterModules(BindModule& module);

// When the socket catalog lacks the module's whole set in order (never registered, registered
// from another folder, left half-written, or moved behind its bases), the registration completes
// it. Whether the module is loaded
// says little: the socket layer brings it in only for sockets it hands to our chains and lets
// it go at the last clean-up, and a module loaded by a registration call proves nothing about
// the catalog. Failures are left for the "/register" action to report.
void RepairBindModuleRegistration(BindModule& module);
