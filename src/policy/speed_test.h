// The background speed test of the policy dialog: five echo workers and one time-service (NTP)
// worker take servers from two queues and post each measurement to the dialog, which alone keeps
// the results.
//
// Per server and probe kind a value goes -3 (queued) -> -2 (taken: posted when a worker takes
// it) -> the result, milliseconds or -1. Nothing is posted once Stop has returned.
//
// A worker in the middle of an echo cannot be interrupted (the system's echo waits up to its
// cut-off, twice), so Stop does not wait for the workers when given a ThreadJoiner: what they
// share belongs to the run, not to the SpeedTest, and the joiner ends them while the window goes
// on.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <memory>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/message_target.h"
#include "base/thread_joiner.h"
#include "policy/echo_probe.h"
#include "policy/speed_cell.h"

// Posted with wParam = server id and lParam = -2 when a worker takes the server, then the result.
inline constexpr uint32_t kEchoSpeedMessage = 0x0401;  // WM_USER + 1
inline constexpr uint32_t kNtpSpeedMessage = 0x0402;   // WM_USER + 2

inline constexpr uint32_t kSpeedProbeCutoffMs = 1000;
inline constexpr size_t kEchoBodySize = 32;
inline constexpr uint8_t kEchoBodyByte = 0x45;  // 'E'
inline constexpr size_t kNtpRequestSize = 48;
inline constexpr size_t kNtpMaxInFlight = 5;
inline constexpr int kEchoWorkerCount = 5;

// Resolves a host name to its first IPv4 address; may block as long as the system's resolver
// likes.
using NameResolver = std::function<bool(const std::string& name, uint32_t* address)>;

// Runs `resolve` on a thread of its own and waits for it at most `limitMs`, giving up as soon as
// `keepGoing` turns false (looked at every few milliseconds). A lookup still running when the
// wait ends finishes on its own and its answer is dropped, so a hanging resolver never holds up
// the caller.
bool ResolveWithin(const NameResolver& resolve, const std::string& name, uint32_t limitMs,
                   const std::function<bool()>& keepGoing, uint32_t* address);

// What a worker needs of a server: a copy, never a reference into the dialog's table.
struct SpeedProbeTarget {
  int32_t serverId = 0;
  std::wstring host;
};

// What the policy controller drives; the dialog's speed test implements it, tests record it.
class SpeedTestControl {
 public:
  virtual ~SpeedTestControl() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  // Empties both queues and fills them anew, in one hold of the lock.
  virtual void ReplaceQueues(std::vector<SpeedProbeTarget> echo,
                             std::vector<SpeedProbeTarget> ntp) = 0;
};

// One echo: the host read as a dotted address or resolved by name (through `resolve`, the
// system's resolver when empty), a 32-byte body of 'E', and a reply that counts only when its
// status is 0 and it carries exactly that body back (a reply with another body is not an answer
// to this request). False when the echo failed; an empty host fails at once.
bool EchoOnce(EchoProbe* probe, const std::wstring& host, uint32_t* roundTripMs,
              const NameResolver& resolve = {});

// Two echoes (the second also after a failed first, unless `keepGoing` turns false in between):
// the average round trip of those that succeeded, or -1.
int32_t EchoTwice(EchoProbe* probe, const std::wstring& host,
                  const std::function<bool()>& keepGoing, const NameResolver& resolve = {});

// How long the NTP worker may wait for answers: the shortest time elapsed since any record in
// flight was sent, never more than the cut-off. Right after a send it is a mere poll.
uint32_t NtpWaitMilliseconds(const std::vector<uint32_t>& sendTicks, uint32_t now);

class SpeedTest final : public SpeedTestControl {
 public:
  struct Options {
    uint16_t ntpPort = 123;
    uint32_t idleSleepMs = 100;
    // The echo workers' name lookups, each bounded by the probe cut-off; the system's when empty.
    NameResolver resolve = {};
    // Where Stop leaves the workers to end; none: Stop joins them itself. The clock and the probe
    // factory must outlive the joiner's wait.
    ThreadJoiner* joiner = nullptr;
  };

  SpeedTest(MessageTarget& target, EchoProbeFactory makeProbe, TickClock& clock, Options options);
  SpeedTest(MessageTarget& target, EchoProbeFactory makeProbe)
      : SpeedTest(target, std::move(makeProbe), SystemTickClock(), Options{}) {}
  ~SpeedTest() override;
  SpeedTest(const SpeedTest&) = delete;
  SpeedTest& operator=(const SpeedTest&) = delete;

  // Starts five echo workers, then the NTP worker; does nothing while running.
  void Start() override;
  // With a joiner: cuts the workers off the target, so nothing more is posted, and hands the six
  // threads to the joiner; returns at once. Without one: clears the running flag and joins the
  // threads in the order they were started, each worker posting the result of the echo it holds
  // first (at most about a second). Either way a name lookup a worker waits for is abandoned at
  // once.
  void Stop() override;
  void ReplaceQueues(std::vector<SpeedProbeTarget> echo,
                     std::vector<SpeedProbeTarget> ntp) override;

  bool running() const { return run_ && run_->Running(); }
  size_t threadCount() const { return threads_.size(); }

 private:
  // Everything the workers of one run touch. Shared by the SpeedTest and its workers, so it
  // lives until the last of them has ended, whoever waits for that.
  class Run {
   public:
    Run(MessageTarget& target, EchoProbeFactory makeProbe, TickClock& clock, Options options);
    bool Running() const { return running_.load(); }
    // Tells the workers to end after what they hold.
    void Halt() { running_.store(false); }
    // Posts unless cut off; the cut-off also halts, and waits for a post in progress, so none
    // comes after it.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void CutOff();
    void ReplaceQueues(std::vector<SpeedProbeTarget> echo, std::vector<SpeedProbeTarget> ntp);
    void EchoWorker();
    void NtpWorker();

   private:
    EchoProbeFactory makeProbe_;
    TickClock& clock_;
    const Options options_;

    std::mutex postLock_;  // guards target_
    MessageTarget* target_;

    std::mutex lock_;  // guards the two queues only
    std::deque<SpeedProbeTarget> echoQueue_;
    std::deque<SpeedProbeTarget> ntpQueue_;

    std::atomic<bool> running_{true};
  };

  MessageTarget& target_;
  EchoProbeFactory makeProbe_;
  TickClock& clock_;
  Options options_;

  // The queues set before Start, handed to the run when it starts.
  std::vector<SpeedProbeTarget> echoQueue_;
  std::vector<SpeedProbeTarget> ntpQueue_;

  std::shared_ptr<Run> run_;
  std::vector<std::thread> threads_;
};
