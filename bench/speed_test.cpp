// Wall time of a speed test over 25 servers that never answer: every echo waits its full second
// and the time service stays silent, so each server costs two seconds of echo work spread over
// five workers (10 s in all) while the NTP worker times them out five at a time alongside. A
// short run tests 5 servers (2 s).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "base/socket.h"
#include "bench_count.h"
#include "policy/speed_test.h"

namespace {

class SilentEcho : public EchoProbe {
 public:
  bool SendEcho(uint32_t, const std::vector<uint8_t>&, uint32_t timeoutMs, EchoReply&) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return false;
  }
};

class Finished : public MessageTarget {
 public:
  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    if (lParam == kSpeedTesting) return true;
    std::lock_guard<std::mutex> hold(mutex_);
    if (lParam != kSpeedNoAnswer) ++answered_;
    done_.insert({message, static_cast<int32_t>(wParam)});
    changed_.notify_all();
    return true;
  }
  void WaitFor(size_t results) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return done_.size() >= results; });
  }
  int answered() {
    std::lock_guard<std::mutex> hold(mutex_);
    return answered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::pair<uint32_t, int32_t>> done_;
  int answered_ = 0;
};

// A local port nobody listens on: the time-service requests go nowhere.
uint16_t SilentPort() {
  SocketHandle socket = OpenUdpSocket();
  uint16_t port = 0;
  BindIpv4(socket, ParseIpv4OrNone("127.0.0.1"), 0, &port);
  CloseSocket(socket);
  return port;
}

void BM_SpeedTestAllTimeOut(benchmark::State& state) {
  const int kServers = BenchCount(25, 5);
  const uint16_t port = SilentPort();
  for (auto _ : state) {
    Finished finished;
    SpeedTest test(finished, [] { return std::make_unique<SilentEcho>(); }, SystemTickClock(),
                   SpeedTest::Options{port, 100});
    std::vector<SpeedProbeTarget> targets;
    for (int id = 1; id <= kServers; ++id) targets.push_back({id, L"127.0.0.1"});
    test.ReplaceQueues(targets, targets);
    const auto start = std::chrono::steady_clock::now();
    test.Start();
    finished.WaitFor(2 * kServers);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    test.Stop();
    state.SetIterationTime(seconds);
    state.counters["answered"] = finished.answered();
    state.counters["wall_s"] = seconds;
  }
}
BENCHMARK(BM_SpeedTestAllTimeOut)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// How long Stop (OK or Cancel of the policy dialog) takes while all five echo workers sit in name
// lookups that would take ten seconds: the target is under 200 ms.
void BM_StopDuringHangingLookups(benchmark::State& state) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto entered = std::make_shared<std::atomic<int>>(0);
  SpeedTest::Options options{SilentPort(), 100};
  options.resolve = [release, entered](const std::string&, uint32_t*) {
    ++*entered;
    for (int i = 0; i < 1000 && !*release; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  for (auto _ : state) {
    Finished finished;
    SpeedTest test(finished, [] { return std::make_unique<SilentEcho>(); }, SystemTickClock(),
                   options);
    std::vector<SpeedProbeTarget> targets;
    for (int id = 1; id <= 5; ++id) targets.push_back({id, L"hangs.example"});
    *entered = 0;
    test.ReplaceQueues(targets, {});
    test.Start();
    while (*entered < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = std::chrono::steady_clock::now();
    test.Stop();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["stop_ms"] = seconds * 1000;
  }
  *release = true;
}
BENCHMARK(BM_StopDuringHangingLookups)
    ->Iterations(BenchCount(3, 1))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
