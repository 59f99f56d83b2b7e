#include "policy/speed_test.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <system_error>
#include <thread>

#include "base/socket.h"
#include "base/text.h"

namespace {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;  // what the dotted-address parser gives for "not one"

struct NtpRecord {
  SpeedProbeTarget target;
  std::string host;  // the host as the sender's address would read
  uint32_t sentAt = 0;
  int32_t state = -3;
};

// Elapsed time since `since`; a tick that lies ahead (clock adjusted) reads as none elapsed.
int32_t ElapsedSince(uint32_t since, uint32_t now) {
  const int32_t elapsed = static_cast<int32_t>(now - since);
  return elapsed < 0 ? 0 : elapsed;
}

}  // namespace

bool ResolveWithin(const NameResolver& resolve, const std::string& name, uint32_t limitMs,
                   const std::function<bool()>& keepGoing, uint32_t* address) {
  struct Lookup {
    std::mutex lock;
    std::condition_variable doneSignal;
    bool done = false;
    bool found = false;
    uint32_t address = 0;
  };
  auto lookup = std::make_shared<Lookup>();
  try {
    // Detached: nobody may have to wait for the resolver. The thread owns everything it uses.
    std::thread([lookup, resolve, name] {
      SocketLibraryStartup();
      uint32_t resolved = 0;
      const bool found = resolve ? resolve(name, &resolved) : ResolveIpv4Address(name, &resolved);
      SocketLibraryCleanup();
      std::lock_guard<std::mutex> hold(lookup->lock);
      lookup->done = true;
      lookup->found = found;
      lookup->address = resolved;
      lookup->doneSignal.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  constexpr auto kSlice = std::chrono::milliseconds(10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  std::unique_lock<std::mutex> hold(lookup->lock);
  while (!lookup->done) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || (keepGoing && !keepGoing())) return false;
    lookup->doneSignal.wait_for(
        hold, std::min<std::chrono::steady_clock::duration>(kSlice, deadline - now));
  }
  if (lookup->found) *address = lookup->address;
  return lookup->found;
}

bool EchoOnce(EchoProbe* probe, const std::wstring& host, uint32_t* roundTripMs,
              const NameResolver& resolve) {
  if (probe == nullptr) return false;
  const std::string name = WideToAnsi(host);
  // An empty name would resolve to this machine and look like the fastest server of all.
  if (TrimText(name).empty()) return false;
  uint32_t address = ParseIpv4OrNone(name);
  if (address == kNoAddress) {
    const bool found = resolve ? resolve(name, &address) : ResolveIpv4Address(name, &address);
    if (!found) return false;
  }
  const std::vector<uint8_t> request(kEchoBodySize, kEchoBodyByte);
  EchoReply reply;
  if (!probe->SendEcho(address, request, kSpeedProbeCutoffMs, reply)) return false;
  if (reply.status != 0 || reply.body != request) return false;
  *roundTripMs = reply.roundTripMs;
  return true;
}

int32_t EchoTwice(EchoProbe* probe, const std::wstring& host,
                  const std::function<bool()>& keepGoing, const NameResolver& resolve) {
  uint64_t total = 0;
  uint32_t successes = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0 && !keepGoing()) break;
    uint32_t roundTrip = 0;
    if (EchoOnce(probe, host, &roundTrip, resolve)) {
      total += roundTrip;
      ++successes;
    }
  }
  if (successes == 0) return -1;
  return static_cast<int32_t>(std::min<uint64_t>(total / successes, INT32_MAX));
}

uint32_t NtpWaitMilliseconds(const std::vector<uint32_t>& sendTicks, uint32_t now) {
  uint32_t wait = kSpeedProbeCutoffMs;
  for (uint32_t sent : sendTicks) {
    wait = std::min(wait, static_cast<uint32_t>(ElapsedSince(sent, now)));
  }
  return wait;
}

SpeedTest::SpeedTest(MessageTarget& target, EchoProbeFactory makeProbe, TickClock& clock,
                     Options options)
    : target_(target), makeProbe_(std::move(makeProbe)), clock_(clock), options_(options) {}

SpeedTest::~SpeedTest() { Stop(); }

void SpeedTest::Start() {
  if (run_) return;
  run_ = std::make_shared<Run>(target_, makeProbe_, clock_, options_);
  run_->ReplaceQueues(std::move(echoQueue_), std::move(ntpQueue_));
  echoQueue_.clear();
  ntpQueue_.clear();
  // Each worker holds the run, so it stays whole however long the worker takes to end.
  for (int i = 0; i < kEchoWorkerCount; ++i) {
    threads_.emplace_back([run = run_] { run->EchoWorker(); });
  }
  threads_.emplace_back([run = run_] { run->NtpWorker(); });
}

void SpeedTest::Stop() {
  if (!run_) return;
  const std::shared_ptr<Run> run = std::move(run_);
  std::vector<std::thread> threads = std::move(threads_);
  threads_.clear();
  if (options_.joiner) {
    // What the workers still measure is dropped; they end behind the caller's back.
    run->CutOff();
    options_.joiner->Hand(std::move(threads));
    return;
  }
  // Joined here, each worker posts the result it holds before it ends.
  run->Halt();
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
  run->CutOff();
}

void SpeedTest::ReplaceQueues(std::vector<SpeedProbeTarget> echo,
                              std::vector<SpeedProbeTarget> ntp) {
  if (run_) {
    run_->ReplaceQueues(std::move(echo), std::move(ntp));
    return;
  }
  echoQueue_ = std::move(echo);
  ntpQueue_ = std::move(ntp);
}

SpeedTest::Run::Run(MessageTarget& target, EchoProbeFactory makeProbe, TickClock& clock,
                    Options options)
    : makeProbe_(std::move(makeProbe)),
      clock_(clock),
      options_(std::move(options)),
      target_(&target) {}

void SpeedTest::Run::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> hold(postLock_);
  if (target_) target_->Post(message, wParam, lParam);
}

void SpeedTest::Run::CutOff() {
  running_.store(false);
  std::lock_guard<std::mutex> hold(postLock_);
  target_ = nullptr;
}

void SpeedTest::Run::ReplaceQueues(std::vector<SpeedProbeTarget> echo,
                                   std::vector<SpeedProbeTarget> ntp) {
  std::lock_guard<std::mutex> hold(lock_);
  echoQueue_.assign(std::make_move_iterator(echo.begin()), std::make_move_iterator(echo.end()));
  ntpQueue_.assign(std::make_move_iterator(ntp.begin()), std::make_move_iterator(ntp.end()));
}

void SpeedTest::Run::EchoWorker() {
  SocketLibraryStartup();
  std::unique_ptr<EchoProbe> probe = makeProbe_ ? makeProbe_() : nullptr;
  while (Running()) {
    SpeedProbeTarget target;
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (echoQueue_.empty()) {
        hold.unlock();
        clock_.Sleep(options_.idleSleepMs);
        continue;
      }
      target = echoQueue_.front();
      Post(kEchoSpeedMessage, static_cast<uintptr_t>(target.serverId), kSpeedTesting);
      echoQueue_.pop_front();
    }
    const auto keepGoing = [this] { return Running(); };
    const NameResolver bounded = [&](const std::string& name, uint32_t* address) {
      return ResolveWithin(options_.resolve, name, kSpeedProbeCutoffMs, keepGoing, address);
    };
    const int32_t result = EchoTwice(probe.get(), target.host, keepGoing, bounded);
    Post(kEchoSpeedMessage, static_cast<uintptr_t>(target.serverId), result);
  }
  probe.reset();
  SocketLibraryCleanup();
}

void SpeedTest::Run::NtpWorker() {
  SocketLibraryStartup();
  SocketHandle socket = OpenUdpSocket();
  if (socket != kNoSocket && (!SetNonBlocking(socket) || !BindIpv4(socket, 0, 0, nullptr))) {
    CloseSocket(socket);
    socket = kNoSocket;
  }
  std::array<char, kNtpRequestSize> request{};
  request[0] = 0x1B;  // version 3, client mode
  std::array<char, 1024> datagram{};
  std::vector<NtpRecord> inFlight;

  auto drain = [&] {
    if (socket == kNoSocket) return;
    while (WaitReadableFor(socket, 0) > 0) {
      if (ReceiveFromIpv4(socket, datagram.data(), datagram.size(), nullptr, nullptr) < 0) break;
    }
  };

  while (Running()) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      while (inFlight.size() < kNtpMaxInFlight && !ntpQueue_.empty()) {
        NtpRecord record;
        record.target = ntpQueue_.front();
        record.host = WideToAnsi(record.target.host);
        inFlight.push_back(std::move(record));
        Post(kNtpSpeedMessage, static_cast<uintptr_t>(inFlight.back().target.serverId),
                     kSpeedTesting);
        ntpQueue_.pop_front();
      }
    }
    if (inFlight.empty()) {
      clock_.Sleep(options_.idleSleepMs);
      if (!Running()) break;
      drain();
      continue;
    }

    for (NtpRecord& record : inFlight) {
      if (record.state != kSpeedToBeTested) continue;
      // A host that is not a dotted address would read as 255.255.255.255, the broadcast
      // address; nothing is sent for it and it simply gets no answer.
      const uint32_t address = ParseIpv4OrNone(record.host);
      if (address != kNoAddress && socket != kNoSocket) {
        for (int copy = 0; copy < 2; ++copy) {
          SendToIpv4(socket, request.data(), request.size(), address, options_.ntpPort);
        }
      }
      record.sentAt = clock_.Ticks();
      record.state = kSpeedTesting;
    }
    std::vector<uint32_t> sendTicks;
    for (const NtpRecord& record : inFlight) sendTicks.push_back(record.sentAt);
    const uint32_t wait = NtpWaitMilliseconds(sendTicks, clock_.Ticks());

    if (socket == kNoSocket || WaitReadableFor(socket, wait) < 0) {
      // Without a working socket nothing can arrive; waiting keeps the loop from spinning until
      // the records run out of time.
      clock_.Sleep(wait);
    } else {
      uint32_t from = 0;
      while (ReceiveFromIpv4(socket, datagram.data(), datagram.size(), &from, nullptr) >= 0) {
        const std::string sender = FormatIpv4Address(from);
        const uint32_t now = clock_.Ticks();
        for (NtpRecord& record : inFlight) {
          if (record.state != kSpeedTesting || record.host != sender) continue;
          const int32_t elapsed = static_cast<int32_t>(now - record.sentAt);
          if (elapsed >= 0) record.state = elapsed;
        }
      }
    }

    const uint32_t now = clock_.Ticks();
    for (NtpRecord& record : inFlight) {
      if (now - record.sentAt > kSpeedProbeCutoffMs) record.state = kSpeedNoAnswer;
    }
    auto finished = [](const NtpRecord& record) {
      return record.state >= 0 || record.state == kSpeedNoAnswer;
    };
    for (const NtpRecord& record : inFlight) {
      if (finished(record)) {
        Post(kNtpSpeedMessage, static_cast<uintptr_t>(record.target.serverId),
                     record.state);
      }
    }
    inFlight.erase(std::remove_if(inFlight.begin(), inFlight.end(), finished), inFlight.end());
  }
  inFlight.clear();
  CloseSocket(socket);
  SocketLibraryCleanup();
}
