// KavrinBind.dll (KavrinBind64.dll in a 64-bit process) as the socket layer loads it, through the
// loader model of test_provider/socket_loader_win.h, over KavrinTestProvider.dll, with this test
// program as the application that is (or is not) accelerated.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <mswsock.h>
#include <sddl.h>
#include <shlobj.h>
#include <ws2tcpip.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bind/bind_state.h"
#include "test_provider/fake_route_server_win.h"
#include "test_provider/socket_loader_win.h"

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

int Count(const std::string& text, const std::string& word) {
  int count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

class BindLoaderWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loader_.Load(ProgramFolder()));
    std::ifstream existing(AppListPath(), std::ios::binary);
    hadList_ = existing.good();
    savedList_.assign(std::istreambuf_iterator<char>(existing), {});
    Publish(GetCurrentProcessId() + 1);
    loader_.UseCatalog();
    loader_.TakeEvents();
  }
  void TearDown() override {
    loader_.Cleanup();
    if (state_ != nullptr) CloseHandle(state_);
    if (hadList_) {
      std::ofstream(AppListPath(), std::ios::binary | std::ios::trunc) << savedList_;
    } else {
      DeleteFileW(AppListPath().wstring().c_str());
    }
  }

  // "Binding on" as the client publishes it, from process `client`, owned by the
  // administrators as the client's own section is (or by `owner`, a SID string).
  void Publish(DWORD client, const std::wstring& owner = L"BA") {
    if (state_ != nullptr) CloseHandle(state_);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + owner + L"D:(A;;GA;;;WD)").c_str(),
                                                         SDDL_REVISION_1, &descriptor, nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    state_ = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                kBindStateSectionSize, kBindStateSectionName);
    LocalFree(descriptor);
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

  // The client's pipe, served by the process published as the client.
  std::unique_ptr<FakeRouteServer> Serving(uint8_t reply, bool hold = false) {
    auto server = std::make_unique<FakeRouteServer>(reply, hold);
    Publish(server->ProcessId());
    return server;
  }

  // This test program in the list (its path written in another letter case and with forward
  // slashes), or another program when `listed` is false. The module reads it afresh.
  void List(bool listed, const std::string& options,
            SocketLoader::ChainGuids guids = SocketLoader::ChainGuids::kOwn) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string program = listed ? Narrow(self) : "C:\\Other\\other.exe";
    for (auto& c : program) {
      if (c == '\\') c = '/';
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    std::ofstream(AppListPath(), std::ios::binary | std::ios::trunc)
        << "[x.lnk]\r\nAppFullname=" << program << "\r\n" << options << "Active=1\r\n";
    loader_.UseCatalog(guids);
    loader_.TakeEvents();
  }

  void ExpectRefused(SOCKET socket, uint32_t address) {
    int error = 0;
    EXPECT_EQ(loader_.Connect(socket, address, 80, &error), SOCKET_ERROR);
    EXPECT_EQ(error, WSAECONNREFUSED);  // the lower provider's own answer, unchanged
  }

  SocketLoader loader_;
  HANDLE state_ = nullptr;
  bool hadList_ = false;
  std::string savedList_;
};

// One start-up serves every chain of ours: each socket reaches the base entry of its own kind,
// whichever kind came first and however the chains' GUIDs are shared.
TEST_F(BindLoaderWinTest, EverySocketReachesTheBaseOfItsKindWhicheverStartedTheModule) {
  const auto server = Serving(1);
  for (const auto guids : {SocketLoader::ChainGuids::kShared, SocketLoader::ChainGuids::kOwn}) {
    for (const bool tcpFirst : {true, false}) {
      SCOPED_TRACE(testing::Message() << "shared " << (guids == SocketLoader::ChainGuids::kShared)
                                      << " tcp first " << tcpFirst);
      List(true, "", guids);
      std::string expected;
      SOCKET datagram = INVALID_SOCKET;
      for (const bool tcp : {tcpFirst, !tcpFirst}) {
        const SOCKET socket = tcp ? loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP)
                                  : loader_.Open(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        ASSERT_NE(socket, INVALID_SOCKET);
        if (!tcp) datagram = socket;
        expected += tcp ? "socket 1 as 1002\n" : "socket 2 as 1004\n";
      }
      const std::string events = loader_.TakeEvents();
      EXPECT_EQ(Count(events, "startup "), 1) << events;  // one lower provider, started once
      EXPECT_NE(events.find(expected.substr(0, expected.find('\n') + 1)), std::string::npos)
          << events;
      EXPECT_NE(events.find(expected.substr(expected.find('\n') + 1)), std::string::npos)
          << events;
      // A listed program's first datagram asks for its destination.
      const size_t before = server->Requests().size();
      EXPECT_EQ(loader_.SendTo(datagram, 0x08080808u, 53), 0);
      EXPECT_TRUE(server->WaitForRequests(before + 1, 5000));
      loader_.Cleanup();
      const std::string cleanup = loader_.TakeEvents();
      EXPECT_EQ(Count(cleanup, "cleanup"), 1) << cleanup;
    }
  }
}

// Several threads open every kind of socket at once: each GUID is started once by the loader,
// and each start-up of ours, the first or a later one, hands back the data and the complete
// table the socket layer checks.
TEST_F(BindLoaderWinTest, StartUpsFromSeveralThreadsAtOnceEachAnswerInFull) {
  const auto server = Serving(1);
  List(true, "");
  struct Kind {
    int family, type, protocol;
    const char* arrived;
  };
  const Kind kinds[] = {{AF_INET, SOCK_STREAM, IPPROTO_TCP, "socket 1 as 1002"},
                        {AF_INET, SOCK_DGRAM, IPPROTO_UDP, "socket 2 as 1004"},
                        {AF_INET6, SOCK_STREAM, IPPROTO_TCP, "socket 1 as 1006"}};
  SOCKET sockets[6] = {};
  int errors[6] = {};
  std::vector<std::thread> threads;
  for (int n = 0; n < 6; ++n) {
    threads.emplace_back([&, n] {
      const Kind& kind = kinds[n % 3];
      sockets[n] = loader_.Open(kind.family, kind.type, kind.protocol, &errors[n]);
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string events = loader_.TakeEvents();
  for (int n = 0; n < 6; ++n) {
    EXPECT_NE(sockets[n], INVALID_SOCKET) << n << " failed " << errors[n];
    EXPECT_NE(events.find(kinds[n % 3].arrived), std::string::npos) << events;
  }
  EXPECT_EQ(loader_.StartedProviders(), 3);
}

// A layer of another vendor below ours, and chains that hold our layer twice (as an earlier
// repair left them), seven links long: each socket reaches what lies below our last link, and a
// provider below that starts the module again inside its own start-up finds it free.
TEST_F(BindLoaderWinTest, LayersBelowUsChainsHoldingUsTwiceAndAReentrantStartAreServed) {
  const auto server = Serving(1);
  List(true, "");
  const GUID foreign = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  GUID below = foreign, tcpChain = foreign, udpChain = foreign;
  below.Data4[7] = 9;
  tcpChain.Data4[7] = 10;
  udpChain.Data4[7] = 11;
  // A layer nobody can load, between our two links, and one that serves (the test provider).
  loader_.Add(2001, {}, AF_INET, 0, 0, foreign, L"C:\\Nowhere\\foreign.dll", PFL_HIDDEN);
  loader_.Add(2002, {}, AF_INET, 0, 0, below, loader_.LowerPath(), PFL_HIDDEN);
  loader_.Add(2010, {kTestLayerId, 2001, 2001, kTestLayerId, 2002, 2002, kTestTcpBaseId}, AF_INET,
              SOCK_STREAM, IPPROTO_TCP, tcpChain, loader_.ModulePath(), 0, true);
  loader_.Add(2011, {kTestLayerId, 2001, kTestLayerId, kTestUdpBaseId}, AF_INET, SOCK_DGRAM,
              IPPROTO_UDP, udpChain, loader_.ModulePath(), 0, true);
  loader_.Publish();
  using Reenter = void(__stdcall*)(LPWSPSTARTUP);
  const auto reenter = reinterpret_cast<Reenter>(
      reinterpret_cast<void*>(GetProcAddress(loader_.TestProvider(), "TestProviderReenterOnce")));
  ASSERT_NE(reenter, nullptr);
  reenter(reinterpret_cast<LPWSPSTARTUP>(
      reinterpret_cast<void*>(GetProcAddress(loader_.Module(), "WSPStartup"))));

  // On a thread of its own: a start-up that waits for itself would never come back (and is
  // left behind).
  struct Opened {
    SocketLoader* loader;
    SOCKET tcp = INVALID_SOCKET, udp = INVALID_SOCKET;
  };
  auto* opened = new Opened{&loader_};
  const HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* parameter) -> DWORD {
        auto* o = static_cast<Opened*>(parameter);
        o->tcp = o->loader->Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        o->udp = o->loader->Open(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        return 0;
      },
      opened, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const DWORD waited = WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the start-up waits for itself";
  const SOCKET tcp = opened->tcp, udp = opened->udp;
  delete opened;
  ASSERT_NE(tcp, INVALID_SOCKET);
  ASSERT_NE(udp, INVALID_SOCKET);
  const std::string events = loader_.TakeEvents();
  EXPECT_NE(events.find("reentered 0"), std::string::npos) << events;
  EXPECT_NE(events.find("socket 1 as 2010"), std::string::npos) << events;  // the layer below
  EXPECT_NE(events.find("socket 2 as 1004"), std::string::npos) << events;
  ExpectRefused(tcp, kDestination);
  EXPECT_TRUE(server->WaitForRequests(1, 5000));
}

// Sockets made from a protocol description take their kind from it, and WSASendMsg's
// destination is a datagram's like send-to's.
TEST_F(BindLoaderWinTest, SocketsFromADescriptionAndSendMsgAreSteered) {
  const auto server = Serving(1);
  List(true, "");
  const SOCKET first = loader_.Open(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  WSAPROTOCOL_INFOW udp = loader_.Info(kTestUdpChainId);
  int error = 0;
  const SOCKET datagram = loader_.Table(first).lpWSPSocket(
      FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &udp, 0, 0, &error);
  ASSERT_NE(datagram, INVALID_SOCKET);
  EXPECT_EQ(loader_.SendTo(datagram, 0x08080808u, 53), 0);
  ASSERT_TRUE(server->WaitForRequests(1, 5000));

  sockaddr_in to = SocketAddress(0x04040808u, 53);  // 8.8.4.4
  char byte = 0;
  WSABUF buffer{1, &byte};
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(&to);
  message.namelen = sizeof(to);
  message.lpBuffers = &buffer;
  message.dwBufferCount = 1;
  DWORD sent = 0, returned = 0;
  WSASENDMSG send{&message, 0, &sent, nullptr, nullptr};
  loader_.Table(datagram).lpWSPIoctl(datagram, SIO_EXT_SENDMSG, &send, sizeof(send), nullptr, 0,
                                     &returned, nullptr, nullptr, nullptr, &error);
  ASSERT_TRUE(server->WaitForRequests(2, 5000));
  EXPECT_EQ(server->Requests()[1], (std::vector<uint8_t>{1, 8, 8, 4, 4}));
}

TEST_F(BindLoaderWinTest, UnsteeredProcessesReachTheLowerProviderUntouched) {
  const auto server = Serving(1);
  List(false, "");
  const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  WSPPROC_TABLE lower{};
  ASSERT_EQ(loader_.StartWith(kTestTcpBaseId, lower), 0);
  // Calls we do not steer are the lower provider's own entries.
  const WSPPROC_TABLE& table = loader_.Table(socket);
  EXPECT_EQ(table.lpWSPSend, lower.lpWSPSend);
  EXPECT_EQ(table.lpWSPBind, lower.lpWSPBind);
  loader_.TakeEvents();
  ExpectRefused(socket, kDestination);
  EXPECT_EQ(loader_.TakeEvents(), "connect 93.184.216.34:80 from none\n");

  // Listed, but the section is a squatter's: owned by a user, not the administrators.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE user[256];
  DWORD length = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof(user), &length));
  CloseHandle(token);
  wchar_t* sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
  Publish(server->ProcessId(), sid);
  LocalFree(sid);
  List(true, "");
  const SOCKET squatted = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  loader_.TakeEvents();
  ExpectRefused(squatted, kDestination);
  EXPECT_EQ(loader_.TakeEvents(), "connect 93.184.216.34:80 from none\n");

  // Listed, but the client's own process.
  Publish(GetCurrentProcessId());
  List(true, "ForceWSPBind=1\r\n");
  const SOCKET own = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  loader_.TakeEvents();
  ExpectRefused(own, kDestination);
  EXPECT_EQ(loader_.TakeEvents(), "connect 93.184.216.34:80 from none\n");
  EXPECT_TRUE(server->Requests().empty());
}

TEST_F(BindLoaderWinTest, StartUpLoadsTheNextProviderByFullPathOnlyAndServesALayerAbove) {
  WSPPROC_TABLE table{};
  // A layer above that starts us with our layered entry, a chain we are not in.
  ASSERT_EQ(loader_.StartWith(kTestLayerId, table), 0);
  EXPECT_EQ(loader_.TakeEvents(), "startup 1002\n");  // the base entry's own description
  int error = 0;
  WSAPROTOCOL_INFOW udp = loader_.Info(kTestUdpChainId);
  EXPECT_NE(table.lpWSPSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, &udp, 0, 0, &error),
            INVALID_SOCKET);
  EXPECT_EQ(loader_.TakeEvents(), "socket 2 as 1004\n");
  table.lpWSPCleanup(&error);
  loader_.TakeEvents();

  loader_.UseCatalog(SocketLoader::ChainGuids::kOwn, kTestProviderName);
  EXPECT_EQ(loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP, &error), INVALID_SOCKET);
  EXPECT_EQ(error, WSAEPROVIDERFAILEDINIT);
  EXPECT_EQ(loader_.TakeEvents(), "");
}

TEST_F(BindLoaderWinTest, AListedProcessAsksOncePerPublicDestinationAndRemembersRefusals) {
  {
    const auto server = Serving(1);
    List(true, "");
    const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ExpectRefused(socket, kDestination);
    ExpectRefused(socket, kDestination);  // remembered
    // Loopback, the home router, link-local: never asked for.
    for (const uint32_t local : {0x0100007Fu, 0x0101A8C0u, 0x0101FEA9u}) {
      ExpectRefused(socket, local);
    }
    EXPECT_EQ(server->Requests(), std::vector<std::vector<uint8_t>>{kDestinationRequest});
  }
  {
    const auto refusing = Serving(0);
    List(true, "");
    const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ExpectRefused(socket, kDestination);
    ExpectRefused(socket, kDestination);  // a refusal is remembered too
    // On a loaded machine the answer may come after the connect stopped waiting for it; the
    // request is then logged late, and a failure is remembered as a refusal is.
    EXPECT_TRUE(refusing->WaitForRequests(1, 5000));
    EXPECT_EQ(refusing->Requests().size(), 1u);
  }
  // No client listening: the call goes on.
  Publish(GetCurrentProcessId() + 1);
  List(true, "");
  const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  loader_.TakeEvents();
  ExpectRefused(socket, kDestination);
  EXPECT_EQ(loader_.TakeEvents(), "connect 93.184.216.34:80 from none\n");
}

TEST_F(BindLoaderWinTest, NonBlockingOverlappedAndDatagramCallsNeverWait) {
  {
  const auto server = Serving(1, /*hold=*/true);
  List(true, "");
  const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  u_long on = 1;
  DWORD returned = 0;
  int error = 0;
  ASSERT_EQ(loader_.Table(socket).lpWSPIoctl(socket, FIONBIO, &on, sizeof(on), nullptr, 0,
                                             &returned, nullptr, nullptr, nullptr, &error),
            0);
  const ULONGLONG started = GetTickCount64();
  ExpectRefused(socket, kDestination);
  const SOCKET datagram = loader_.Open(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  loader_.SendTo(datagram, 0x08080808u, 53);
  // A waiting call would have given up on the held reply only after two seconds.
  EXPECT_LT(GetTickCount64() - started, 1000u);
  // The requests still go out, and are answered only now.
  EXPECT_TRUE(server->WaitForRequests(2, 5000));
  server->Release();
  }

  // The program's own choice of asynchronous mode: a blocking connect does not wait either.
  const auto held = Serving(1, /*hold=*/true);
  List(true, "UseAsyncMode=1\r\n");
  const SOCKET blocking = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const ULONGLONG again = GetTickCount64();
  ExpectRefused(blocking, kDestination);
  EXPECT_LT(GetTickCount64() - again, 1000u);
  EXPECT_TRUE(held->WaitForRequests(1, 5000));
  held->Release();
}

TEST_F(BindLoaderWinTest, ForcedBindingBindsAnUnboundSocketOnlyOnceTheRouteIsGranted) {
  {
    const auto refusing = Serving(0);
    List(true, "ForceWSPBind=1\r\n");
    const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    loader_.TakeEvents();
    ExpectRefused(socket, kDestination);
    EXPECT_EQ(loader_.TakeEvents(), "connect 93.184.216.34:80 from none\n");
  }
  const auto server = Serving(1);
  List(true, "ForceWSPBind=1\r\n");
  const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  loader_.TakeEvents();
  ExpectRefused(socket, kDestination);
  EXPECT_EQ(loader_.TakeEvents(), "bind 10.8.0.6:0\nconnect 93.184.216.34:80 from 10.8.0.6:0\n");

  // One the program bound itself keeps its address.
  const SOCKET bound = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in own = SocketAddress(0, 5000);
  int error = 0;
  loader_.Table(bound).lpWSPBind(bound, reinterpret_cast<const sockaddr*>(&own), sizeof(own),
                                 &error);
  loader_.TakeEvents();
  ExpectRefused(bound, 0x04030201u);
  EXPECT_EQ(loader_.TakeEvents(), "connect 1.2.3.4:80 from 0.0.0.0:5000\n");
}

TEST_F(BindLoaderWinTest, ConnectExDualStackAndProtocolInfoAreOurs) {
  const auto server = Serving(1);
  List(true, "");
  const SOCKET socket = loader_.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const WSPPROC_TABLE& table = loader_.Table(socket);
  GUID id = WSAID_CONNECTEX;
  LPFN_CONNECTEX connectEx = nullptr;
  DWORD returned = 0;
  int error = 0;
  ASSERT_EQ(table.lpWSPIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id),
                             &connectEx, sizeof(connectEx), &returned, nullptr, nullptr, nullptr,
                             &error),
            0);
  ASSERT_NE(connectEx, nullptr);
  loader_.TakeEvents();
  const sockaddr_in to = SocketAddress(kDestination, 443);
  EXPECT_TRUE(connectEx(socket, reinterpret_cast<const sockaddr*>(&to), sizeof(to), nullptr, 0,
                        nullptr, nullptr));
  EXPECT_EQ(loader_.TakeEvents(), "connectex 93.184.216.34:443 from none\n");
  EXPECT_TRUE(server->WaitForRequests(1, 5000));

  // The program asking what its socket is hears of the chain it chose.
  WSAPROTOCOL_INFOW info{};
  int length = sizeof(info);
  ASSERT_EQ(table.lpWSPGetSockOpt(socket, SOL_SOCKET, SO_PROTOCOL_INFOW,
                                  reinterpret_cast<char*>(&info), &length, &error),
            0);
  EXPECT_EQ(info.dwCatalogEntryId, kTestTcpChainId);

  // An IPv6 socket connecting to an IPv4-mapped address is steered like an IPv4 one; a pure
  // IPv6 destination is left alone.
  const SOCKET dual = loader_.Open(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(dual, INVALID_SOCKET);
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = htons(80);
  mapped.sin6_addr.s6_addr[10] = mapped.sin6_addr.s6_addr[11] = 0xFF;
  const uint32_t other = 0x01020304u;  // 4.3.2.1
  std::memcpy(&mapped.sin6_addr.s6_addr[12], &other, 4);
  loader_.Table(dual).lpWSPConnect(dual, reinterpret_cast<const sockaddr*>(&mapped),
                                   sizeof(mapped), nullptr, nullptr, nullptr, nullptr, &error);
  mapped.sin6_addr.s6_addr[0] = 0x20;
  loader_.Table(dual).lpWSPConnect(dual, reinterpret_cast<const sockaddr*>(&mapped),
                                   sizeof(mapped), nullptr, nullptr, nullptr, nullptr, &error);
  EXPECT_TRUE(server->WaitForRequests(2, 5000));
  const auto requests = server->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1], (std::vector<uint8_t>{1, 4, 3, 2, 1}));
}

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
  const HMODULE module = LoadLibraryW((ProgramFolder() + kBindModuleName).c_str());
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
