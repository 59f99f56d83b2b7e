// KavrinBind.dll as a layered provider, chained over KavrinTestProvider.dll through its own
// start-up, with this test program as the application that is (or is not) accelerated.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <mswsock.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bind/bind_state.h"
#include "test_provider/fake_route_server_win.h"
#include "test_provider/provider_chain_win.h"

namespace {

// 10.8.0.6 and 93.184.216.34 as a socket address holds them.
constexpr uint32_t kTunnel = 0x0600080Au;
constexpr uint32_t kDestination = 0x22D8B85Du;
const std::vector<uint8_t> kDestinationRequest = {1, 93, 184, 216, 34};

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring file(path, length);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

std::filesystem::path AppListPath() {
  wchar_t common[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
  const std::wstring folder = std::wstring(common) + L"\\Kavrin";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\applist.ini";
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out.push_back(static_cast<char>(c));
  return out;
}

class BindProviderWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(chain_.Load(ProgramFolder()));
    std::ifstream existing(AppListPath(), std::ios::binary);
    hadList_ = existing.good();
    savedList_.assign(std::istreambuf_iterator<char>(existing), {});
    Publish(GetCurrentProcessId() + 1);
  }
  void TearDown() override {
    if (state_ != nullptr) CloseHandle(state_);
    if (hadList_) {
      std::ofstream(AppListPath(), std::ios::binary | std::ios::trunc) << savedList_;
    } else {
      DeleteFileW(AppListPath().wstring().c_str());
    }
    chain_.UseCatalog();
  }

  // "Binding on" as the client publishes it, from process `client`.
  void Publish(DWORD client) {
    if (state_ != nullptr) CloseHandle(state_);
    state_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                kBindStateSectionSize, kBindStateSectionName);
    ASSERT_NE(state_, nullptr) << GetLastError();
    auto* record = static_cast<PublishedBindState*>(
        MapViewOfFile(state_, FILE_MAP_WRITE, 0, 0, sizeof(PublishedBindState)));
    ASSERT_NE(record, nullptr);
    *record = PublishedBindState{};
    record->on = 1;
    record->tunnelAddress = kTunnel;
    record->clientProcessId = client;
    UnmapViewOfFile(record);
  }

  // This test program in the list (its path written in another letter case and with forward
  // slashes), or another program when `listed` is false.
  void List(bool listed, const std::string& options) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string program = listed ? Narrow(self) : "C:\\Other\\other.exe";
    for (auto& c : program) {
      if (c == '\\') c = '/';
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    std::ofstream(AppListPath(), std::ios::binary | std::ios::trunc)
        << "[x.lnk]\r\nAppFullname=" << program << "\r\n" << options << "Active=1\r\n";
  }

  // The chain started afresh, and a socket of it.
  SOCKET Open(DWORD chainId, WSPPROC_TABLE& table) {
    chain_.UseCatalog();
    EXPECT_EQ(chain_.Start(chainId, table), 0);
    int error = 0;
    WSAPROTOCOL_INFOW protocol = chain_.Entry(chainId);
    const SOCKET socket = table.lpWSPSocket(AF_INET, protocol.iSocketType, protocol.iProtocol,
                                            &protocol, 0, 0, &error);
    chain_.TakeEvents();
    return socket;
  }

  int Connect(WSPPROC_TABLE& table, SOCKET socket, uint32_t address) {
    const sockaddr_in to = SocketAddress(address, 80);
    int error = 0;
    const int result = table.lpWSPConnect(socket, reinterpret_cast<const sockaddr*>(&to),
                                          sizeof(to), nullptr, nullptr, nullptr, nullptr, &error);
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(error, WSAECONNREFUSED);  // the lower provider's own answer, unchanged
    return result;
  }

  ProviderChain chain_;
  HANDLE state_ = nullptr;
  bool hadList_ = false;
  std::string savedList_;
};

TEST_F(BindProviderWinTest, AnUnlistedProcessReachesTheLowerProviderUntouched) {
  FakeRouteServer server(1);
  List(false, "");
  WSPPROC_TABLE table, lower;
  const SOCKET socket = Open(kTestTcpChainId, table);
  ASSERT_EQ(chain_.StartLower(kTestTcpBaseId, lower), 0);
  // Calls we do not steer are the lower provider's own entries.
  EXPECT_EQ(table.lpWSPSend, lower.lpWSPSend);
  EXPECT_EQ(table.lpWSPBind, lower.lpWSPBind);
  EXPECT_EQ(table.lpWSPCleanup, lower.lpWSPCleanup);
  chain_.TakeEvents();

  Connect(table, socket, kDestination);
  EXPECT_EQ(chain_.TakeEvents(), "connect 93.184.216.34:80 from none\n");

  // Listed, but the client's own process.
  List(true, "ForceWSPBind=1\r\n");
  Publish(GetCurrentProcessId());
  const SOCKET own = Open(kTestTcpChainId, table);
  Connect(table, own, kDestination);
  EXPECT_EQ(chain_.TakeEvents(), "connect 93.184.216.34:80 from none\n");
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(BindProviderWinTest, StartUpLoadsTheNextProviderByFullPathOnly) {
  WSPPROC_TABLE table;
  chain_.UseCatalog();
  ASSERT_EQ(chain_.Start(kTestTcpChainId, table), 0);
  // The base entry's own description, reached through the expanded environment string.
  EXPECT_EQ(chain_.TakeEvents(), "startup 1002\n");

  chain_.UseCatalog(L"KavrinTestProvider.dll");
  EXPECT_EQ(chain_.Start(kTestTcpChainId, table), WSAEPROVIDERFAILEDINIT);
  EXPECT_EQ(chain_.TakeEvents(), "");
}

TEST_F(BindProviderWinTest, AListedProcessAsksOnceAndGoesOnWhateverTheReply) {
  List(true, "");
  WSPPROC_TABLE table;
  {
    FakeRouteServer server(1);
    const SOCKET socket = Open(kTestTcpChainId, table);
    Connect(table, socket, kDestination);
    Connect(table, socket, kDestination);  // remembered
    Connect(table, socket, 0x0100007Fu);   // 127.0.0.1: never asked for
    EXPECT_EQ(server.Requests(), std::vector<std::vector<uint8_t>>{kDestinationRequest});
    EXPECT_EQ(chain_.TakeEvents(), "connect 93.184.216.34:80 from none\n"
                                   "connect 93.184.216.34:80 from none\n"
                                   "connect 127.0.0.1:80 from none\n");
  }
  {
    FakeRouteServer refusing(0);
    const SOCKET socket = Open(kTestTcpChainId, table);
    Connect(table, socket, kDestination);
    Connect(table, socket, kDestination);  // a refusal is not remembered
    EXPECT_EQ(refusing.Requests().size(), 2u);
  }
  // No client listening: the call goes on.
  const SOCKET socket = Open(kTestTcpChainId, table);
  Connect(table, socket, kDestination);
  EXPECT_EQ(chain_.TakeEvents(), "connect 93.184.216.34:80 from none\n");
}

TEST_F(BindProviderWinTest, AsynchronousModeDoesNotWaitForTheReply) {
  List(true, "UseAsyncMode=1\r\n");
  FakeRouteServer server(1, /*hold=*/true);
  WSPPROC_TABLE table;
  const SOCKET socket = Open(kTestTcpChainId, table);
  const ULONGLONG started = GetTickCount64();
  Connect(table, socket, kDestination);
  // A waiting call would have given up on the held reply only after two seconds.
  EXPECT_LT(GetTickCount64() - started, 1000u);
  EXPECT_EQ(chain_.TakeEvents(), "connect 93.184.216.34:80 from none\n");
  // The request still goes out, and is answered only now.
  EXPECT_TRUE(server.WaitForRequests(1, 5000));
  server.Release();
  EXPECT_EQ(server.Requests(), std::vector<std::vector<uint8_t>>{kDestinationRequest});
}

TEST_F(BindProviderWinTest, ForcedBindingBindsAnUnboundSocketToTheTunnel) {
  List(true, "ForceWSPBind=1\r\n");
  FakeRouteServer server(1);
  WSPPROC_TABLE table;
  const SOCKET socket = Open(kTestTcpChainId, table);
  Connect(table, socket, kDestination);
  EXPECT_EQ(chain_.TakeEvents(), "bind 10.8.0.6:0\nconnect 93.184.216.34:80 from 10.8.0.6:0\n");

  // One the program bound itself keeps its address.
  const SOCKET bound = Open(kTestTcpChainId, table);
  const sockaddr_in own = SocketAddress(0, 5000);
  int error = 0;
  table.lpWSPBind(bound, reinterpret_cast<const sockaddr*>(&own), sizeof(own), &error);
  Connect(table, bound, 0x04030201u);
  EXPECT_EQ(chain_.TakeEvents(),
            "bind 0.0.0.0:5000\nconnect 1.2.3.4:80 from 0.0.0.0:5000\n");
}

TEST_F(BindProviderWinTest, ConnectExAndTheFirstDatagramToADestinationAreSteered) {
  List(true, "");
  FakeRouteServer server(1);
  WSPPROC_TABLE table, lower;
  const SOCKET socket = Open(kTestTcpChainId, table);
  ASSERT_EQ(chain_.StartLower(kTestTcpBaseId, lower), 0);
  GUID id = WSAID_CONNECTEX;
  LPFN_CONNECTEX connectEx = nullptr, lowerConnectEx = nullptr;
  DWORD returned = 0;
  int error = 0;
  ASSERT_EQ(table.lpWSPIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id),
                             &connectEx, sizeof(connectEx), &returned, nullptr, nullptr, nullptr,
                             &error),
            0);
  lower.lpWSPIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id), &lowerConnectEx,
                   sizeof(lowerConnectEx), &returned, nullptr, nullptr, nullptr, &error);
  ASSERT_NE(connectEx, nullptr);
  EXPECT_NE(connectEx, lowerConnectEx);
  chain_.TakeEvents();
  const sockaddr_in to = SocketAddress(kDestination, 443);
  EXPECT_TRUE(connectEx(socket, reinterpret_cast<const sockaddr*>(&to), sizeof(to), nullptr, 0,
                        nullptr, nullptr));
  EXPECT_EQ(chain_.TakeEvents(), "connectex 93.184.216.34:443 from none\n");
  EXPECT_EQ(server.Requests().size(), 1u);

  // Datagrams: the first to a destination asks, the next does not; a stream socket's send-to
  // names no destination of its own.
  const SOCKET datagram = Open(kTestUdpChainId, table);
  char byte = 0;
  WSABUF buffer{1, &byte};
  DWORD sent = 0;
  for (const uint32_t address : {0x08080808u, 0x08080808u}) {
    const sockaddr_in target = SocketAddress(address, 53);
    EXPECT_EQ(table.lpWSPSendTo(datagram, &buffer, 1, &sent, 0,
                                reinterpret_cast<const sockaddr*>(&target), sizeof(target),
                                nullptr, nullptr, nullptr, &error),
              0);
  }
  EXPECT_EQ(chain_.TakeEvents(), "sendto 8.8.8.8:53\nsendto 8.8.8.8:53\n");
  const SOCKET stream = Open(kTestTcpChainId, table);
  const sockaddr_in other = SocketAddress(0x09090909u, 53);
  table.lpWSPSendTo(stream, &buffer, 1, &sent, 0, reinterpret_cast<const sockaddr*>(&other),
                    sizeof(other), nullptr, nullptr, nullptr, &error);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1], (std::vector<uint8_t>{1, 8, 8, 8, 8}));
}

}  // namespace

namespace {

using StartEntry = void(__stdcall*)(DWORD, DWORD);
using StopEntry = void(__stdcall*)();

BindState ReadState() {
  const HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, kBindStateSectionName);
  if (section == nullptr) return {};
  const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(PublishedBindState));
  const BindState state = DecodeBindState(view, view ? sizeof(PublishedBindState) : 0);
  if (view != nullptr) UnmapViewOfFile(view);
  CloseHandle(section);
  return state;
}

// What the descriptor lets everyone (the world SID) do with the section.
ACCESS_MASK EveryonesAccess() {
  const HANDLE section = OpenFileMappingW(READ_CONTROL, FALSE, kBindStateSectionName);
  if (section == nullptr) return 0;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ACCESS_MASK mask = 0;
  if (GetSecurityInfo(section, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &dacl, nullptr, &descriptor) == ERROR_SUCCESS &&
      dacl != nullptr) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    for (DWORD n = 0; n < dacl->AceCount; ++n) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      if (GetAce(dacl, n, reinterpret_cast<void**>(&ace)) &&
          ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
          EqualSid(reinterpret_cast<PSID>(&ace->SidStart), everyone)) {
        mask |= ace->Mask;
      }
    }
    FreeSid(everyone);
  }
  if (descriptor != nullptr) LocalFree(descriptor);
  CloseHandle(section);
  return mask;
}

TEST(BindStateWinTest, StartPublishesForEveryoneToReadAndStopWithdraws) {
  const HMODULE module = LoadLibraryW((ProgramFolder() + L"KavrinBind.dll").c_str());
  ASSERT_NE(module, nullptr);
  const auto start = reinterpret_cast<StartEntry>(
      reinterpret_cast<void*>(GetProcAddress(module, "VpnBindStart")));
  const auto stop =
      reinterpret_cast<StopEntry>(reinterpret_cast<void*>(GetProcAddress(module, "VpnBindStop")));
  ASSERT_TRUE(start && stop);

  start(8, kTunnel);
  EXPECT_EQ(ReadState(), (BindState{true, kTunnel, GetCurrentProcessId()}));
  const ACCESS_MASK everyone = EveryonesAccess();
  EXPECT_NE(everyone & SECTION_MAP_READ, 0u);
  EXPECT_EQ(everyone & (SECTION_MAP_WRITE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL),
            0u);

  stop();
  EXPECT_FALSE(ReadState().on);
  start(8, 0xFFFFFFFFu);  // a malformed tunnel address starts nothing
  EXPECT_FALSE(ReadState().on);
  stop();
}

}  // namespace
