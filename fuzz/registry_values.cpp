// Arbitrary registry data as the TCP/IP binding list and an interface's values: the readers must
// accept only well-formed data, what they accept must survive a rewrite unchanged, and the
// binding-order fix must either leave the list alone or write it with one WAN entry in front.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/adapter_repairs.h"
#include "base/text.h"

namespace {

struct Store {
  std::map<std::wstring, std::pair<uint32_t, std::vector<uint8_t>>> values;
  int writes = 0;
};

class OneKey : public RegistryKey {
 public:
  explicit OneKey(Store& store) : store_(store) {}
  int32_t Open(const std::wstring&) override { return registry::kSuccess; }
  void Close() override {}
  int32_t QueryValue(const std::wstring& name, uint32_t& type,
                     std::vector<uint8_t>& data) override {
    const auto it = store_.values.find(name);
    if (it == store_.values.end()) return registry::kErrorFileNotFound;
    type = it->second.first;
    data = it->second.second;
    return registry::kSuccess;
  }
  int32_t SetValue(const std::wstring& name, uint32_t type,
                   const std::vector<uint8_t>& data) override {
    store_.values[name] = {type, data};
    ++store_.writes;
    return registry::kSuccess;
  }
  int32_t EnumSubKey(uint32_t, std::wstring&) override { return registry::kErrorNoMoreItems; }

 private:
  Store& store_;
};

class OneKeyFactory : public RegistryKeyFactory {
 public:
  explicit OneKeyFactory(Store& store) : store_(store) {}
  std::unique_ptr<RegistryKey> NewKey() override { return std::make_unique<OneKey>(store_); }

 private:
  Store& store_;
};

constexpr uint32_t kTypes[] = {registry::kTypeMultiText, registry::kTypeText,
                               registry::kTypeExpandText, registry::kTypeDword, 0, 3, 11, 7};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t type = kTypes[data[0] & 7];
  const uint32_t capacity = data[1];
  const std::vector<uint8_t> bytes(data + 2, data + size);

  Store store;
  OneKey key(store);
  store.values[L"V"] = {type, bytes};
  std::vector<std::wstring> entries;
  if (ReadMultiString(key, L"V", capacity, entries) == registry::kSuccess) {
    if (type != registry::kTypeMultiText || bytes.size() > size_t{capacity} * 2) std::abort();
    for (const std::wstring& entry : entries) {
      if (entry.empty()) std::abort();
    }
    std::vector<std::wstring> again;
    if (WriteMultiString(key, L"W", entries) != registry::kSuccess) std::abort();
    if (ReadMultiString(key, L"W", 0xFFFFFFFF, again) != registry::kSuccess) std::abort();
    if (again != entries) std::abort();
  } else if (!entries.empty()) {
    std::abort();
  }

  std::wstring text;
  if (ReadText(key, L"V", text) == registry::kSuccess) {
    if (text.find(L'\0') != std::wstring::npos || text.size() * 2 > bytes.size()) std::abort();
  } else if (!text.empty()) {
    std::abort();
  }

  Store linkage;
  linkage.values[L"Bind"] = {type, bytes};
  OneKeyFactory factory(linkage);
  RegistryAdapterRepairs(factory, 5, nullptr).FixBindingOrder();
  if (linkage.writes > 1) std::abort();
  if (linkage.writes == 1) {
    OneKey written(linkage);
    std::vector<std::wstring> list;
    if (ReadMultiString(written, L"Bind", 0xFFFFFFFF, list) != registry::kSuccess) std::abort();
    if (list.empty() || list.front() != kWanBinding) std::abort();
    for (size_t i = 1; i < list.size(); ++i) {
      if (EqualsNoCase(list[i], kWanBinding)) std::abort();
    }
  }
  return 0;
}
