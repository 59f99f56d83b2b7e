#include "service/wmi_query_win.h"

#include <windows.h>
// The COM headers build on windows.h.
#include <oleauto.h>
#include <wbemcli.h>

namespace {

// Declared here so that no extra import library is needed for two GUIDs.
constexpr CLSID kWbemAdministrativeLocator = {
    0xcb8555cc, 0x9128, 0x11d1, {0xad, 0x9b, 0x00, 0xc0, 0x4f, 0xd8, 0xfd, 0xff}};
constexpr IID kIWbemLocator = {
    0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
// The name flags the query has always asked with.
constexpr LONG kNameFlags = 0x70;

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  Interface** Put() {
    Reset();
    return &pointer_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Reset() {
    if (pointer_) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : value_(::SysAllocString(text.c_str())) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { ::SysFreeString(value_); }
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

// Text values are kept; null and arrays read as empty; other kinds as the system renders them.
std::wstring ValueText(VARIANT& value) {
  if (value.vt == VT_BSTR) return value.bstrVal ? std::wstring(value.bstrVal) : std::wstring();
  if (value.vt == VT_NULL || value.vt == VT_EMPTY || (value.vt & VT_ARRAY)) return {};
  VARIANT text;
  ::VariantInit(&text);
  std::wstring result;
  if (SUCCEEDED(::VariantChangeType(&text, &value, 0, VT_BSTR)) && text.bstrVal) {
    result = text.bstrVal;
  }
  ::VariantClear(&text);
  return result;
}

WmiRow ReadRow(IWbemClassObject* object) {
  WmiRow row;
  SAFEARRAY* names = nullptr;
  if (FAILED(object->GetNames(nullptr, kNameFlags, nullptr, &names)) || names == nullptr) {
    return row;
  }
  LONG lower = 0;
  LONG upper = -1;
  ::SafeArrayGetLBound(names, 1, &lower);
  ::SafeArrayGetUBound(names, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    BSTR name = nullptr;
    if (FAILED(::SafeArrayGetElement(names, &i, &name)) || name == nullptr) continue;
    VARIANT value;
    ::VariantInit(&value);
    if (SUCCEEDED(object->Get(name, 0, &value, nullptr, nullptr))) {
      row[name] = ValueText(value);
    }
    ::VariantClear(&value);
    ::SysFreeString(name);
  }
  ::SafeArrayDestroy(names);
  return row;
}

bool RunQuery(const std::wstring& className, std::vector<WmiRow>* rows) {
  // Another part of the program may already have set the process's COM security: that is fine.
  ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  ComPtr<IWbemLocator> locator;
  if (FAILED(::CoCreateInstance(kWbemAdministrativeLocator, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, kIWbemLocator,
                                locator.PutVoid()))) {
    return false;
  }
  ComPtr<IWbemServices> services;
  const Bstr nameSpace(L"root\\cimv2");
  if (FAILED(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                    services.Put()))) {
    return false;
  }
  ComPtr<IEnumWbemClassObject> objects;
  const Bstr language(L"WQL");
  const Bstr query(L"Select * from " + className);
  if (FAILED(services->ExecQuery(language.get(), query.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 objects.Put())) ||
      objects.get() == nullptr) {
    return false;
  }
  objects->Reset();
  while (true) {
    ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    if (FAILED(objects->Next(WBEM_INFINITE, 1, object.Put(), &returned)) || returned == 0 ||
        object.get() == nullptr) {
      break;
    }
    rows->push_back(ReadRow(object.get()));
  }
  return true;
}

}  // namespace

bool SystemWmiQuery::Query(const std::wstring& className, std::vector<WmiRow>* rows) {
  rows->clear();
  const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const bool ok = RunQuery(className, rows);
  // Every interface is released by now; a thread already in another apartment was not
  // initialised here and must not be uninitialised either.
  if (SUCCEEDED(initialised)) ::CoUninitialize();
  return ok;
}
