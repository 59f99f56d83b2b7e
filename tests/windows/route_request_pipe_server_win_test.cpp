// The route-request server on its real named pipe, over a route table that only records.
#include "vpn/route_request_pipe_server_win.h"

#include <aclapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_route_table.h"

namespace {

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t{a} | (uint32_t{b} << 8) | (uint32_t{c} << 16) | (uint32_t{d} << 24);
}

class SettableClock : public TickClock {
 public:
  uint32_t Ticks() override { return now; }
  void Sleep(uint32_t) override {}
  std::atomic<uint32_t> now{1000};
};

// One client connection in message mode.
class Client {
 public:
  Client() {
    handle_ = CreateFileW(kRouteRequestPipeName, kRouteRequestClientAccess, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    error_ = handle_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (handle_ != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      SetNamedPipeHandleState(handle_, &mode, nullptr, nullptr);
    }
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD error() const { return error_; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  // The reply bytes to one message; empty when the exchange failed.
  std::vector<uint8_t> Exchange(const std::vector<uint8_t>& message) {
    DWORD written = 0;
    if (!WriteFile(handle_, message.data(), static_cast<DWORD>(message.size()), &written,
                   nullptr)) {
      return {};
    }
    uint8_t reply[16] = {};
    DWORD read = 0;
    if (!ReadFile(handle_, reply, sizeof(reply), &read, nullptr)) return {};
    return std::vector<uint8_t>(reply, reply + read);
  }
  std::vector<uint8_t> Ask(uint32_t address) {
    const auto request = BuildRouteRequest(address);
    return Exchange(std::vector<uint8_t>(request.begin(), request.end()));
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD error_ = 0;
};

// A free instance may take a moment to appear after the previous client took one.
std::unique_ptr<Client> Connect() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    auto client = std::make_unique<Client>();
    if (client->connected()) return client;
    if (client->error() == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(kRouteRequestPipeName, 200);
    } else {
      Sleep(20);
    }
  }
  return std::make_unique<Client>();
}

// The server thread creates its first instance a moment after Start returns.
bool WaitForListener() {
  for (int attempt = 0; attempt < 250; ++attempt) {
    if (WaitNamedPipeW(kRouteRequestPipeName, 100)) return true;
    Sleep(20);
  }
  return false;
}

const std::vector<uint8_t> kRouted = {1};
const std::vector<uint8_t> kNoRoute = {0};

class RouteRequestPipeServerTest : public ::testing::Test {
 protected:
  RouteRequestPipeServerTest() {
    tunnel_.nextHop = Ip(10, 8, 0, 6);
    tunnel_.interfaceIndex = 23;
    tunnel_.type = 3;
    tunnel_.protocol = 3;
    tunnel_.metric1 = 2;
    tunnel_.metric2 = tunnel_.metric3 = tunnel_.metric4 = tunnel_.metric5 = 0xFFFFFFFFu;
    // Grants as the engine does: one host route per address through the tunnel.
    server_.grantHostRoute = [this](uint32_t address) {
      std::lock_guard lock(grantMutex_);
      if (granted_.contains(address)) return true;
      RouteRow row = tunnel_;
      row.destination = address;
      row.mask = 0xFFFFFFFFu;
      if (table_.CreateRow(row) != 0) return false;
      granted_.insert(address);
      return true;
    };
  }

  std::mutex grantMutex_;
  std::set<uint32_t> granted_;
  FakeRouteTable table_;
  SettableClock clock_;
  RouteRow tunnel_{};
  CVpnRouteRequestPipeServer server_{table_, clock_};
};

TEST_F(RouteRequestPipeServerTest, ARequestGetsOneHostRouteThroughTheTunnel) {
  ASSERT_TRUE(server_.Start(tunnel_));
  auto client = Connect();
  ASSERT_TRUE(client->connected()) << client->error();
  EXPECT_EQ(client->Exchange({0x01, 93, 184, 216, 0x05}), kRouted);
  EXPECT_EQ(client->Exchange({0x01, 93, 184, 216, 0x05}), kRouted);
  client->Close();
  // Later connections reuse the instances the earlier ones left.
  for (int n = 0; n < 10; ++n) {
    auto again = Connect();
    ASSERT_TRUE(again->connected());
    EXPECT_EQ(again->Ask(Ip(93, 184, 216, 5)), kRouted);
  }
  server_.Stop();

  RouteRow expected = tunnel_;
  expected.destination = Ip(93, 184, 216, 5);
  expected.mask = 0xFFFFFFFFu;
  EXPECT_EQ(table_.created(), std::vector<RouteRow>{expected});
}

// Each gets its 0; a connection that keeps sending what the module never sends is dropped, so
// one process cannot hold instance after instance by writing junk.
TEST_F(RouteRequestPipeServerTest, MalformedMessagesAreAnsweredZeroAndTheirSenderDropped) {
  ASSERT_TRUE(server_.Start(tunnel_));
  auto client = Connect();
  ASSERT_TRUE(client->connected());
  EXPECT_EQ(client->Exchange({0x01, 93, 184, 216}), kNoRoute);
  EXPECT_EQ(client->Exchange({0x02, 93, 184, 216, 0x05}), kNoRoute);
  EXPECT_EQ(client->Ask(Ip(93, 184, 216, 9)), kRouted);
  // Longer than the server's buffer: read to its end and refused as a whole.
  std::vector<uint8_t> oversized(10000, 0x01);
  EXPECT_EQ(client->Exchange(oversized), kNoRoute);
  EXPECT_TRUE(client->Ask(Ip(93, 184, 216, 10)).empty());

  // Asking for what is never steered counts alike; an empty message too.
  auto local = Connect();
  ASSERT_TRUE(local->connected());
  EXPECT_EQ(local->Ask(Ip(192, 168, 1, 1)), kNoRoute);
  EXPECT_EQ(local->Exchange({}), kNoRoute);
  EXPECT_EQ(local->Ask(Ip(10, 0, 0, 53)), kNoRoute);
  EXPECT_TRUE(local->Ask(Ip(93, 184, 216, 10)).empty());

  auto fresh = Connect();
  ASSERT_TRUE(fresh->connected());
  EXPECT_EQ(fresh->Ask(Ip(93, 184, 216, 9)), kRouted);
  server_.Stop();
  EXPECT_EQ(table_.installedDestinations(), std::vector<uint32_t>{Ip(93, 184, 216, 9)});
}

TEST_F(RouteRequestPipeServerTest, AddressesThatMustStayOutOfTheTunnelAreRefused) {
  server_.tunnelServerLookup = [] { return Ip(203, 0, 113, 9); };
  server_.LearnTunnelServer();
  ASSERT_TRUE(server_.Start(tunnel_));
  for (const uint32_t address : {Ip(203, 0, 113, 9), Ip(127, 0, 0, 1), Ip(224, 0, 0, 251),
                                 Ip(255, 255, 255, 255), 0u, Ip(169, 254, 1, 1)}) {
    auto client = Connect();
    ASSERT_TRUE(client->connected());
    EXPECT_EQ(client->Ask(address), kNoRoute) << std::hex << address;
  }
  server_.Stop();
  EXPECT_TRUE(table_.created().empty());
}

TEST_F(RouteRequestPipeServerTest, ARequestAfterTheServersReadIsPendingIsAnsweredAlike) {
  ASSERT_TRUE(server_.Start(tunnel_));
  auto late = Connect();
  ASSERT_TRUE(late->connected());
  // By now the server has asked for the request and waits for it.
  Sleep(300);
  EXPECT_EQ(late->Ask(Ip(93, 184, 216, 11)), kRouted);
  auto early = Connect();
  ASSERT_TRUE(early->connected());
  EXPECT_EQ(early->Ask(Ip(93, 184, 216, 11)), kRouted);
  server_.Stop();
  EXPECT_EQ(table_.installedDestinations(), std::vector<uint32_t>{Ip(93, 184, 216, 11)});
}

TEST_F(RouteRequestPipeServerTest, SixtyTwoClientsAreServedAtOnceAndTheNextWaitsForAFreeOne) {
  ASSERT_TRUE(server_.Start(tunnel_));
  std::vector<std::unique_ptr<Client>> clients;
  for (int n = 0; n < 62; ++n) {
    clients.push_back(Connect());
    ASSERT_TRUE(clients.back()->connected()) << "client " << n << ": " << clients.back()->error();
  }
  for (size_t n = 0; n < clients.size(); ++n) {
    EXPECT_EQ(clients[n]->Ask(Ip(93, 185, 0, static_cast<uint8_t>(n + 1))), kRouted) << n;
  }

  Client refused;
  EXPECT_FALSE(refused.connected());
  EXPECT_EQ(refused.error(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  EXPECT_FALSE(WaitNamedPipeW(kRouteRequestPipeName, 300));

  clients[17]->Close();
  ASSERT_TRUE(WaitNamedPipeW(kRouteRequestPipeName, 5000));
  auto next = Connect();
  ASSERT_TRUE(next->connected()) << next->error();
  EXPECT_EQ(next->Ask(Ip(93, 186, 0, 1)), kRouted);
  // The others are still served.
  EXPECT_EQ(clients[61]->Ask(Ip(93, 186, 0, 2)), kRouted);
  server_.Stop();
  EXPECT_EQ(table_.created().size(), 64u);
}

TEST_F(RouteRequestPipeServerTest, StopClosesEveryConnectionAndARestartKeepsTheRoutes) {
  ASSERT_TRUE(server_.Start(tunnel_));
  EXPECT_FALSE(server_.Start(tunnel_));
  auto client = Connect();
  ASSERT_TRUE(client->connected());
  EXPECT_EQ(client->Ask(Ip(93, 184, 216, 5)), kRouted);
  auto waiting = Connect();  // its read is pending when the server stops
  ASSERT_TRUE(waiting->connected());
  server_.Stop();
  EXPECT_TRUE(client->Ask(Ip(93, 184, 216, 6)).empty());
  EXPECT_EQ(server_.instances.size(), 0u);
  EXPECT_EQ(server_.events.size(), 1u);
  EXPECT_EQ(granted_.count(Ip(93, 184, 216, 5)), 1u);
  Client gone;
  EXPECT_EQ(gone.error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ASSERT_TRUE(server_.Start(tunnel_));
  auto again = Connect();
  ASSERT_TRUE(again->connected());
  EXPECT_EQ(again->Ask(Ip(93, 184, 216, 5)), kRouted);
  server_.Stop();
  EXPECT_EQ(table_.created().size(), 1u);
}

// The module asks only a pipe whose server is the published client (GetNamedPipeServerProcessId):
// a process that took the name is told nothing.
TEST_F(RouteRequestPipeServerTest, TheBindingModuleAsksOnlyThePublishedClientsPipe) {
  const HMODULE module = LoadLibraryW(L"KavrinBind.dll");
  ASSERT_NE(module, nullptr);
  using RequestRoute = DWORD(__stdcall*)(DWORD, BYTE*);
  using Start = BOOL(__stdcall*)(DWORD, DWORD);
  using Stop = BOOL(__stdcall*)();
  const auto request = reinterpret_cast<RequestRoute>(
      reinterpret_cast<void*>(GetProcAddress(module, "VpnBindRequestRoute")));
  const auto publish =
      reinterpret_cast<Start>(reinterpret_cast<void*>(GetProcAddress(module, "VpnBindStart")));
  const auto withdraw =
      reinterpret_cast<Stop>(reinterpret_cast<void*>(GetProcAddress(module, "VpnBindStop")));
  ASSERT_TRUE(request && publish && withdraw);

  BYTE reply = 7;
  EXPECT_EQ(request(Ip(93, 184, 216, 5), &reply), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(reply, 0);

  ASSERT_TRUE(server_.Start(tunnel_));
  ASSERT_TRUE(WaitForListener());
  EXPECT_EQ(request(Ip(93, 184, 216, 4), &reply), static_cast<DWORD>(ERROR_ACCESS_DENIED))
      << "nobody published this process as the client";
  EXPECT_EQ(reply, 0);

  publish(8, Ip(10, 8, 0, 6));
  EXPECT_EQ(request(Ip(93, 184, 216, 5), &reply), 0u);
  EXPECT_EQ(reply, 1);
  EXPECT_EQ(request(Ip(127, 0, 0, 1), &reply), 0u);
  EXPECT_EQ(reply, 0);
  withdraw();
  server_.Stop();
  EXPECT_EQ(table_.installedDestinations(), std::vector<uint32_t>{Ip(93, 184, 216, 5)});
}

// CreateNamedPipe (Microsoft Learn): with FILE_FLAG_FIRST_PIPE_INSTANCE the call fails with
// ERROR_ACCESS_DENIED when the pipe exists. Wine ignores the flag, so the rule is added here.
class WindowsPipeRules : public CVpnRouteRequestPipeServer {
 public:
  using CVpnRouteRequestPipeServer::CVpnRouteRequestPipeServer;
  ~WindowsPipeRules() override { Stop(); }

 protected:
  HANDLE CreateNamedPipeInstance(const wchar_t* name, DWORD openMode, DWORD pipeMode,
                                 SECURITY_ATTRIBUTES* attributes) override {
    if ((openMode & FILE_FLAG_FIRST_PIPE_INSTANCE) &&
        (WaitNamedPipeW(name, 1) || GetLastError() == ERROR_SEM_TIMEOUT)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    return CVpnRouteRequestPipeServer::CreateNamedPipeInstance(name, openMode, pipeMode,
                                                               attributes);
  }
};

// Whoever holds the name first is not served beside: the start fails.
TEST_F(RouteRequestPipeServerTest, ANameSomeoneHoldsFirstFailsTheStart) {
  WindowsPipeRules server(table_, clock_);
  server.grantHostRoute = server_.grantHostRoute;
  const HANDLE squatter = CreateNamedPipeW(
      kRouteRequestPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
      PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(server.Start(tunnel_));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(server.IsRunning());
  CloseHandle(squatter);
  ASSERT_TRUE(server.Start(tunnel_));
  auto client = Connect();
  ASSERT_TRUE(client->connected());
  EXPECT_EQ(client->Ask(Ip(93, 184, 216, 5)), kRouted);
  server.Stop();
}

// What the pipe's descriptor lets others do: exchange messages, never create instances of it or
// change its security (as an administrator this test could do either, so the list is read).
TEST_F(RouteRequestPipeServerTest, EveryoneMayExchangeMessagesButOnlyAdministratorsChangeThePipe) {
  ASSERT_TRUE(server_.Start(tunnel_));
  ASSERT_TRUE(WaitForListener());
  const HANDLE pipe = CreateFileW(kRouteRequestPipeName, READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                                  0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr) << "no access list lets everyone do everything";
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  ACCESS_MASK others = 0;
  bool everyoneReads = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID sid = &allowed->SidStart;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) {
      continue;
    }
    others |= allowed->Mask;
    if (IsWellKnownSid(sid, WinWorldSid)) everyoneReads = (allowed->Mask & 0x3) == 0x3;
  }
  EXPECT_TRUE(everyoneReads);
  constexpr ACCESS_MASK kCreatePipeInstance = 0x0004;
  EXPECT_EQ(others & (WRITE_DAC | WRITE_OWNER | kCreatePipeInstance | GENERIC_ALL | GENERIC_WRITE),
            0u);
  LocalFree(descriptor);
  CloseHandle(pipe);
  server_.Stop();
}

TEST_F(RouteRequestPipeServerTest, AConnectionThatAsksNothingForThreeSecondsIsDropped) {
  ASSERT_TRUE(server_.Start(tunnel_));
  auto quiet = Connect();
  auto busy = Connect();
  ASSERT_TRUE(quiet->connected() && busy->connected());
  EXPECT_EQ(quiet->Ask(Ip(93, 184, 216, 1)), kRouted);
  clock_.now += 2000;
  EXPECT_EQ(busy->Ask(Ip(93, 184, 216, 2)), kRouted);
  clock_.now += 1500;  // the quiet one has been idle 3.5 s, the busy one 1.5 s
  Sleep(3 * CVpnRouteRequestPipeServer::kIdleCheckMs);
  EXPECT_TRUE(quiet->Ask(Ip(93, 184, 216, 3)).empty());
  EXPECT_EQ(busy->Ask(Ip(93, 184, 216, 4)), kRouted);
  server_.Stop();
}

// The engine's worker may take seconds to grant: a request that arrived meanwhile is answered,
// not dropped for the time it waited on us.
TEST_F(RouteRequestPipeServerTest, ARequestWaitingBehindASlowGrantIsNotIdle) {
  const HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const auto grant = server_.grantHostRoute;
  server_.grantHostRoute = [&](uint32_t address) {
    if (address == Ip(93, 184, 216, 1)) {
      SetEvent(entered);
      WaitForSingleObject(release, 10'000);
      clock_.now += 4000;
    }
    return grant(address);
  };
  ASSERT_TRUE(server_.Start(tunnel_));
  auto slow = Connect();
  auto waiting = Connect();
  ASSERT_EQ(waiting->Ask(Ip(93, 184, 216, 2)), kRouted);
  std::vector<uint8_t> slowReply, waitingReply;
  std::thread first([&] { slowReply = slow->Ask(Ip(93, 184, 216, 1)); });
  EXPECT_EQ(WaitForSingleObject(entered, 10'000), WAIT_OBJECT_0);
  std::thread second([&] { waitingReply = waiting->Ask(Ip(93, 184, 216, 3)); });
  Sleep(300);  // its request is in the pipe
  SetEvent(release);
  first.join();
  second.join();
  EXPECT_EQ(slowReply, kRouted);
  EXPECT_EQ(waitingReply, kRouted);
  server_.Stop();
  CloseHandle(entered);
  CloseHandle(release);
}

TEST(LowIntegrityLabelTest, AMissingFileIsReportedAsNotFound) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring missing = std::wstring(temp) + L"kavrin-no-such-file.ini";
  DeleteFileW(missing.c_str());
  EXPECT_EQ(SetLowIntegrityLabel(missing), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
