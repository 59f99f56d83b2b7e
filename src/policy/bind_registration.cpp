#include "policy/bind_registration.h"

bool ModuleLocationProtected(const ModuleLocation& location) {
  if (!IsOwnFolder(location.security.Inspect(location.folder))) return false;
  // A missing module fails the registration by itself; in a folder of ours nobody else can put
  // one there in between.
  const FolderEntryFacts module =
      location.security.Inspect(location.folder + L"\\" + location.moduleFile);
  return !module.exists || IsOwnFile(module);
}

int RegisterModules(BindModule& module, const ModuleLocation& location) {
  if (!ModuleLocationProtected(location)) return kModuleFolderNotProtected;
  return module.Register(true);
}

int UnregisterModules(BindModule& module) { return module.Register(false); }

bool RepairBindModuleRegistration(BindModule& module, const ModuleLocation& location) {
  if (module.IsRegistered()) return true;
  if (!ModuleLocationProtected(location)) return false;
  module.Register(true);
  return true;
}
