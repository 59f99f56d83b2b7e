// What the command-line actions and start-up do with the binding module's registration.
#pragma once

#include <string>

#include "config/program_data_folder.h"
#include "policy/bind_module.h"

// Registering answers this, and registers nothing, when the program's folder or the module file
// is one others may change: the registration makes every program on the machine, services
// included, load the module from there.
inline constexpr int kModuleFolderNotProtected = -2;

// Where the module is registered from: the program's folder (no trailing separator) and the
// module file in it, looked at through `security`.
struct ModuleLocation {
  FolderSecurity& security;
  std::wstring folder;
  std::wstring moduleFile;
};

// True when nobody but the administrators and the system may change the folder or the module:
// both ours, neither a link, the module with one name (or not there at all).
bool ModuleLocationProtected(const ModuleLocation& location);

// Registers over whatever an earlier registration left: the registration completes and corrects
// the set in place, never taking it out first (other providers may be layered over it).
// kModuleFolderNotProtected from a folder others may write.
int RegisterModules(BindModule& module, const ModuleLocation& location);

int UnregisterModules(BindModule& module);

// When the socket catalog lacks the module's whole set in order (never registered, registered
// from another folder, left half-written, or moved behind its bases), the registration completes
// it. Whether the module is loaded
// says little: the socket layer brings it in only for sockets it hands to our chains and lets
// it go at the last clean-up, and a module loaded by a registration call proves nothing about
// the catalog. Failures are left for the "/register" action to report. From a folder others may
// write nothing is repaired, and false is returned.
bool RepairBindModuleRegistration(BindModule& module, const ModuleLocation& location);
