// Records every call the logic makes on the binding module, in order, and answers as told.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "policy/bind_module.h"

class FakeBindModule : public BindModule {
 public:
  enum class Call { kUnregister, kRegister, kIsLoaded, kIsRegistered, kStart, kStop };

  int Register(bool install) override {
    calls.push_back(install ? Call::kRegister : Call::kUnregister);
    return install ? registerResult : unregisterResult;
  }
  bool IsLoaded(const std::wstring& moduleFile) override {
    calls.push_back(Call::kIsLoaded);
    presenceQueries.push_back(moduleFile);
    return loaded;
  }
  bool IsRegistered() override {
    calls.push_back(Call::kIsRegistered);
    return registered;
  }
  bool Start(uint32_t count, uint32_t localAddress) override {
    calls.push_back(Call::kStart);
    startCount = count;
    startAddress = localAddress;
    return loaded && hasEntryPoints;
  }
  bool Stop() override {
    calls.push_back(Call::kStop);
    return loaded && hasEntryPoints;
  }

  int registerResult = 0;
  int unregisterResult = 0;
  bool loaded = false;
  bool registered = false;
  bool hasEntryPoints = true;

  std::vector<Call> calls;
  std::vector<std::wstring> presenceQueries;
  uint32_t startCount = 0;
  uint32_t startAddress = 0;
};
