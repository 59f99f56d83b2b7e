// The binding module through the system's loader.
#pragma once

#include <string>

#include "policy/bind_module.h"

class SystemBindModule : public BindModule {
 public:
  // Tests name a module that is absent, or one that lacks the entry points.
  explicit SystemBindModule(std::wstring moduleFile = kBindModuleFile);

  // A bare file name is loaded from the program's own folder only (see the .cpp).
  int Register(bool install) override;
  bool IsLoaded(const std::wstring& moduleFile) override;
  bool IsRegistered() override;
  bool Start(uint32_t count, uint32_t localAddress) override;
  bool Stop() override;

 private:
  std::wstring moduleFile_;
};
