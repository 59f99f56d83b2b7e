// Load on the route-request pipe, under Wine or Windows: 62 clients at once, each sending
// 2,000 requests over its one connection for 1,000 distinct addresses, against the real pipe
// server granting host routes through a route table fake, as the engine does (one route per
// address, a repeated address answered from the routes it has). The same load then runs against
// a minimal overlapped echo server on its own pipe, as the yardstick for the server's own cost.
// The clients are let go together and connect then, so none holds a connection idle while the
// others come (the server drops one that asks nothing for three seconds).
//
// Prints requests per second and the 99th-percentile reply time of both and the route server's
// time relative to the echo server's (goal: at most 1.2x); checks that every reply was correct
// and that the table holds exactly 1,000 routes, and exits non-zero when not.
// Arguments: clients and requests per client; KAVRIN_BENCH_SHORT: 62 x 40 (every address still
// asked for).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "bench_count.h"
#include "fakes/fake_route_table.h"
#include "vpn/route_request_pipe_server_win.h"

namespace {

int kClients = 62;
int kRequestsPerClient = BenchCount(2000, 40);
constexpr int kDistinctAddresses = 1000;
constexpr wchar_t kEchoPipeName[] = L"\\\\.\\pipe\\KavrinBenchEcho";

// 93.184.x.y, all distinct and public: the server grants only what the module would steer.
uint32_t PoolAddress(int n) {
  return 93u | (184u << 8) | (uint32_t(n / 250 + 1) << 16) | (uint32_t(n % 250 + 1) << 24);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

HANDLE OpenPipe(const wchar_t* name) {
  for (int attempt = 0; attempt < 2000; ++attempt) {
    HANDLE pipe =
        CreateFileW(name, kRouteRequestClientAccess, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
      return pipe;
    }
    if (GetLastError() == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(name, 100);
    } else {
      Sleep(5);
    }
  }
  return INVALID_HANDLE_VALUE;
}

struct RunResult {
  double seconds = 0;
  double p99Ms = 0;
  long wrongReplies = 0;
  long failedClients = 0;
};

RunResult RunClients(const wchar_t* pipeName) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<std::vector<float>> latencies(kClients);
  std::atomic<long> wrong{0};
  std::atomic<long> failed{0};
  std::atomic<int> ready{0};
  const HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      ++ready;
      WaitForSingleObject(go, INFINITE);
      HANDLE pipe = OpenPipe(pipeName);
      if (pipe == INVALID_HANDLE_VALUE) {
        ++failed;
        return;
      }
      latencies[c].reserve(kRequestsPerClient);
      for (int n = 0; n < kRequestsPerClient; ++n) {
        // At any moment the clients ask for different addresses; together they ask for each.
        const auto request = BuildRouteRequest(PoolAddress((c + n * kClients) % kDistinctAddresses));
        uint8_t reply[8] = {};
        DWORD written = 0;
        DWORD read = 0;
        LARGE_INTEGER sent;
        LARGE_INTEGER answered;
        QueryPerformanceCounter(&sent);
        const bool ok = WriteFile(pipe, request.data(), DWORD(request.size()), &written, nullptr) &&
                        ReadFile(pipe, reply, sizeof(reply), &read, nullptr);
        QueryPerformanceCounter(&answered);
        if (!ok) {
          ++failed;
          break;
        }
        if (read != 1 || reply[0] != kRouteReplyRouted) ++wrong;
        latencies[c].push_back(float(Seconds(sent, answered, frequency) * 1000.0));
      }
      CloseHandle(pipe);
    });
  }
  while (ready < kClients) Sleep(1);
  LARGE_INTEGER started;
  LARGE_INTEGER ended;
  QueryPerformanceCounter(&started);
  SetEvent(go);
  for (std::thread& client : clients) client.join();
  QueryPerformanceCounter(&ended);
  CloseHandle(go);

  std::vector<float> all;
  for (const auto& each : latencies) all.insert(all.end(), each.begin(), each.end());
  RunResult result;
  result.seconds = Seconds(started, ended, frequency);
  result.wrongReplies = wrong;
  result.failedClients = failed;
  if (!all.empty()) {
    const size_t at = std::min(all.size() - 1, all.size() * 99 / 100);
    std::nth_element(all.begin(), all.begin() + long(at), all.end());
    result.p99Ms = all[at];
  }
  return result;
}

// The smallest server of the same shape: one thread, one overlapped instance per client, every
// message answered with the byte 1.
class EchoServer {
 public:
  EchoServer() {
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
  }
  ~EchoServer() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
  }

 private:
  struct Instance {
    OVERLAPPED overlapped{};
    HANDLE pipe = INVALID_HANDLE_VALUE;
    uint8_t buffer[4096];
    uint8_t reply = 1;
    bool reading = false;  // the I/O under way is a read (else a connect or a write)
    bool pending = false;
  };

  void Run() {
    std::vector<Instance> instances(kClients);
    std::vector<HANDLE> events = {stop_};
    for (Instance& instance : instances) {
      instance.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      instance.pipe = CreateNamedPipeW(kEchoPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 5000, nullptr);
      Issued(instance, ConnectNamedPipe(instance.pipe, &instance.overlapped));
      events.push_back(instance.overlapped.hEvent);
    }
    for (;;) {
      const DWORD index =
          WaitForMultipleObjects(DWORD(events.size()), events.data(), FALSE, INFINITE) -
          WAIT_OBJECT_0;
      if (index == 0 || index >= events.size()) break;
      Instance& instance = instances[index - 1];
      DWORD transferred = 0;
      instance.pending = false;
      if (!GetOverlappedResult(instance.pipe, &instance.overlapped, &transferred, FALSE)) {
        ResetEvent(instance.overlapped.hEvent);  // the client left
        continue;
      }
      instance.reading = !instance.reading;
      if (instance.reading) {
        Issued(instance, ReadFile(instance.pipe, instance.buffer, sizeof(instance.buffer), nullptr,
                                  &instance.overlapped));
      } else {
        Issued(instance,
               WriteFile(instance.pipe, &instance.reply, 1, nullptr, &instance.overlapped));
      }
    }
    for (Instance& instance : instances) {
      if (instance.pending) {
        CancelIo(instance.pipe);
        DWORD ignored = 0;
        GetOverlappedResult(instance.pipe, &instance.overlapped, &ignored, TRUE);
      }
      CloseHandle(instance.pipe);
      CloseHandle(instance.overlapped.hEvent);
    }
  }

  // Completed at once, the event is set and the next wait takes it; pending, the completion
  // sets it; failed, the instance is done.
  static void Issued(Instance& instance, BOOL completed) {
    if (completed) {
      SetEvent(instance.overlapped.hEvent);
      return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      instance.pending = true;
    } else if (error == ERROR_PIPE_CONNECTED) {
      SetEvent(instance.overlapped.hEvent);
    } else {
      ResetEvent(instance.overlapped.hEvent);
    }
  }

  HANDLE stop_;
  std::thread thread_;
};

void Print(const char* name, const RunResult& run) {
  const double requests = double(kClients) * kRequestsPerClient;
  std::printf("%-12s %10.0f requests/s  p99 %.3f ms  (%.2f s)\n", name, requests / run.seconds,
              run.p99Ms, run.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3) {
    kClients = std::atoi(argv[1]);
    kRequestsPerClient = std::atoi(argv[2]);
  }
  FakeRouteTable table;
  CVpnRouteRequestPipeServer server(table, SystemTickClock());
  RouteRow tunnel{};
  tunnel.nextHop = PoolAddress(0);
  tunnel.interfaceIndex = 23;
  std::mutex grantMutex;
  std::set<uint32_t> granted;
  server.grantHostRoute = [&](uint32_t address) {
    std::lock_guard lock(grantMutex);
    if (granted.contains(address)) return true;
    RouteRow host = tunnel;
    host.destination = address;
    host.mask = 0xFFFFFFFFu;
    if (table.CreateRow(host) != 0) return false;
    granted.insert(address);
    return true;
  };
  if (!server.Start(tunnel)) {
    std::printf("FAIL: the server did not start\n");
    return 1;
  }
  const RunResult served = RunClients(kRouteRequestPipeName);
  server.Stop();

  RunResult echoed;
  {
    EchoServer echo;
    echoed = RunClients(kEchoPipeName);
  }

  std::printf("%d clients x %d requests, %d distinct addresses\n", kClients, kRequestsPerClient,
              kDistinctAddresses);
  Print("route server", served);
  Print("echo server", echoed);
  const double ratio = served.seconds / echoed.seconds;
  std::printf("route server takes %.2fx the echo server's time (goal: at most 1.2x)\n", ratio);

  bool good = true;
  if (served.wrongReplies != 0 || served.failedClients != 0) {
    std::printf("FAIL: %ld wrong replies, %ld failed clients\n", served.wrongReplies,
                served.failedClients);
    good = false;
  } else {
    std::printf("every reply correct\n");
  }
  std::set<uint32_t> routes;
  for (const RouteRow& row : table.createCalls) routes.insert(row.destination);
  const size_t creates = table.createCalls.size();
  if (routes.size() != kDistinctAddresses || creates != kDistinctAddresses) {
    std::printf("FAIL: the table holds %zu routes from %zu creations, not %d\n", routes.size(),
                creates, kDistinctAddresses);
    good = false;
  } else {
    std::printf("the table holds exactly %d routes\n", kDistinctAddresses);
  }
  if (echoed.wrongReplies != 0 || echoed.failedClients != 0) {
    std::printf("note: the echo yardstick lost %ld replies\n",
                echoed.wrongReplies + echoed.failedClients);
  }
  return good ? 0 : 1;
}
