// What the module decides inside a process for each destination a socket is about to reach:
// whether this process is steered at all, whether the destination needs a host route into the
// tunnel, who asks for it and who waits, and whether the socket is first bound to the tunnel's
// address. Everything the decision reads from the system comes through SteeringSystem.
//
// A process is steered while the client publishes "binding on" and the process's program is an
// active entry of the application list; the client's own process never is. The published state
// and the list file's time stamp are looked at no more than once a second; between two looks a
// connect in a process that is not steered costs a clock read and an atomic load, no lock. The
// list itself is never read on a socket call's thread: any user may hold an opportunistic lock
// on the file, and every steered call would wait on it. It is read in the background, and a call
// waits for the first reading at most kAppListWaitMs.
//
// Only public unicast destinations are steered: loopback, private, shared, link-local,
// multicast, broadcast, reserved and every destination on a subnet of this machine's own
// interfaces stay where the system routes them, so a program asking its router for a name never
// pulls the router into the tunnel.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app_list_reader.h"
#include "bind_state.h"
#include "vpn/route_request.h"

inline constexpr uint64_t kSteeringRefreshMs = 1000;
// Less than the six minutes after which the client drops a host route nobody asked for again,
// so a destination in use is asked for again (and its route kept) before its route can go.
inline constexpr uint64_t kRouteMemoryMs = 5 * 60 * 1000;
// A destination the client refused is not asked for again for this long.
inline constexpr uint64_t kRefusalMemoryMs = 60 * 1000;
// Nor is one whose request failed (no client listening, a broken reply), for a shorter while.
inline constexpr uint64_t kFailureMemoryMs = 5 * 1000;
// A granted destination still in use is asked for again this long before its memory ends, so
// its route outlives the client's idle expiry while a connection uses it.
inline constexpr uint64_t kRenewAheadMs = 60 * 1000;
// How long a waiting call waits for the client's reply.
inline constexpr uint32_t kRouteReplyWaitMs = 2000;
// How long a call waits for the list's first reading, in the background, before it goes on
// unsteered (the next look tries again).
inline constexpr uint32_t kAppListWaitMs = 250;
inline constexpr size_t kMaxRememberedRoutes = 4096;

// The system's address-family numbers, as socket addresses carry them.
inline constexpr uint16_t kFamilyInet = 2;
inline constexpr uint16_t kFamilyInet6 = 23;

struct FileStamp {
  bool exists = false;
  uint64_t writeTime = 0;
  uint64_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

// One subnet of this machine's own interfaces; both in network byte order.
struct LocalSubnet {
  uint32_t address = 0;
  uint32_t mask = 0;
};

class SteeringSystem {
 public:
  virtual ~SteeringSystem() = default;
  // Milliseconds from any fixed start, never going back.
  virtual uint64_t NowMs() = 0;
  virtual BindState ReadBindState() = 0;
  virtual FileStamp AppListStamp() = 0;
  // The list file's bytes (at most kMaxAppListBytes); empty when it cannot be read. May wait
  // on the file: called only through Steering::ReadAppList.
  virtual std::string ReadAppList() = 0;
  // Has Steering::ReadAppList called soon on a thread that no socket call waits on; false when
  // it cannot be (then a later look asks again).
  virtual bool ReadAppListInBackground(class Steering& steering) = 0;
  virtual std::wstring DecodeAnsi(std::string_view bytes) = 0;
  // The subnets of the interfaces that are up; read only while this process is steered.
  virtual std::vector<LocalSubnet> LocalSubnets() = 0;
};

// The outcome of one route request.
enum class RouteAnswer { kGranted, kRefused, kFailed };

struct SteerPlan {
  bool steer = false;
  // The tunnel address (network byte order) a socket not yet bound is bound to once the route
  // is granted; 0 = leave it.
  uint32_t bindTo = 0;
  // The route is granted already.
  bool granted = false;
  // This caller sends the request and reports its outcome through Answered.
  bool askRoute = false;
  // This caller waits before its call goes on: for its own exchange when it asks, else for the
  // request already on its way (AwaitAnswer).
  bool wait = false;
  // The published client process, the only one whose pipe is asked.
  uint32_t clientProcessId = 0;
};

// The IPv4 destination in a socket address the system passed: an IPv4 address, or an IPv4
// address mapped into IPv6 (a dual-stack socket); nothing for a pure IPv6 one or a short buffer.
std::optional<uint32_t> Ipv4Destination(const void* name, size_t length);

class Steering {
 public:
  // `program` is this process's executable path as the system names it.
  Steering(SteeringSystem& system, std::wstring_view program, uint32_t processId);

  // Thread-safe. `mayWait`: the call is a blocking one (a connect on a blocking socket), which
  // may wait for the reply; non-blocking, overlapped and datagram calls never do. An asked
  // route must be reported through Answered.
  SteerPlan Plan(uint32_t destination, bool mayWait);
  // False when no call can be steered now: a clock read and atomic loads, no lock.
  bool MightSteer() const;
  void Answered(uint32_t destination, RouteAnswer answer);
  // The outcome of a renewal (DueForRenewal): a failed exchange keeps the grant, to be tried
  // again at the next round; only a refusal ends it.
  void Renewed(uint32_t destination, RouteAnswer answer);
  // Reads the list file now, on the caller's thread (SteeringSystem::ReadAppListInBackground).
  void ReadAppList();
  // Waits up to `waitMs` (real time) for the request on its way to `destination`; true when the
  // route was granted.
  bool AwaitAnswer(uint32_t destination, uint32_t waitMs);
  // Of the destinations open sockets are connected to, the granted ones whose grant ends within
  // kRenewAheadMs: each is marked as asked for and must be reported through Answered. Nothing
  // while the process is not steered.
  std::vector<uint32_t> DueForRenewal(const std::vector<uint32_t>& inUse);
  // The published client process, for a renewal.
  uint32_t ClientProcessId();

 private:
  enum class State { kAsking, kGranted, kRefused, kFailed };
  struct Memory {
    uint64_t until = 0;
    State state = State::kAsking;
    bool renewing = false;  // a granted one whose renewal is on its way
  };

  // `waitForList`: a first reading of the list may be waited for (never on the thread that
  // reads it).
  void RefreshLocked(std::unique_lock<std::mutex>& lock, uint64_t now, bool waitForList);
  void UpdateSteeredLocked();
  void RememberLocked(uint32_t destination, Memory memory, uint64_t now);
  bool OnLinkLocked(uint32_t destination) const;

  SteeringSystem& system_;
  const std::wstring program_;
  const uint32_t processId_;

  // Read without the lock: while `steered_` is false and the clock is before `nextRefresh_`,
  // nothing can be steered.
  std::atomic<bool> steered_{false};
  std::atomic<uint64_t> nextRefresh_{0};

  std::mutex mutex_;
  std::condition_variable answered_;
  bool refreshed_ = false;
  BindState state_;
  bool listRead_ = false;
  bool listReading_ = false;
  FileStamp listStamp_;
  FileStamp wantedStamp_;
  std::optional<BoundApp> entry_;
  std::vector<LocalSubnet> subnets_;
  std::unordered_map<uint32_t, Memory> memory_;
};
