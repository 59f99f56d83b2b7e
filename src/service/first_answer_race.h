// Requests sent to several hosts at once, of which the first complete, accepted answer wins:
// the main window's choice of login host and the login's fetches both run one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One request of a race. It reports its events to whoever created it, who finds it again by
// Id(); destroying it closes it.
class HostProbe {
 public:
  virtual ~HostProbe() = default;
  virtual bool Start() = 0;
  virtual const void* Id() const = 0;
  virtual int32_t StatusCode() const = 0;
  // The whole body arrived, as announced.
  virtual bool Complete() const = 0;
  virtual const std::string& Body() const = 0;
};

class HostProbeFactory {
 public:
  virtual ~HostProbeFactory() = default;
  virtual std::unique_ptr<HostProbe> Create(const std::wstring& url) = 0;
};

class FirstAnswerRace {
 public:
  // Whether a complete answer wins; asked only while no request has won.
  using Accept = std::function<bool(int32_t statusCode, const std::string& body)>;
  enum class End {
    kStale,  // not a request of this race (cleared since its event was posted)
    kWon,
    kLost,
  };

  explicit FirstAnswerRace(Accept accept) : accept_(std::move(accept)) {}

  void Add(std::unique_ptr<HostProbe> request) { requests_.push_back(std::move(request)); }
  // Starts every request, only once the list is complete: a fast answer must find its request
  // here. A request that cannot start never ends, so it counts as ended at once. Returns how
  // many could not start.
  size_t Start();
  // The request `id` has ended (its last event).
  End OnEnded(const void* id);
  // Destroys every request, which closes them.
  void Clear();

  bool AllEnded() const { return ended_ == requests_.size(); }
  // The index of the winning request in the order added, -1 while none has won.
  int winner() const { return winner_; }
  const HostProbe& request(size_t index) const { return *requests_[index]; }
  size_t size() const { return requests_.size(); }

 private:
  Accept accept_;
  std::vector<std::unique_ptr<HostProbe>> requests_;
  size_t ended_ = 0;
  int winner_ = -1;
};
