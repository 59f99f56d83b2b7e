// The time the binding module adds to a connect, under Wine or Windows: KavrinBind.dll loaded as
// the socket layer loads it (the loader model) over the quiet test provider (its connect returns
// at once), against calling that provider directly. Cases of this program: not listed while the
// binding is on, listed with its destination granted, the binding off, and a non-blocking
// connect to a new destination while the client holds every reply back.
//
// Prints nanoseconds per connect for each and what the module adds; exits non-zero when the
// chain cannot be set up. The application list file is put back as it was.
#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "bind/bind_state.h"
#include "test_provider/fake_route_server_win.h"
#include "test_provider/socket_loader_win.h"

namespace {

constexpr int kConnects = 200000;
constexpr int kRounds = 5;
constexpr uint32_t kTunnel = 0x0600080Au;       // 10.8.0.6
constexpr uint32_t kDestination = 0x22D8B85Du;  // 93.184.216.34

std::wstring AppListPath() {
  wchar_t common[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
  const std::wstring folder = std::wstring(common) + L"\\Kavrin";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\applist.ini";
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadFileBytes(const std::wstring& path, bool& exists) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  exists = file != INVALID_HANDLE_VALUE;
  if (!exists) return {};
  std::string bytes(1 << 20, '\0');
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

std::string ListNaming(const std::wstring& program) {
  std::string narrow;
  for (const wchar_t c : program) narrow.push_back(static_cast<char>(c));
  return "[p]\r\nAppFullname=" + narrow + "\r\nActive=1\r\n";
}

// The fastest of kRounds rounds of kConnects connects, in nanoseconds per connect.
double Time(const WSPPROC_TABLE& table, SOCKET socket) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const sockaddr_in to = SocketAddress(kDestination, 80);
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int n = 0; n < kConnects; ++n) {
      int error = 0;
      table.lpWSPConnect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof(to), nullptr,
                         nullptr, nullptr, nullptr, &error);
    }
    QueryPerformanceCounter(&end);
    const double ns = static_cast<double>(end.QuadPart - start.QuadPart) * 1e9 /
                      static_cast<double>(frequency.QuadPart) / kConnects;
    best = std::min(best, ns);
  }
  return best;
}

}  // namespace

int main() {
  wchar_t self[MAX_PATH] = {};
  const std::wstring program(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  SocketLoader loader;
  if (!loader.Load(program.substr(0, program.find_last_of(L'\\') + 1))) {
    std::fprintf(stderr, "KavrinBind.dll or KavrinTestProvider.dll is missing\n");
    return 1;
  }
  const HMODULE provider = GetModuleHandleW(kTestProviderName);
  const auto quiet = reinterpret_cast<void(__stdcall*)(BOOL)>(
      reinterpret_cast<void*>(GetProcAddress(provider, "TestProviderQuiet")));
  if (quiet == nullptr) return 1;
  quiet(TRUE);

  const std::wstring listPath = AppListPath();
  bool hadList = false;
  const std::string savedList = ReadFileBytes(listPath, hadList);

  // "Binding on", published as if by a client in another process.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  const HANDLE state = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                          kBindStateSectionSize, kBindStateSectionName);
  LocalFree(descriptor);
  auto* record = static_cast<PublishedBindState*>(
      MapViewOfFile(state, FILE_MAP_WRITE, 0, 0, sizeof(PublishedBindState)));
  if (record == nullptr) return 1;
  *record = PublishedBindState{};
  record->on = 1;
  record->tunnelAddress = kTunnel;
  record->clientProcessId = GetCurrentProcessId() + 1;

  WSPPROC_TABLE lower{};
  int error = 0;
  loader.UseCatalog();
  if (loader.StartWith(kTestTcpBaseId, lower) != 0) return 1;
  const SOCKET direct = lower.lpWSPSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0, &error);
  const double directNs = Time(lower, direct);

  const auto open = [&](const std::string& list) {
    WriteFileBytes(listPath, list);
    loader.UseCatalog();  // the module's steering starts afresh and reads the list at once
    return loader.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  };
  const auto measure = [&](const std::string& list) {
    const SOCKET socket = open(list);
    return Time(loader.Table(socket), socket);
  };
  const double unlistedNs = measure(ListNaming(L"C:\\Other\\other.exe"));
  double listedNs = 0;
  size_t requests = 0;
  {
    FakeRouteServer server(1);
    record->clientProcessId = server.ProcessId();  // the pipe's server is the client
    listedNs = measure(ListNaming(program));
    requests = server.Requests().size();
  }
  // A new destination on a non-blocking socket while the client answers nothing.
  double nonBlockingUs = 0;
  double firstUs = 0;
  {
    FakeRouteServer held(1, /*hold=*/true);
    record->clientProcessId = held.ProcessId();
    const SOCKET socket = open(ListNaming(program));
    u_long on = 1;
    DWORD returned = 0;
    loader.Table(socket).lpWSPIoctl(socket, FIONBIO, &on, sizeof(on), nullptr, 0, &returned,
                                    nullptr, nullptr, nullptr, &error);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    const auto timed = [&](uint32_t address) {
      QueryPerformanceCounter(&start);
      loader.Connect(socket, address, 80, &error);
      QueryPerformanceCounter(&end);
      return static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
             static_cast<double>(frequency.QuadPart);
    };
    // The first call of a fresh process also reads the published state and the interfaces'
    // subnets and waits (at most 250 ms) for the worker's first reading of the list; the next
    // new destination pays only for handing its request to the worker.
    firstUs = timed(0x01020305u);
    nonBlockingUs = timed(0x01020306u);
    held.WaitForRequests(2, 5000);
    held.Release();
  }
  record->on = 0;
  const double offNs = measure(ListNaming(program));
  loader.Cleanup();

  UnmapViewOfFile(record);
  CloseHandle(state);
  if (hadList) {
    WriteFileBytes(listPath, savedList);
  } else {
    DeleteFileW(listPath.c_str());
  }

  std::printf("connect through the binding module, %d connects x %d rounds (fastest round)\n",
              kConnects, kRounds);
  std::printf("  lower provider directly:        %8.1f ns\n", directNs);
  std::printf("  binding off:                    %8.1f ns  (adds %6.1f ns)\n", offNs,
              offNs - directNs);
  std::printf("  program not listed:             %8.1f ns  (adds %6.1f ns; target < 10)\n",
              unlistedNs, unlistedNs - directNs);
  std::printf("  listed, destination granted:    %8.1f ns  (adds %6.1f ns; target < 100)\n",
              listedNs, listedNs - directNs);
  std::printf("  route requests sent while listed: %zu (one for the first connect)\n", requests);
  std::printf("  non-blocking connect, new destination, client silent: %.1f us (target < 1000)\n",
              nonBlockingUs);
  std::printf("    the same as the process's first steered call (state, list, subnets): %.1f us\n",
              firstUs);
  return requests == 1 ? 0 : 1;
}
