#include "steering.h"

#include <algorithm>
#include <chrono>
#include <cstring>

std::optional<uint32_t> Ipv4Destination(const void* name, size_t length) {
  if (name == nullptr || length < 2) return std::nullopt;
  const auto* bytes = static_cast<const uint8_t*>(name);
  uint16_t family = 0;
  std::memcpy(&family, bytes, sizeof(family));
  uint32_t address = 0;
  if (family == kFamilyInet && length >= 8) {
    std::memcpy(&address, bytes + 4, sizeof(address));
    return address;
  }
  // sockaddr_in6: family, port, flow information, then the 16 address bytes at offset 8.
  constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (family == kFamilyInet6 && length >= 24 &&
      std::memcmp(bytes + 8, kMappedPrefix, sizeof(kMappedPrefix)) == 0) {
    std::memcpy(&address, bytes + 20, sizeof(address));
    return address;
  }
  return std::nullopt;
}

Steering::Steering(SteeringSystem& system, std::wstring_view program, uint32_t processId)
    : system_(system), program_(NormalizeProgramPath(program)), processId_(processId) {}

void Steering::RefreshLocked(std::unique_lock<std::mutex>& lock, uint64_t now,
                             bool waitForList) {
  if (refreshed_ && now < nextRefresh_.load(std::memory_order_relaxed)) return;
  refreshed_ = true;
  nextRefresh_.store(now + kSteeringRefreshMs, std::memory_order_relaxed);
  const BindState state = system_.ReadBindState();
  if (!(state == state_)) {
    // Another connection (or none): the routes the client made for the last one are not ours
    // to count on.
    memory_.clear();
    answered_.notify_all();
    state_ = state;
  }
  if (state_.on && state_.clientProcessId != processId_) {
    const FileStamp stamp = system_.AppListStamp();
    if (!stamp.exists) {
      entry_.reset();
      listRead_ = true;
      listStamp_ = stamp;
    } else if ((!listRead_ || !(stamp == listStamp_)) && !listReading_) {
      wantedStamp_ = stamp;
      listReading_ = system_.ReadAppListInBackground(*this);
      // Only for the reading asked for here: one the file holds up costs one bounded wait.
      if (listReading_ && waitForList) {
        answered_.wait_for(lock, std::chrono::milliseconds(kAppListWaitMs),
                           [this] { return !listReading_; });
      }
    }
  }
  UpdateSteeredLocked();
}

void Steering::UpdateSteeredLocked() {
  const bool steered = state_.on && state_.clientProcessId != processId_ && entry_.has_value();
  // The interfaces' subnets change with the networks the machine joins; read while it matters.
  subnets_ = steered ? system_.LocalSubnets() : std::vector<LocalSubnet>();
  steered_.store(steered, std::memory_order_relaxed);
}

void Steering::ReadAppList() {
  std::unique_lock lock(mutex_);
  const FileStamp stamp = wantedStamp_;
  lock.unlock();
  const std::string bytes = system_.ReadAppList();
  std::optional<BoundApp> entry = FindBoundApp(
      ReadBoundApps(bytes, [this](std::string_view ansi) { return system_.DecodeAnsi(ansi); }),
      program_);
  lock.lock();
  entry_ = std::move(entry);
  listStamp_ = stamp;
  listRead_ = true;
  listReading_ = false;
  UpdateSteeredLocked();
  answered_.notify_all();
}

void Steering::RememberLocked(uint32_t destination, Memory memory, uint64_t now) {
  if (memory_.size() >= kMaxRememberedRoutes && memory_.find(destination) == memory_.end()) {
    std::erase_if(memory_, [now](const auto& item) { return item.second.until <= now; });
    if (memory_.size() >= kMaxRememberedRoutes) {
      // All live: the one that ends first goes, a refusal or failure before any grant.
      const auto rank = [](const Memory& m) {
        return std::pair(m.state == State::kGranted || m.state == State::kAsking, m.until);
      };
      memory_.erase(std::min_element(memory_.begin(), memory_.end(), [&](const auto& a,
                                                                          const auto& b) {
        return rank(a.second) < rank(b.second);
      }));
    }
  }
  memory_[destination] = memory;
}

bool Steering::OnLinkLocked(uint32_t destination) const {
  for (const LocalSubnet& subnet : subnets_) {
    if (subnet.mask != 0 && (destination & subnet.mask) == (subnet.address & subnet.mask)) {
      return true;
    }
  }
  return false;
}

bool Steering::MightSteer() const {
  return steered_.load(std::memory_order_relaxed) ||
         system_.NowMs() >= nextRefresh_.load(std::memory_order_relaxed);
}

SteerPlan Steering::Plan(uint32_t destination, bool mayWait) {
  const uint64_t now = system_.NowMs();
  if (!steered_.load(std::memory_order_relaxed) &&
      now < nextRefresh_.load(std::memory_order_relaxed)) {
    return {};
  }
  std::unique_lock lock(mutex_);
  RefreshLocked(lock, now, true);
  SteerPlan plan;
  if (!steered_.load(std::memory_order_relaxed)) return plan;
  if (!IsSteerableDestination(destination) || OnLinkLocked(destination)) return plan;
  plan.steer = true;
  plan.clientProcessId = state_.clientProcessId;
  plan.bindTo = entry_->forceBind ? state_.tunnelAddress : 0;
  const bool wait = mayWait && !entry_->useAsyncMode;
  const auto known = memory_.find(destination);
  if (known != memory_.end() && known->second.until > now) {
    plan.granted = known->second.state == State::kGranted;
    // Another call's request is on its way: a waiting caller waits for that one.
    plan.wait = wait && known->second.state == State::kAsking;
    return plan;
  }
  plan.askRoute = true;
  plan.wait = wait;
  // While the request is on its way, other calls to the destination do not ask again; one that
  // never reports back stops counting after its longest wait.
  RememberLocked(destination, {now + kRouteReplyWaitMs + 1000, State::kAsking}, now);
  return plan;
}

void Steering::Answered(uint32_t destination, RouteAnswer answer) {
  std::lock_guard lock(mutex_);
  const uint64_t now = system_.NowMs();
  switch (answer) {
    case RouteAnswer::kGranted:
      RememberLocked(destination, {now + kRouteMemoryMs, State::kGranted}, now);
      break;
    case RouteAnswer::kRefused:
      RememberLocked(destination, {now + kRefusalMemoryMs, State::kRefused}, now);
      break;
    case RouteAnswer::kFailed:
      RememberLocked(destination, {now + kFailureMemoryMs, State::kFailed}, now);
      break;
  }
  answered_.notify_all();
}

void Steering::Renewed(uint32_t destination, RouteAnswer answer) {
  if (answer != RouteAnswer::kFailed) {
    Answered(destination, answer);
    return;
  }
  std::lock_guard lock(mutex_);
  const auto known = memory_.find(destination);
  if (known != memory_.end()) known->second.renewing = false;
}

bool Steering::AwaitAnswer(uint32_t destination, uint32_t waitMs) {
  std::unique_lock lock(mutex_);
  const auto asking = [&] {
    const auto known = memory_.find(destination);
    return known != memory_.end() && known->second.state == State::kAsking;
  };
  answered_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return !asking(); });
  const auto known = memory_.find(destination);
  return known != memory_.end() && known->second.state == State::kGranted;
}

std::vector<uint32_t> Steering::DueForRenewal(const std::vector<uint32_t>& inUse) {
  std::unique_lock lock(mutex_);
  const uint64_t now = system_.NowMs();
  RefreshLocked(lock, now, false);
  std::vector<uint32_t> due;
  if (!steered_.load(std::memory_order_relaxed)) return due;
  for (const uint32_t destination : inUse) {
    const auto known = memory_.find(destination);
    if (known == memory_.end() || known->second.state != State::kGranted ||
        known->second.renewing || known->second.until > now + kRenewAheadMs ||
        std::find(due.begin(), due.end(), destination) != due.end()) {
      continue;
    }
    // Still granted meanwhile: calls to it go on without asking.
    known->second.renewing = true;
    due.push_back(destination);
  }
  return due;
}

uint32_t Steering::ClientProcessId() {
  std::lock_guard lock(mutex_);
  return state_.clientProcessId;
}
