#include "fakes/fake_ras_dialer.h"

#include <algorithm>
#include <thread>

uint32_t FakeRasDialer::EnumConnections(uint32_t& bufferBytes,
                                        std::vector<RasConnectionInfo>& list) {
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

uint32_t FakeRasDialer::Dial(const RasDialParameters& parameters, RasDialEvents* receiver,
                             RasConnectionHandle& connection) {
  dials.push_back(parameters);
  events = receiver;
  connection = dialHandle;
  return dialResult;
}

uint32_t FakeRasDialer::HangUp(RasConnectionHandle connection) {
  hangUps.push_back(connection);
  return 0;
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

std::vector<uint32_t> FakeRasDialer::Deliver(
    const std::vector<std::pair<uint32_t, uint32_t>>& reports) {
  std::vector<uint32_t> results;
  std::thread system([&] {
    for (const auto& [connectionState, error] : reports) {
      results.push_back(events->OnRasProgress(dialHandle, connectionState, error));
    }
  });
  system.join();
  return results;
}
