#include "fakes/fake_ras_dialer.h"

#include <algorithm>
#include <thread>

uint32_t FakeRasDialer::EnumConnections(uint32_t& bufferBytes,
                                        std::vector<RasConnectionInfo>& list) {
  std::lock_guard lock(mutex);
  enumBufferSizes.push_back(bufferBytes);
  const uint32_t records = std::max<uint32_t>(1, uint32_t(connections.size()));
  const uint32_t needed = records * kConnectionRecordSize;
  if (enumNeverFits || bufferBytes < needed) {
    bufferBytes = std::max(needed, bufferBytes + kConnectionRecordSize);
    return kRasErrorBufferTooSmall;
  }
  list = connections;
  return 0;
}

uint32_t FakeRasDialer::SetEntryProperties(const std::wstring& entryName,
                                           const RasEntryProperties& entry) {
  entries.emplace_back(entryName, entry);
  return setEntryResult;
}

uint32_t FakeRasDialer::Dial(const RasDialParameters& parameters,
                             std::shared_ptr<RasDialEvents> receiver,
                             RasConnectionHandle& connection) {
  Progress early;
  {
    std::lock_guard lock(mutex);
    dials.push_back(parameters);
    events = std::move(receiver);
    early = duringDial;
  }
  if (!early.empty()) Deliver(early);
  connection = dialHandle;
  return dialResult;
}

uint32_t FakeRasDialer::HangUp(RasConnectionHandle connection) {
  std::lock_guard lock(mutex);
  hangUps.push_back(connection);
  links.erase(connection);
  lingering[connection] = hangUpPolls;
  return 0;
}

uint32_t FakeRasDialer::GetConnectStatus(RasConnectionHandle connection, RasLinkStatus* status) {
  std::lock_guard lock(mutex);
  ++statusQueries;
  if (const auto link = links.find(connection); link != links.end()) {
    if (status != nullptr) *status = link->second;
    return 0;
  }
  const auto found = lingering.find(connection);
  if (found == lingering.end()) return kRasErrorInvalidHandle;
  if (found->second-- > 0) return 0;
  lingering.erase(found);
  // Gone from the list as well.
  std::erase_if(connections, [&](const RasConnectionInfo& c) { return c.handle == connection; });
  return kRasErrorInvalidHandle;
}

uint32_t FakeRasDialer::GetStatistics(RasConnectionHandle, uint32_t& sent, uint32_t& received) {
  if (statisticsResult != 0) return statisticsResult;
  sent = bytesSent;
  received = bytesReceived;
  return 0;
}

uint32_t FakeRasDialer::GetIpProjection(RasConnectionHandle connection, uint32_t& bufferBytes,
                                        std::wstring& localAddress) {
  projectionBufferSizes.push_back(bufferBytes);
  projectionHandles.push_back(connection);
  const uint32_t offered = bufferBytes;
  bufferBytes = projectionSize;
  if (offered < projectionSize) return kRasErrorBufferTooSmall;
  if (projectionResult != 0) return projectionResult;
  localAddress = projectionAddress;
  return 0;
}

std::wstring FakeRasDialer::GetErrorString(uint32_t error) {
  const auto found = errorStrings.find(error);
  return found != errorStrings.end() ? found->second : std::wstring();
}

std::vector<uint32_t> FakeRasDialer::Deliver(const Progress& reports) {
  std::shared_ptr<RasDialEvents> receiver;
  {
    std::lock_guard lock(mutex);
    receiver = events;
  }
  std::vector<uint32_t> results;
  const RasConnectionHandle handle = dialHandle;
  std::thread system([&] {
    for (const auto& [connectionState, error] : reports) {
      // Like the system, it stops calling once told so.
      if (!receiver || (!results.empty() && results.back() == 0)) break;
      results.push_back(receiver->OnRasProgress(handle, connectionState, error));
    }
  });
  system.join();
  return results;
}

void FakeRasDialer::DeliverLater(const Progress& reports) {
  std::lock_guard lock(mutex);
  system_.emplace_back([this, reports] { Deliver(reports); });
}

void FakeRasDialer::JoinSystem() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex);
    threads.swap(system_);
  }
  for (std::thread& thread : threads) thread.join();
}

uint32_t FakeRasDialer::WatchDisconnection(RasConnectionHandle connection,
                                           std::shared_ptr<RasDialEvents> watcher) {
  std::lock_guard lock(mutex);
  watched.push_back(connection);
  // The engine hands the same receiver it dialled with; reports keep going there.
  if (watcher != events) return 87;
  return watchResult;
}
