#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "base/socket.h"
#include "fakes/fake_echo_probe.h"
#include "policy/speed_test.h"

namespace {

using namespace std::chrono_literals;

uint32_t Ip(const char* text) { return ParseIpv4OrNone(text); }

FakeEchoNetwork::Answer Replies(uint32_t roundTripMs) {
  FakeEchoNetwork::Answer answer;
  answer.roundTripMs = roundTripMs;
  return answer;
}

// Every posted value per (message, server id), in order.
class Reports : public MessageTarget {
 public:
  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> hold(mutex_);
    values_[{message, static_cast<int32_t>(wParam)}].push_back(static_cast<int32_t>(lParam));
    ++count_;
    changed_.notify_all();
    return true;
  }
  // Waits until every listed server has a final value for both probes.
  bool WaitForResults(const std::vector<int32_t>& ids, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, limit, [&] {
      for (int32_t id : ids) {
        for (uint32_t message : {kEchoSpeedMessage, kNtpSpeedMessage}) {
          const auto found = values_.find({message, id});
          if (found == values_.end() || found->second.size() < 2) return false;
        }
      }
      return true;
    });
  }
  bool WaitForCount(int count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, limit, [&] { return count_ >= count; });
  }
  std::vector<int32_t> Values(uint32_t message, int32_t id) {
    std::lock_guard<std::mutex> hold(mutex_);
    return values_[{message, id}];
  }
  int count() {
    std::lock_guard<std::mutex> hold(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::pair<uint32_t, int32_t>, std::vector<int32_t>> values_;
  int count_ = 0;
};

// A time service on one loopback address: answers each request with 48 bytes, after a delay,
// from its own address or from another one.
class NtpResponder {
 public:
  NtpResponder(const char* address, uint16_t port, uint32_t delayMs = 0,
               const char* replyFrom = nullptr)
      : delayMs_(delayMs) {
    socket_ = OpenUdpSocket();
    ok_ = socket_ != kNoSocket && BindIpv4(socket_, Ip(address), port, &port_);
    if (replyFrom) {
      replySocket_ = OpenUdpSocket();
      ok_ = ok_ && BindIpv4(replySocket_, Ip(replyFrom), 0, nullptr);
    }
    if (ok_) thread_ = std::thread([this] { Serve(); });
  }
  ~NtpResponder() {
    stop_ = true;
    AbortSocket(socket_);
    if (thread_.joinable()) thread_.join();
    ReleaseAbortedSocket(socket_);
    CloseSocket(replySocket_);
  }
  bool ok() const { return ok_; }
  uint16_t port() const { return port_; }
  int requests() const { return requests_.load(); }

 private:
  void Serve() {
    char buffer[512];
    while (!stop_) {
      if (WaitReadableFor(socket_, 50) <= 0) continue;
      uint32_t from = 0;
      uint16_t fromPort = 0;
      const long got = ReceiveFromIpv4(socket_, buffer, sizeof buffer, &from, &fromPort);
      if (got != 48 || buffer[0] != 0x1B) continue;
      ++requests_;
      if (delayMs_) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
      char answer[48] = {0x1C};
      SendToIpv4(replySocket_ != kNoSocket ? replySocket_ : socket_, answer, sizeof answer, from,
                 fromPort);
    }
  }

  SocketHandle socket_ = kNoSocket;
  SocketHandle replySocket_ = kNoSocket;
  uint16_t port_ = 0;
  uint32_t delayMs_;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

}  // namespace

TEST(EchoProbeTest, AnAttemptCountsOnlyWithStatusZeroAndTheExactBody) {
  FakeEchoNetwork network;
  auto probe = network.Factory()();
  const auto always = [] { return true; };

  network.Set(Ip("10.0.0.1"), Replies(20));
  network.Set(Ip("10.0.0.1"), Replies(41));
  EXPECT_EQ(EchoTwice(probe.get(), L"10.0.0.1", always), 30) << "average, integer division";

  FakeEchoNetwork::Answer wrongBody = Replies(5);
  wrongBody.body.assign(32, 0x46);
  network.Set(Ip("10.0.0.2"), wrongBody);
  EXPECT_EQ(EchoTwice(probe.get(), L"10.0.0.2", always), -1);
  EXPECT_EQ(network.Echoes(Ip("10.0.0.2")), 2) << "the second attempt runs after a failed first";

  FakeEchoNetwork::Answer shortBody = Replies(5);
  shortBody.body.assign(31, 0x45);
  network.Set(Ip("10.0.0.3"), shortBody);
  network.Set(Ip("10.0.0.3"), Replies(70));
  EXPECT_EQ(EchoTwice(probe.get(), L"10.0.0.3", always), 70) << "only the good attempt counts";

  FakeEchoNetwork::Answer unreachable = Replies(5);
  unreachable.status = 11003;
  network.Set(Ip("10.0.0.4"), unreachable);
  EXPECT_EQ(EchoTwice(probe.get(), L"10.0.0.4", always), -1);

  // Stopped between attempts: the first attempt's result is all there is.
  network.Set(Ip("10.0.0.5"), Replies(15));
  EXPECT_EQ(EchoTwice(probe.get(), L"10.0.0.5", [] { return false; }), 15);
  EXPECT_EQ(network.Echoes(Ip("10.0.0.5")), 1);

  // Names are resolved; a name that does not resolve never reaches the probe.
  network.Set(Ip("127.0.0.1"), Replies(3));
  EXPECT_EQ(EchoTwice(probe.get(), L"localhost", always), 3);
  EXPECT_EQ(EchoTwice(probe.get(), L"no-such-host.invalid", always), -1);
  EXPECT_EQ(EchoTwice(nullptr, L"10.0.0.1", always), -1) << "no ICMP functions: every echo fails";
}

TEST(NtpWait, ShortestElapsedTimeCappedAtTheCutoff) {
  EXPECT_EQ(NtpWaitMilliseconds({}, 5000), 1000u);
  EXPECT_EQ(NtpWaitMilliseconds({5000}, 5000), 0u) << "right after a send: a poll";
  EXPECT_EQ(NtpWaitMilliseconds({4700, 4300}, 5000), 300u);
  EXPECT_EQ(NtpWaitMilliseconds({1000}, 5000), 1000u);
  EXPECT_EQ(NtpWaitMilliseconds({5100}, 5000), 0u) << "a send time ahead counts as none elapsed";
  EXPECT_EQ(NtpWaitMilliseconds({0xFFFFFF00u}, 0x40u), 0x140u) << "across the tick wrap";
}

TEST(SpeedTestRun, EveryServerIsTakenThenMeasuredByBothProbes) {
  NtpResponder answering("127.0.0.1", 0);
  ASSERT_TRUE(answering.ok());
  const uint16_t port = answering.port();
  NtpResponder wrongSender("127.0.0.2", port, 0, "127.0.0.3");
  NtpResponder late("127.0.0.4", port, 1200);
  ASSERT_TRUE(wrongSender.ok() && late.ok()) << "loopback addresses beyond 127.0.0.1";

  FakeEchoNetwork network;
  network.Set(Ip("127.0.0.1"), Replies(30));
  FakeEchoNetwork::Answer wrongBody = Replies(5);
  wrongBody.body.assign(32, 0);
  network.Set(Ip("127.0.0.2"), wrongBody);

  Reports reports;
  SpeedTest test(reports, network.Factory(), SystemTickClock(), SpeedTest::Options{port, 20});
  test.ReplaceQueues({{1, L"127.0.0.1"}, {2, L"127.0.0.2"}, {3, L"127.0.0.4"}, {4, L"localhost"}},
                     {{1, L"127.0.0.1"}, {2, L"127.0.0.2"}, {3, L"127.0.0.4"}, {4, L"localhost"}});
  test.Start();
  EXPECT_EQ(test.threadCount(), 6u);
  ASSERT_TRUE(reports.WaitForResults({1, 2, 3, 4}, 8s));
  test.Stop();
  EXPECT_EQ(test.threadCount(), 0u);

  EXPECT_EQ(reports.Values(kEchoSpeedMessage, 1), (std::vector<int32_t>{-2, 30}));
  EXPECT_EQ(reports.Values(kEchoSpeedMessage, 2), (std::vector<int32_t>{-2, -1})) << "wrong body";
  EXPECT_EQ(reports.Values(kEchoSpeedMessage, 3), (std::vector<int32_t>{-2, -1})) << "no reply";
  EXPECT_EQ(reports.Values(kEchoSpeedMessage, 4), (std::vector<int32_t>{-2, 30})) << "resolved";

  const auto answered = reports.Values(kNtpSpeedMessage, 1);
  ASSERT_EQ(answered.size(), 2u);
  EXPECT_EQ(answered[0], -2);
  EXPECT_GE(answered[1], 0);
  EXPECT_LT(answered[1], 1000);
  EXPECT_EQ(answering.requests(), 2) << "each request is sent twice";
  EXPECT_EQ(reports.Values(kNtpSpeedMessage, 2), (std::vector<int32_t>{-2, -1}))
      << "an answer from another address is no answer";
  EXPECT_EQ(wrongSender.requests(), 2);
  EXPECT_EQ(reports.Values(kNtpSpeedMessage, 3), (std::vector<int32_t>{-2, -1}))
      << "an answer after the cut-off is no answer";
  EXPECT_EQ(reports.Values(kNtpSpeedMessage, 4), (std::vector<int32_t>{-2, -1}))
      << "a host name is never asked";
}

TEST(SpeedTestRun, StopJoinsEveryWorkerSoNothingIsPostedAfterIt) {
  FakeEchoNetwork network;
  FakeEchoNetwork::Answer slow = Replies(700);
  slow.delayMs = 300;
  for (int n = 1; n <= 9; ++n) {
    network.Set(Ip(("10.1.0." + std::to_string(n)).c_str()), slow);
  }
  Reports reports;
  {
    SpeedTest test(reports, network.Factory(), SystemTickClock(), SpeedTest::Options{9, 20});
    std::vector<SpeedProbeTarget> targets;
    for (int n = 1; n <= 9; ++n) targets.push_back({n, L"10.1.0." + std::to_wstring(n)});
    test.ReplaceQueues(targets, {});
    test.Start();
    test.Start();  // a second start changes nothing
    EXPECT_EQ(test.threadCount(), 6u);
    ASSERT_TRUE(reports.WaitForCount(5, 5s)) << "five echo workers each take a server";
    test.Stop();
    EXPECT_FALSE(test.running());
    EXPECT_EQ(test.threadCount(), 0u);
    const int afterStop = reports.count();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(reports.count(), afterStop);
    // Every server taken got its result before Stop returned.
    for (int n = 1; n <= 9; ++n) {
      const auto values = reports.Values(kEchoSpeedMessage, n);
      EXPECT_TRUE(values.empty() || values.size() == 2u) << n;
    }
    test.Stop();  // stopping again is harmless

    // A test left running is joined by its destructor.
    test.ReplaceQueues(targets, {});
    test.Start();
    ASSERT_TRUE(reports.WaitForCount(afterStop + 1, 5s));
  }
  const int afterDestruction = reports.count();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(reports.count(), afterDestruction);
}

TEST(SpeedTestRun, WithAJoinerStopReturnsAtOnceAndTheWorkersEndBehindIt) {
  // Echoes to servers that do not answer, each waiting out (most of) its cut-off.
  FakeEchoNetwork network;
  FakeEchoNetwork::Answer silent;
  silent.replies = false;
  silent.delayMs = 600;
  std::vector<SpeedProbeTarget> targets;
  for (int n = 1; n <= 5; ++n) {
    network.Set(Ip(("10.2.0." + std::to_string(n)).c_str()), silent);
    targets.push_back({n, L"10.2.0." + std::to_wstring(n)});
  }
  Reports reports;
  {
    ThreadJoiner joiner;
    SpeedTest::Options options{9, 20};
    options.joiner = &joiner;
    SpeedTest test(reports, network.Factory(), SystemTickClock(), options);
    test.ReplaceQueues(targets, {});
    test.Start();
    ASSERT_TRUE(reports.WaitForCount(5, 5s)) << "five echo workers each take a server";

    const auto before = std::chrono::steady_clock::now();
    test.Stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, 100ms) << "Stop waited "
                           << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                           << " ms for the echoes in flight";
    EXPECT_FALSE(test.running());
    EXPECT_EQ(test.threadCount(), 0u);
    EXPECT_GE(joiner.pending(), 5u) << "the echo workers are still in their echoes";
    const int afterStop = reports.count();

    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (joiner.pending() != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(joiner.pending(), 0u) << "the joiner ends the workers";
    EXPECT_EQ(reports.count(), afterStop) << "a stopped worker posted its result";

    // A second run stopped just before the joiner goes.
    test.ReplaceQueues(targets, {});
    test.Start();
    ASSERT_TRUE(reports.WaitForCount(afterStop + 5, 5s));
    test.Stop();
  }  // the joiner's end waits for the second run's workers
}

// A resolver that sits in its lookup until the test lets it go (or ten seconds pass).
struct HangingResolver {
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int entered = 0;
    int left = 0;
    bool released = false;
  };
  std::shared_ptr<State> state = std::make_shared<State>();

  NameResolver Function() const {
    return [state = state](const std::string&, uint32_t* address) {
      std::unique_lock<std::mutex> hold(state->mutex);
      ++state->entered;
      state->changed.notify_all();
      state->changed.wait_for(hold, 10s, [&] { return state->released; });
      ++state->left;
      *address = ParseIpv4OrNone("127.0.0.1");
      return true;
    };
  }
  bool WaitEntered(int count) {
    std::unique_lock<std::mutex> hold(state->mutex);
    return state->changed.wait_for(hold, 5s, [&] { return state->entered >= count; });
  }
  int left() {
    std::lock_guard<std::mutex> hold(state->mutex);
    return state->left;
  }
  void Release() {
    std::lock_guard<std::mutex> hold(state->mutex);
    state->released = true;
    state->changed.notify_all();
  }
};

TEST(SpeedTestRun, StopLeavesAHangingNameLookupBehindAndHostlessServersFailAtOnce) {
  FakeEchoNetwork network;
  network.Set(Ip("127.0.0.1"), Replies(5));
  HangingResolver resolver;
  Reports reports;
  SpeedTest::Options options{9, 20};
  options.resolve = resolver.Function();
  SpeedTest test(reports, network.Factory(), SystemTickClock(), options);
  test.ReplaceQueues({{1, L"slow1.example"}, {2, L"slow2.example"}, {3, L""}}, {});
  test.Start();
  ASSERT_TRUE(resolver.WaitEntered(2));
  ASSERT_TRUE(reports.WaitForCount(4, 5s)) << "three taken, the hostless one failed";
  test.Stop();
  // Stop did not wait for the resolver: both lookups are still inside it.
  EXPECT_EQ(resolver.left(), 0);
  EXPECT_EQ(reports.Values(kEchoSpeedMessage, 1), (std::vector<int32_t>{-2, -1}));
  EXPECT_EQ(reports.Values(kEchoSpeedMessage, 3), (std::vector<int32_t>{-2, -1}));
  EXPECT_EQ(network.Echoes(Ip("127.0.0.1")), 0);
  resolver.Release();

  // A lookup that answers within the cut-off is used.
  uint32_t address = 0;
  EXPECT_TRUE(ResolveWithin(resolver.Function(), "fast.example", 1000, [] { return true; },
                            &address));
  EXPECT_EQ(address, Ip("127.0.0.1"));
}
