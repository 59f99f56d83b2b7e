// A small model of how the socket layer loads providers into a process, for the binding module
// chained over KavrinTestProvider.dll where the system loads no layered providers itself.
// Follows "WSPStartup" and "Categorizing layered service providers and apps" (Microsoft Learn)
// and the SDK's layered-provider sample: a catalog in the documented shape (one hidden layered
// entry of ours, base entries, chains [layer, base] ahead of them); a socket goes to the first
// visible entry in catalog order matching its family, type and protocol; a provider is loaded
// and started once per provider GUID, with the first entry of that GUID that was needed, and
// its table then serves every entry of the GUID; a start-up that hands back a WSPDATA version
// of 0 fails WSAEINVALIDPROVIDER and a table with an empty entry WSAEINVALIDPROCTABLE ("Windows
// Sockets Error Codes"); threads may open sockets at once, each GUID still started once; the
// IPv6 bases carry the TCP/IP provider's IPv6 GUID, as on Windows; tests may add entries of
// their own (other vendors' layers above or below ours, chains of up to seven links); the
// handle's provider is the one named in WPUModifyIFSHandle; cleanup calls WSPCleanup once per
// start-up. The module reads the same catalog through KavrinBindUseTestCatalog. Shared by the
// Windows tests (32- and 64-bit), the benchmark and bind_probe.exe; test code only.
#pragma once

#include <winsock2.h>
#include <ws2spi.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "policy/bind_catalog.h"

inline constexpr DWORD kTestLayerId = 1001;
inline constexpr DWORD kTestTcpBaseId = 1002;
inline constexpr DWORD kTestTcpChainId = 1003;
inline constexpr DWORD kTestUdpBaseId = 1004;
inline constexpr DWORD kTestUdpChainId = 1005;
inline constexpr DWORD kTestTcp6BaseId = 1006;
inline constexpr DWORD kTestTcp6ChainId = 1007;
inline constexpr wchar_t kTestProviderFolderVariable[] = L"KAVRIN_TEST_PROVIDER_FOLDER";

// The module and the test provider of this process's width.
inline constexpr const wchar_t* kBindModuleName =
    sizeof(void*) == 8 ? L"KavrinBind64.dll" : L"KavrinBind.dll";
inline constexpr const wchar_t* kTestProviderName =
    sizeof(void*) == 8 ? L"KavrinTestProvider64.dll" : L"KavrinTestProvider.dll";

inline GUID ToSystemGuid(const ProviderGuid& g) {
  GUID guid{g.data1, g.data2, g.data3, {}};
  std::memcpy(guid.Data4, g.data4.data(), sizeof(guid.Data4));
  return guid;
}

// A socket address for `address` in network byte order.
inline sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = address;
  return in;
}

class SocketLoader {
 public:
  using UseCatalogEntry = void(__stdcall*)(const WSAPROTOCOL_INFOW*, const wchar_t* const*, int);
  using EventsEntry = int(__stdcall*)(char*, int);

  // How our chains are installed: all under one GUID (as earlier versions did) or each under
  // its own.
  enum class ChainGuids { kShared, kOwn };

  SocketLoader() { current_ = this; }
  ~SocketLoader() {
    Cleanup();
    if (current_ == this) current_ = nullptr;
  }
  SocketLoader(const SocketLoader&) = delete;
  SocketLoader& operator=(const SocketLoader&) = delete;

  // Loads the module and the test provider from `folder` (ending in a backslash).
  bool Load(const std::wstring& folder) {
    folder_ = folder;
    module_ = LoadLibraryW((folder + kBindModuleName).c_str());
    provider_ = LoadLibraryW((folder + kTestProviderName).c_str());
    if (module_ == nullptr || provider_ == nullptr) return false;
    useCatalog_ = reinterpret_cast<UseCatalogEntry>(
        reinterpret_cast<void*>(GetProcAddress(module_, "KavrinBindUseTestCatalog")));
    events_ = reinterpret_cast<EventsEntry>(
        reinterpret_cast<void*>(GetProcAddress(provider_, "TestProviderEvents")));
    return useCatalog_ && events_;
  }

  // A fresh process's view: the catalog of layer, IPv4 TCP and UDP and IPv6 TCP bases and our
  // chains over them (chains first, as installed), nothing started, the module's steering new.
  // `lowerPath` is the test provider's path as the catalog holds it.
  void UseCatalog(ChainGuids guids = ChainGuids::kOwn, const std::wstring& lowerPath = L"") {
    Cleanup();
    const std::wstring folder = folder_.substr(0, folder_.size() - 1);
    SetEnvironmentVariableW(kTestProviderFolderVariable, folder.c_str());
    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(module_, modulePath, MAX_PATH);
    const std::wstring lower = lowerPath.empty() ? L"%" + std::wstring(kTestProviderFolderVariable) +
                                                       L"%\\" + kTestProviderName
                                                 : lowerPath;
    static const GUID kBase = {0xE70F1AA0, 0xAB8B, 0x11CF, {0x8C, 0xA3, 0, 0x80, 0x5F, 0x48, 0xA1, 0x92}};
    static const GUID kBase6 = {0xF9EAB0C0, 0x26D4, 0x11D0, {0xBB, 0xBF, 0, 0xAA, 0, 0x6C, 0x34, 0xE4}};
    catalog_.clear();
    lowerPath_ = lower;
    const auto add = [&](DWORD id, std::vector<DWORD> chain, int family, int type, int protocol,
                         GUID provider, const std::wstring& path, DWORD flags) {
      Add(id, chain, family, type, protocol, provider, path, flags);
    };
    GUID chainGuid = ToSystemGuid(kBindChainGuid);
    const auto nextChainGuid = [&] {
      const GUID guid = chainGuid;
      if (guids == ChainGuids::kOwn) ++chainGuid.Data4[7];
      return guid;
    };
    add(kTestTcpChainId, {kTestLayerId, kTestTcpBaseId}, AF_INET, SOCK_STREAM, IPPROTO_TCP,
        nextChainGuid(), modulePath, 0);
    add(kTestUdpChainId, {kTestLayerId, kTestUdpBaseId}, AF_INET, SOCK_DGRAM, IPPROTO_UDP,
        nextChainGuid(), modulePath, 0);
    add(kTestTcp6ChainId, {kTestLayerId, kTestTcp6BaseId}, AF_INET6, SOCK_STREAM, IPPROTO_TCP,
        nextChainGuid(), modulePath, 0);
    add(kTestLayerId, {}, AF_INET, 0, 0, ToSystemGuid(kBindLayerGuid), modulePath, PFL_HIDDEN);
    add(kTestTcpBaseId, {kTestTcpBaseId}, AF_INET, SOCK_STREAM, IPPROTO_TCP, kBase, lower, 0);
    add(kTestUdpBaseId, {kTestUdpBaseId}, AF_INET, SOCK_DGRAM, IPPROTO_UDP, kBase, lower, 0);
    add(kTestTcp6BaseId, {kTestTcp6BaseId}, AF_INET6, SOCK_STREAM, IPPROTO_TCP, kBase6, lower, 0);
    Publish();
  }

  // One more catalog entry, last (Publish hands it to the module); `front` puts it first.
  void Add(DWORD id, const std::vector<DWORD>& chain, int family, int type, int protocol,
           const GUID& provider, const std::wstring& path, DWORD flags = 0, bool front = false) {
    Entry entry{};
    entry.info.dwCatalogEntryId = id;
    entry.info.ProviderId = provider;
    entry.info.dwProviderFlags = flags;
    entry.info.iAddressFamily = family;
    entry.info.iSocketType = type;
    entry.info.iProtocol = protocol;
    entry.info.ProtocolChain.ChainLen = static_cast<int>(chain.size());
    for (size_t i = 0; i < chain.size(); ++i) entry.info.ProtocolChain.ChainEntries[i] = chain[i];
    entry.path = path;
    catalog_.insert(front ? catalog_.begin() : catalog_.end(), entry);
  }

  HMODULE Module() const { return module_; }
  HMODULE TestProvider() const { return provider_; }
  // The test provider's path as the catalog holds it.
  const std::wstring& LowerPath() const { return lowerPath_; }
  std::wstring ModulePath() const {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module_, path, MAX_PATH);
    return path;
  }

  // Hands the catalog as it now stands to the module.
  void Publish() {
    std::vector<WSAPROTOCOL_INFOW> infos;
    std::vector<const wchar_t*> paths;
    for (const auto& entry : catalog_) {
      infos.push_back(entry.info);
      paths.push_back(entry.path.c_str());
    }
    useCatalog_(infos.data(), paths.data(), static_cast<int>(infos.size()));
  }

  // socket(): the first visible entry for the kind, its provider started if it is not yet.
  SOCKET Open(int family, int type, int protocol, int* error = nullptr) {
    int ignored = 0;
    if (error == nullptr) error = &ignored;
    for (const auto& entry : catalog_) {
      const WSAPROTOCOL_INFOW& info = entry.info;
      if (info.ProtocolChain.ChainLen == LAYERED_PROTOCOL ||
          (info.dwProviderFlags & PFL_HIDDEN) != 0 || info.iAddressFamily != family ||
          info.iSocketType != type || (protocol != 0 && info.iProtocol != protocol)) {
        continue;
      }
      int failed = 0;
      Provider* provider = Started(entry, failed);
      if (provider == nullptr) {
        *error = failed;
        return INVALID_SOCKET;
      }
      WSAPROTOCOL_INFOW copy = info;
      return provider->table.lpWSPSocket(family, type, protocol, &copy, 0, 0, error);
    }
    *error = WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }

  // The table of the provider that owns `socket`, as the system finds it for every later call.
  const WSPPROC_TABLE& Table(SOCKET socket) {
    static const WSPPROC_TABLE kNone{};
    std::lock_guard lock(mutex_);
    const auto owner = owners_.find(socket);
    if (owner == owners_.end()) return kNone;
    for (auto& [guid, provider] : providers_) {
      if (provider.entries.count(owner->second) != 0) return provider.table;
    }
    return kNone;
  }

  int Connect(SOCKET socket, uint32_t address, uint16_t port, int* error = nullptr) {
    const sockaddr_in to = SocketAddress(address, port);
    int ignored = 0;
    return Table(socket).lpWSPConnect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof(to),
                                      nullptr, nullptr, nullptr, nullptr,
                                      error != nullptr ? error : &ignored);
  }

  int SendTo(SOCKET socket, uint32_t address, uint16_t port) {
    char byte = 0;
    WSABUF buffer{1, &byte};
    DWORD sent = 0;
    int error = 0;
    const sockaddr_in to = SocketAddress(address, port);
    return Table(socket).lpWSPSendTo(socket, &buffer, 1, &sent, 0,
                                     reinterpret_cast<const sockaddr*>(&to), sizeof(to), nullptr,
                                     nullptr, nullptr, &error);
  }

  // Each started provider's WSPCleanup, once per start-up, as the last WSACleanup does.
  void Cleanup() {
    std::lock_guard lock(mutex_);
    for (auto& [guid, provider] : providers_) {
      int error = 0;
      if (provider.table.lpWSPCleanup != nullptr) provider.table.lpWSPCleanup(&error);
    }
    providers_.clear();
    owners_.clear();
  }

  // Start-ups made so far, one per provider GUID.
  int StartedProviders() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(providers_.size());
  }

  std::string TakeEvents() {
    std::string text(64 * 1024, '\0');
    const int length = events_(text.data(), static_cast<int>(text.size()));
    text.resize(length < static_cast<int>(text.size()) ? length : text.size() - 1);
    return text;
  }

  WSAPROTOCOL_INFOW Info(DWORD id) const {
    for (const auto& entry : catalog_) {
      if (entry.info.dwCatalogEntryId == id) return entry.info;
    }
    return {};
  }

  // Starts the provider of entry `id` directly with that entry, as a layer above would.
  int StartWith(DWORD id, WSPPROC_TABLE& table) {
    for (const auto& entry : catalog_) {
      if (entry.info.dwCatalogEntryId != id) continue;
      const HMODULE module = LoadLibraryW(Expand(entry.path).c_str());
      const auto start = reinterpret_cast<LPWSPSTARTUP>(
          reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
      WSPDATA data{};
      WSAPROTOCOL_INFOW info = entry.info;
      return start != nullptr ? start(MAKEWORD(2, 2), &data, &info, Upcalls(), &table)
                              : WSAEPROVIDERFAILEDINIT;
    }
    return WSAEINVAL;
  }

 private:
  struct Entry {
    WSAPROTOCOL_INFOW info;
    std::wstring path;
  };
  struct Provider {
    WSPPROC_TABLE table{};
    std::map<DWORD, bool> entries;  // the catalog entries of this GUID
  };
  struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(a)) < 0; }
  };

  static std::wstring Expand(const std::wstring& path) {
    wchar_t expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH);
    return expanded;
  }

  // The provider of `entry`, started once for its GUID however many threads ask at once; null
  // with `error` when its start-up failed or handed back what the socket layer refuses.
  Provider* Started(const Entry& entry, int& error) {
    std::lock_guard lock(mutex_);
    const auto found = providers_.find(entry.info.ProviderId);
    if (found != providers_.end()) return &found->second;
    const HMODULE module = LoadLibraryW(Expand(entry.path).c_str());
    const auto start = reinterpret_cast<LPWSPSTARTUP>(
        reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
    error = WSAEPROVIDERFAILEDINIT;
    if (start == nullptr) return nullptr;
    Provider provider;
    WSPDATA data{};
    WSAPROTOCOL_INFOW info = entry.info;
    // The start-up runs outside our lock: a provider may open sockets of its own meanwhile.
    mutex_.unlock();
    const int result = start(MAKEWORD(2, 2), &data, &info, Upcalls(), &provider.table);
    mutex_.lock();
    if (result != 0) {
      error = result;
      return nullptr;
    }
    const auto* entries = reinterpret_cast<const void* const*>(&provider.table);
    for (size_t n = 0; n < sizeof(WSPPROC_TABLE) / sizeof(void*); ++n) {
      if (entries[n] == nullptr) error = WSAEINVALIDPROCTABLE;
    }
    if (data.wVersion == 0) error = WSAEINVALIDPROVIDER;
    if (error != WSAEPROVIDERFAILEDINIT) return nullptr;
    for (const auto& other : catalog_) {
      if (std::memcmp(&other.info.ProviderId, &entry.info.ProviderId, sizeof(GUID)) == 0) {
        provider.entries[other.info.dwCatalogEntryId] = true;
      }
    }
    // Another thread may have started it meanwhile: the system keeps one, and so do we (the
    // other start-up is cleaned up at once).
    const auto [kept, added] = providers_.emplace(entry.info.ProviderId, provider);
    if (!added) {
      int ignored = 0;
      provider.table.lpWSPCleanup(&ignored);
    }
    return &kept->second;
  }

  static SOCKET WSPAPI ModifyIfsHandle(DWORD entry, SOCKET proposed, LPINT) {
    if (current_ != nullptr) {
      std::lock_guard lock(current_->mutex_);
      current_->owners_[proposed] = entry;
    }
    return proposed;
  }
  static WSPUPCALLTABLE Upcalls() {
    WSPUPCALLTABLE upcalls{};
    upcalls.lpWPUModifyIFSHandle = &ModifyIfsHandle;
    return upcalls;
  }

  static inline SocketLoader* current_ = nullptr;
  std::wstring folder_;
  HMODULE module_ = nullptr;
  HMODULE provider_ = nullptr;
  UseCatalogEntry useCatalog_ = nullptr;
  EventsEntry events_ = nullptr;
  std::vector<Entry> catalog_;
  std::wstring lowerPath_;
  std::recursive_mutex mutex_;
  std::map<GUID, Provider, GuidLess> providers_;
  std::map<SOCKET, DWORD> owners_;
};
