// The binding module chained over KavrinTestProvider.dll in this process, the way the socket
// layer would chain it: a catalog of one layered entry (the module), two base entries (the test
// provider for TCP and UDP, its path written with an environment string) and the two chains,
// handed to the module's test catalog; then the module's own WSPStartup for a chain. Shared by
// the Windows tests, the benchmark and bind_probe.exe; test code only.
#pragma once

#include <winsock2.h>
#include <ws2spi.h>

#include <string>
#include <vector>

inline constexpr DWORD kTestLayerId = 1001;
inline constexpr DWORD kTestTcpBaseId = 1002;
inline constexpr DWORD kTestTcpChainId = 1003;
inline constexpr DWORD kTestUdpBaseId = 1004;
inline constexpr DWORD kTestUdpChainId = 1005;
inline constexpr wchar_t kTestProviderFolderVariable[] = L"KAVRIN_TEST_PROVIDER_FOLDER";

class ProviderChain {
 public:
  using UseCatalogEntry = void(__stdcall*)(const WSAPROTOCOL_INFOW*, const wchar_t* const*, int);
  using EventsEntry = int(__stdcall*)(char*, int);

  // Loads KavrinBind.dll and KavrinTestProvider.dll from `folder` (ending in a backslash).
  bool Load(const std::wstring& folder) {
    folder_ = folder;
    module_ = LoadLibraryW((folder + L"KavrinBind.dll").c_str());
    provider_ = LoadLibraryW((folder + L"KavrinTestProvider.dll").c_str());
    if (module_ == nullptr || provider_ == nullptr) return false;
    start_ = reinterpret_cast<LPWSPSTARTUP>(
        reinterpret_cast<void*>(GetProcAddress(module_, "WSPStartup")));
    lowerStart_ = reinterpret_cast<LPWSPSTARTUP>(
        reinterpret_cast<void*>(GetProcAddress(provider_, "WSPStartup")));
    useCatalog_ = reinterpret_cast<UseCatalogEntry>(
        reinterpret_cast<void*>(GetProcAddress(module_, "KavrinBindUseTestCatalog")));
    events_ = reinterpret_cast<EventsEntry>(
        reinterpret_cast<void*>(GetProcAddress(provider_, "TestProviderEvents")));
    return start_ && lowerStart_ && useCatalog_ && events_;
  }

  // The catalog the module reads from now on, its steering started afresh. `lowerPath` is the
  // test provider's path as the catalog holds it.
  void UseCatalog(const std::wstring& lowerPath = L"") {
    const std::wstring folder = folder_.substr(0, folder_.size() - 1);
    SetEnvironmentVariableW(kTestProviderFolderVariable, folder.c_str());
    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(module_, modulePath, MAX_PATH);
    const std::wstring lower =
        lowerPath.empty() ? L"%" + std::wstring(kTestProviderFolderVariable) +
                                L"%\\KavrinTestProvider.dll"
                          : lowerPath;
    entries_.assign(5, WSAPROTOCOL_INFOW{});
    paths_ = {modulePath, lower, L"", lower, L""};
    const auto fill = [&](int n, DWORD id, std::vector<DWORD> chain, int type, int protocol) {
      auto& entry = entries_[n];
      entry.dwCatalogEntryId = id;
      entry.iAddressFamily = AF_INET;
      entry.iSocketType = type;
      entry.iProtocol = protocol;
      entry.ProtocolChain.ChainLen = static_cast<int>(chain.size());
      for (size_t i = 0; i < chain.size(); ++i) entry.ProtocolChain.ChainEntries[i] = chain[i];
    };
    fill(0, kTestLayerId, {}, SOCK_STREAM, IPPROTO_TCP);
    fill(1, kTestTcpBaseId, {kTestTcpBaseId}, SOCK_STREAM, IPPROTO_TCP);
    fill(2, kTestTcpChainId, {kTestLayerId, kTestTcpBaseId}, SOCK_STREAM, IPPROTO_TCP);
    fill(3, kTestUdpBaseId, {kTestUdpBaseId}, SOCK_DGRAM, IPPROTO_UDP);
    fill(4, kTestUdpChainId, {kTestLayerId, kTestUdpBaseId}, SOCK_DGRAM, IPPROTO_UDP);
    std::vector<const wchar_t*> paths;
    for (const auto& path : paths_) paths.push_back(path.c_str());
    useCatalog_(entries_.data(), paths.data(), static_cast<int>(entries_.size()));
  }

  // The module's start-up for the chain `chainId` (an index of the catalog above).
  int Start(DWORD chainId, WSPPROC_TABLE& table) {
    WSPDATA data{};
    WSAPROTOCOL_INFOW protocol = Entry(chainId);
    table = WSPPROC_TABLE{};
    return start_(MAKEWORD(2, 2), &data, &protocol, Upcalls(), &table);
  }
  // The test provider started directly, as if the module were not there.
  int StartLower(DWORD baseId, WSPPROC_TABLE& table) {
    WSPDATA data{};
    WSAPROTOCOL_INFOW protocol = Entry(baseId);
    table = WSPPROC_TABLE{};
    return lowerStart_(MAKEWORD(2, 2), &data, &protocol, Upcalls(), &table);
  }

  WSAPROTOCOL_INFOW Entry(DWORD id) const {
    for (const auto& entry : entries_) {
      if (entry.dwCatalogEntryId == id) return entry;
    }
    return {};
  }

  std::string TakeEvents() {
    std::string text(64 * 1024, '\0');
    const int length = events_(text.data(), static_cast<int>(text.size()));
    text.resize(length < static_cast<int>(text.size()) ? length : text.size() - 1);
    return text;
  }

 private:
  static SOCKET WSPAPI ModifyIfsHandle(DWORD, SOCKET proposed, LPINT) { return proposed; }
  static WSPUPCALLTABLE Upcalls() {
    WSPUPCALLTABLE upcalls{};
    upcalls.lpWPUModifyIFSHandle = &ModifyIfsHandle;
    return upcalls;
  }

  std::wstring folder_;
  HMODULE module_ = nullptr;
  HMODULE provider_ = nullptr;
  LPWSPSTARTUP start_ = nullptr;
  LPWSPSTARTUP lowerStart_ = nullptr;
  UseCatalogEntry useCatalog_ = nullptr;
  EventsEntry events_ = nullptr;
  std::vector<WSAPROTOCOL_INFOW> entries_;
  std::vector<std::wstring> paths_;
};

// A socket address for `address` in network byte order.
inline sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = address;
  return in;
}
