#include "steering.h"

#include <cstring>

namespace {

// The first octet of an address in network byte order, however the host orders bytes.
uint8_t FirstOctet(uint32_t address) {
  uint8_t bytes[4];
  static_assert(sizeof(bytes) == sizeof(address));
  std::memcpy(bytes, &address, sizeof(bytes));
  return bytes[0];
}

}  // namespace

bool IsExcludedDestination(uint32_t address) {
  if (address == 0 || address == 0xFFFFFFFFu) return true;
  const uint8_t first = FirstOctet(address);
  return first == 127 || (first >= 224 && first <= 239);
}

Steering::Steering(SteeringSystem& system, std::wstring_view program, uint32_t processId)
    : system_(system), program_(NormalizeProgramPath(program)), processId_(processId) {}

void Steering::RefreshLocked(uint64_t now) {
  if (refreshed_ && now - refreshedAt_ < kSteeringRefreshMs) return;
  refreshed_ = true;
  refreshedAt_ = now;
  const BindState state = system_.ReadBindState();
  if (!(state == state_)) {
    // Another connection (or none): the routes the client made for the last one are not ours
    // to count on.
    memory_.clear();
    state_ = state;
  }
  if (!state_.on || state_.clientProcessId == processId_) return;
  const FileStamp stamp = system_.AppListStamp();
  if (listRead_ && stamp == listStamp_) return;
  listRead_ = true;
  listStamp_ = stamp;
  entry_.reset();
  if (!stamp.exists) return;
  const std::string bytes = system_.ReadAppList();
  entry_ = FindBoundApp(
      ReadBoundApps(bytes, [this](std::string_view ansi) { return system_.DecodeAnsi(ansi); }),
      program_);
}

void Steering::RememberLocked(uint32_t destination, Memory memory, uint64_t now) {
  if (memory_.size() >= kMaxRememberedRoutes && memory_.find(destination) == memory_.end()) {
    std::erase_if(memory_, [now](const auto& item) { return item.second.until <= now; });
    if (memory_.size() >= kMaxRememberedRoutes) memory_.clear();
  }
  memory_[destination] = memory;
}

SteerPlan Steering::Plan(uint32_t destination) {
  std::lock_guard lock(mutex_);
  const uint64_t now = system_.NowMs();
  RefreshLocked(now);
  SteerPlan plan;
  if (!state_.on || state_.clientProcessId == processId_ || !entry_) return plan;
  if (IsExcludedDestination(destination)) return plan;
  plan.steer = true;
  plan.bindTo = entry_->forceBind ? state_.tunnelAddress : 0;
  plan.wait = !entry_->useAsyncMode;
  const auto known = memory_.find(destination);
  if (known != memory_.end() && known->second.until > now) return plan;
  plan.askRoute = true;
  // While an unwaited request is on its way, other calls to the destination do not ask again;
  // a request that never reports back stops counting after its longest wait.
  if (!plan.wait) RememberLocked(destination, {now + kRouteReplyWaitMs + 1000, false}, now);
  return plan;
}

void Steering::Answered(uint32_t destination, bool routed) {
  std::lock_guard lock(mutex_);
  const uint64_t now = system_.NowMs();
  if (routed) {
    RememberLocked(destination, {now + kRouteMemoryMs, true}, now);
  } else {
    memory_.erase(destination);
  }
}
