#include "fakes/fake_local_machine_registry.h"

using namespace registry;

namespace {

class FakeKey : public RegistryKey {
 public:
  explicit FakeKey(FakeLocalMachineRegistry& registry) : registry_(registry) {}
  ~FakeKey() override { Close(); }

  int32_t Open(const std::wstring& path) override {
    if (!registry_.keys.count(path)) return kErrorFileNotFound;
    Close();
    path_ = path;
    ++registry_.openKeys;
    return kSuccess;
  }

  void Close() override {
    if (path_.empty()) return;
    path_.clear();
    --registry_.openKeys;
  }

  int32_t QueryValue(const std::wstring& name, uint32_t& type,
                     std::vector<uint8_t>& data) override {
    if (path_.empty()) return 6;  // ERROR_INVALID_HANDLE
    if (registry_.beforeQuery) registry_.beforeQuery(path_, name);
    const FakeLocalMachineRegistry::Value* value = registry_.Find(path_, name);
    if (!value) return kErrorFileNotFound;
    type = value->type;
    data = value->data;
    return kSuccess;
  }

  int32_t SetValue(const std::wstring& name, uint32_t type,
                   const std::vector<uint8_t>& data) override {
    if (path_.empty()) return 6;
    if (registry_.failWrites) return 5;  // ERROR_ACCESS_DENIED
    registry_.keys[path_].values[name] = {type, data};
    registry_.writes.push_back(path_ + L"|" + name);
    return kSuccess;
  }

  int32_t EnumSubKey(uint32_t index, std::wstring& name) override {
    if (path_.empty()) return 6;
    const FakeLocalMachineRegistry::Key& key = registry_.keys[path_];
    if (index >= key.brokenFromIndex) return FakeLocalMachineRegistry::kKeyBroken;
    if (auto error = key.enumErrors.find(index); error != key.enumErrors.end()) {
      return error->second;
    }
    const std::wstring prefix = path_ + L"\\";
    uint32_t at = 0;
    for (const auto& [path, unused] : registry_.keys) {
      if (path.compare(0, prefix.size(), prefix) != 0) continue;
      const std::wstring child = path.substr(prefix.size());
      if (child.find(L'\\') != std::wstring::npos) continue;
      if (at++ == index) {
        name = child;
        return kSuccess;
      }
    }
    return kErrorNoMoreItems;
  }

 private:
  FakeLocalMachineRegistry& registry_;
  std::wstring path_;
};

}  // namespace

std::unique_ptr<RegistryKey> FakeLocalMachineRegistry::NewKey() {
  return std::make_unique<FakeKey>(*this);
}

void FakeLocalMachineRegistry::SetUnits(const std::wstring& path, const std::wstring& name,
                                        uint32_t type, const std::u16string& units) {
  Value value;
  value.type = type;
  for (const char16_t unit : units) {
    value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
    value.data.push_back(static_cast<uint8_t>(unit >> 8));
  }
  keys[path].values[name] = value;
}

void FakeLocalMachineRegistry::SetDword(const std::wstring& path, const std::wstring& name,
                                        uint32_t value) {
  keys[path].values[name] = {kTypeDword,
                             {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 24)}};
}

std::u16string FakeLocalMachineRegistry::Units(const std::wstring& path,
                                               const std::wstring& name) const {
  const Value* value = Find(path, name);
  std::u16string units;
  if (!value) return units;
  for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
    units.push_back(static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8)));
  }
  return units;
}

std::optional<uint32_t> FakeLocalMachineRegistry::Dword(const std::wstring& path,
                                                        const std::wstring& name) const {
  const Value* value = Find(path, name);
  if (!value || value->type != kTypeDword || value->data.size() != 4) return std::nullopt;
  const auto& d = value->data;
  return d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24);
}

const FakeLocalMachineRegistry::Value* FakeLocalMachineRegistry::Find(
    const std::wstring& path, const std::wstring& name) const {
  const auto key = keys.find(path);
  if (key == keys.end()) return nullptr;
  const auto value = key->second.values.find(name);
  return value == key->second.values.end() ? nullptr : &value->second;
}
