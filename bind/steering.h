// What the module decides inside a process for each destination a socket is about to reach:
// whether this process is steered at all, whether the destination needs a host route into the
// tunnel (and whether to wait for it), and whether the socket is first bound to the tunnel's
// address. Everything the decision reads from the system comes through SteeringSystem.
//
// A process is steered while the client publishes "binding on" and the process's program is an
// active entry of the application list; the client's own process never is. The published state
// and the list file are looked at no more than once a second, so a connect in a process that is
// not steered costs a clock read and a compare.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app_list_reader.h"
#include "bind_state.h"

inline constexpr uint64_t kSteeringRefreshMs = 1000;
// Less than the six minutes after which the client drops a host route nobody asked for again,
// so a destination in use is asked for again before its route can go.
inline constexpr uint64_t kRouteMemoryMs = 5 * 60 * 1000;
// How long a waiting call waits for the client's reply.
inline constexpr uint32_t kRouteReplyWaitMs = 2000;
inline constexpr size_t kMaxRememberedRoutes = 4096;

struct FileStamp {
  bool exists = false;
  uint64_t writeTime = 0;
  uint64_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

class SteeringSystem {
 public:
  virtual ~SteeringSystem() = default;
  // Milliseconds from any fixed start, never going back.
  virtual uint64_t NowMs() = 0;
  virtual BindState ReadBindState() = 0;
  virtual FileStamp AppListStamp() = 0;
  // The list file's bytes (at most kMaxAppListBytes); empty when it cannot be read.
  virtual std::string ReadAppList() = 0;
  virtual std::wstring DecodeAnsi(std::string_view bytes) = 0;
};

struct SteerPlan {
  bool steer = false;
  // Bind a socket not yet bound to this address (network byte order) first; 0 = leave it.
  uint32_t bindTo = 0;
  // Ask the client for a host route to the destination.
  bool askRoute = false;
  // Wait (at most kRouteReplyWaitMs) for the reply before the call goes on.
  bool wait = false;
};

// Destinations that never get a host route into the tunnel: 0.0.0.0, 255.255.255.255, loopback
// (127/8) and multicast (224/4). `address` in network byte order.
bool IsExcludedDestination(uint32_t address);

class Steering {
 public:
  // `program` is this process's executable path as the system names it.
  Steering(SteeringSystem& system, std::wstring_view program, uint32_t processId);

  // Thread-safe. An asked route must be reported through Answered.
  SteerPlan Plan(uint32_t destination);
  // The outcome of a route request: a routed destination is not asked for again for
  // kRouteMemoryMs; any other outcome lets the next call ask again.
  void Answered(uint32_t destination, bool routed);

 private:
  struct Memory {
    uint64_t until = 0;
    bool routed = false;  // else a request is on its way
  };

  void RefreshLocked(uint64_t now);
  void RememberLocked(uint32_t destination, Memory memory, uint64_t now);

  SteeringSystem& system_;
  const std::wstring program_;
  const uint32_t processId_;

  std::mutex mutex_;
  bool refreshed_ = false;
  uint64_t refreshedAt_ = 0;
  BindState state_;
  bool listRead_ = false;
  FileStamp listStamp_;
  std::optional<BoundApp> entry_;
  std::unordered_map<uint32_t, Memory> memory_;
};
