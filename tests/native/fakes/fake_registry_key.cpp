#include "fakes/fake_registry_key.h"

namespace {

class FakeKey : public RegistryValueKey {
 public:
  FakeKey(FakeMachineRegistry& owner, FakeMachineRegistry::Key& key) : owner_(owner), key_(key) {}
  std::optional<uint32_t> ReadDword(const std::wstring& name) override {
    const auto found = key_.dwords.find(name);
    if (found == key_.dwords.end()) return std::nullopt;
    return found->second;
  }
  bool WriteDword(const std::wstring& name, uint32_t value) override {
    if (owner_.fail_writes) return false;
    ++owner_.writes;
    key_.texts.erase(name);
    key_.dwords[name] = value;
    return true;
  }

 private:
  FakeMachineRegistry& owner_;
  FakeMachineRegistry::Key& key_;
};

}  // namespace

std::unique_ptr<RegistryValueKey> FakeMachineRegistry::OpenForWriting(const std::wstring& path) {
  const auto found = keys.find(path);
  if (found == keys.end()) return nullptr;
  return std::make_unique<FakeKey>(*this, found->second);
}
