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
  uint32_t sent_at = 0;
  int32_t state = -3;
};

// Elapsed time since `since`; a tick that lies ahead (clock adjusted) reads as none elapsed.
int32_t ElapsedSince(uint32_t since, uint32_t now) {
  const int32_t elapsed = static_cast<int32_t>(now - since);
  return elapsed < 0 ? 0 : elapsed;
}

}  // namespace

bool ResolveWithin(const NameResolver& resolve, const std::string& name, uint32_t limit_ms,
                   const std::function<bool()>& keep_going, uint32_t* address) {
  struct Lookup {
    std::mutex lock;
    std::condition_variable done_signal;
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
      lookup->done_signal.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  constexpr auto kSlice = std::chrono::milliseconds(10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  std::unique_lock<std::mutex> hold(lookup->lock);
  while (!lookup->done) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || (keep_going && !keep_going())) return false;
    lookup->done_signal.wait_for(hold, std::min<std::chrono::steady_clock::duration>(
                                           kSlice, deadline - now));
  }
  if (lookup->found) *address = lookup->address;
  return lookup->found;
}

bool EchoOnce(EchoProbe* probe, const std::wstring& host, uint32_t* round_trip_ms,
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
  *round_trip_ms = reply.round_trip_ms;
  return true;
}

int32_t EchoTwice(EchoProbe* probe, const std::wstring& host,
                  const std::function<bool()>& keep_going, const NameResolver& resolve) {
  uint64_t total = 0;
  uint32_t successes = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0 && !keep_going()) break;
    uint32_t round_trip = 0;
    if (EchoOnce(probe, host, &round_trip, resolve)) {
      total += round_trip;
      ++successes;
    }
  }
  if (successes == 0) return -1;
  return static_cast<int32_t>(std::min<uint64_t>(total / successes, INT32_MAX));
}

uint32_t NtpWaitMilliseconds(const std::vector<uint32_t>& send_ticks, uint32_t now) {
  uint32_t wait = kSpeedProbeCutoffMs;
  for (uint32_t sent : send_ticks) {
    wait = std::min(wait, static_cast<uint32_t>(ElapsedSince(sent, now)));
  }
  return wait;
}

SpeedTest::SpeedTest(MessageTarget& target, EchoProbeFactory make_probe, TickClock& clock,
                     Options options)
    : target_(target), make_probe_(std::move(make_probe)), clock_(clock), options_(options) {}

SpeedTest::~SpeedTest() { Stop(); }

void SpeedTest::Start() {
  if (running_.exchange(true)) return;
  for (int i = 0; i < kEchoWorkerCount; ++i) threads_.emplace_back([this] { EchoWorker(); });
  threads_.emplace_back([this] { NtpWorker(); });
}

void SpeedTest::Stop() {
  if (!running_.exchange(false)) return;
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

void SpeedTest::ReplaceQueues(std::vector<SpeedProbeTarget> echo,
                              std::vector<SpeedProbeTarget> ntp) {
  std::lock_guard<std::mutex> hold(lock_);
  echo_queue_.assign(std::make_move_iterator(echo.begin()), std::make_move_iterator(echo.end()));
  ntp_queue_.assign(std::make_move_iterator(ntp.begin()), std::make_move_iterator(ntp.end()));
}

void SpeedTest::EchoWorker() {
  SocketLibraryStartup();
  std::unique_ptr<EchoProbe> probe = make_probe_ ? make_probe_() : nullptr;
  while (Running()) {
    SpeedProbeTarget target;
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (echo_queue_.empty()) {
        hold.unlock();
        clock_.Sleep(options_.idle_sleep_ms);
        continue;
      }
      target = echo_queue_.front();
      target_.Post(kEchoSpeedMessage, static_cast<uintptr_t>(target.server_id), kSpeedTesting);
      echo_queue_.pop_front();
    }
    const auto keep_going = [this] { return Running(); };
    const NameResolver bounded = [&](const std::string& name, uint32_t* address) {
      return ResolveWithin(options_.resolve, name, kSpeedProbeCutoffMs, keep_going, address);
    };
    const int32_t result = EchoTwice(probe.get(), target.host, keep_going, bounded);
    target_.Post(kEchoSpeedMessage, static_cast<uintptr_t>(target.server_id), result);
  }
  probe.reset();
  SocketLibraryCleanup();
}

void SpeedTest::NtpWorker() {
  SocketLibraryStartup();
  SocketHandle socket = OpenUdpSocket();
  if (socket != kNoSocket && (!SetNonBlocking(socket) || !BindIpv4(socket, 0, 0, nullptr))) {
    CloseSocket(socket);
    socket = kNoSocket;
  }
  std::array<char, kNtpRequestSize> request{};
  request[0] = 0x1B;  // version 3, client mode
  std::array<char, 1024> datagram{};
  std::vector<NtpRecord> in_flight;

  auto drain = [&] {
    if (socket == kNoSocket) return;
    while (WaitReadableFor(socket, 0) > 0) {
      if (ReceiveFromIpv4(socket, datagram.data(), datagram.size(), nullptr, nullptr) < 0) break;
    }
  };

  while (Running()) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      while (in_flight.size() < kNtpMaxInFlight && !ntp_queue_.empty()) {
        NtpRecord record;
        record.target = ntp_queue_.front();
        record.host = WideToAnsi(record.target.host);
        in_flight.push_back(std::move(record));
        target_.Post(kNtpSpeedMessage, static_cast<uintptr_t>(in_flight.back().target.server_id),
                     kSpeedTesting);
        ntp_queue_.pop_front();
      }
    }
    if (in_flight.empty()) {
      clock_.Sleep(options_.idle_sleep_ms);
      if (!Running()) break;
      drain();
      continue;
    }

    for (NtpRecord& record : in_flight) {
      if (record.state != kSpeedToBeTested) continue;
      // A host that is not a dotted address would read as 255.255.255.255, the broadcast
      // address; nothing is sent for it and it simply gets no answer.
      const uint32_t address = ParseIpv4OrNone(record.host);
      if (address != kNoAddress && socket != kNoSocket) {
        for (int copy = 0; copy < 2; ++copy) {
          SendToIpv4(socket, request.data(), request.size(), address, options_.ntp_port);
        }
      }
      record.sent_at = clock_.Ticks();
      record.state = kSpeedTesting;
    }
    std::vector<uint32_t> send_ticks;
    for (const NtpRecord& record : in_flight) send_ticks.push_back(record.sent_at);
    const uint32_t wait = NtpWaitMilliseconds(send_ticks, clock_.Ticks());

    if (socket == kNoSocket || WaitReadableFor(socket, wait) < 0) {
      // Without a working socket nothing can arrive; waiting keeps the loop from spinning until
      // the records run out of time.
      clock_.Sleep(wait);
    } else {
      uint32_t from = 0;
      while (ReceiveFromIpv4(socket, datagram.data(), datagram.size(), &from, nullptr) >= 0) {
        const std::string sender = FormatIpv4Address(from);
        const uint32_t now = clock_.Ticks();
        for (NtpRecord& record : in_flight) {
          if (record.state != kSpeedTesting || record.host != sender) continue;
          const int32_t elapsed = static_cast<int32_t>(now - record.sent_at);
          if (elapsed >= 0) record.state = elapsed;
        }
      }
    }

    const uint32_t now = clock_.Ticks();
    for (NtpRecord& record : in_flight) {
      if (now - record.sent_at > kSpeedProbeCutoffMs) record.state = kSpeedNoAnswer;
    }
    auto finished = [](const NtpRecord& record) {
      return record.state >= 0 || record.state == kSpeedNoAnswer;
    };
    for (const NtpRecord& record : in_flight) {
      if (finished(record)) {
        target_.Post(kNtpSpeedMessage, static_cast<uintptr_t>(record.target.server_id),
                     record.state);
      }
    }
    in_flight.erase(std::remove_if(in_flight.begin(), in_flight.end(), finished),
                    in_flight.end());
  }
  in_flight.clear();
  CloseSocket(socket);
  SocketLibraryCleanup();
}
