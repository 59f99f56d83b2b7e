// RasDialer stand-in. Records what was written and dialled, and delivers progress reports
// the way the system does: in order, on a thread of its own, at any moment (also while Dial
// has not returned and after HangUp), to the receiver it keeps from Dial; a hung-up connection
// stays listed, and known to the status query, for a while (RasDial, RasHangUp and
// RasGetConnectStatus reference pages: wait for ERROR_INVALID_HANDLE after a hang-up).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "vpn/ras_dialer.h"

class FakeRasDialer : public RasDialer {
 public:
  uint32_t EnumConnections(uint32_t& bufferBytes, std::vector<RasConnectionInfo>& list) override;
  uint32_t SetEntryProperties(const std::wstring& entryName,
                              const RasEntryProperties& entry) override;
  uint32_t Dial(const RasDialParameters& parameters, std::shared_ptr<RasDialEvents> events,
                RasConnectionHandle& connection) override;
  uint32_t HangUp(RasConnectionHandle connection) override;
  uint32_t GetConnectStatus(RasConnectionHandle connection,
                            RasLinkStatus* status = nullptr) override;
  uint32_t GetStatistics(RasConnectionHandle connection, uint32_t& sent,
                         uint32_t& received) override;
  uint32_t GetIpProjection(RasConnectionHandle connection, uint32_t& bufferBytes,
                           std::wstring& localAddress) override;
  std::wstring GetErrorString(uint32_t error) override;
  // Records the watch (RasConnectionNotification reference page: the event is set when the
  // connection ends); the disconnection itself is delivered as progress, Deliver or DeliverLater
  // with kRasStateDisconnected, on the system's thread like every report.
  uint32_t WatchDisconnection(RasConnectionHandle connection,
                              std::shared_ptr<RasDialEvents> watcher) override;

  using Progress = std::vector<std::pair<uint32_t, uint32_t>>;
  ~FakeRasDialer() override { JoinSystem(); }
  // Sends each (connection state, error) to the receiver given at Dial from a new thread and
  // waits for it; the progress function's results, in order.
  std::vector<uint32_t> Deliver(const Progress& reports);
  // The same without waiting: the system's thread runs on while the test goes on.
  void DeliverLater(const Progress& reports);
  void JoinSystem();
  // Delivered from the system's thread while Dial has not returned yet.
  Progress duringDial;
  // Status queries after HangUp that still find the connection.
  int hangUpPolls = 3;

  std::mutex mutex;
  std::vector<RasConnectionInfo> connections;
  // Keeps asking for a bigger buffer, as when connections appear between calls.
  bool enumNeverFits = false;
  std::vector<uint32_t> enumBufferSizes;

  uint32_t setEntryResult = 0;
  std::vector<std::pair<std::wstring, RasEntryProperties>> entries;

  uint32_t dialResult = 0;
  RasConnectionHandle dialHandle = 0x5150;
  std::vector<RasDialParameters> dials;
  std::shared_ptr<RasDialEvents> events;

  std::vector<RasConnectionHandle> hangUps;
  // Links up (or listed still, though gone: RASCS_Disconnected with the error that ended them),
  // as the status query answers them.
  std::map<RasConnectionHandle, RasLinkStatus> links;
  // Hung-up connections the system still knows, with the queries left until it forgets them.
  std::map<RasConnectionHandle, int> lingering;
  int statusQueries = 0;

  uint32_t statisticsResult = 0;
  uint32_t bytesSent = 0;
  uint32_t bytesReceived = 0;

  // The projection record's size on this "system"; smaller buffers are refused with 603.
  uint32_t projectionSize = 80;
  uint32_t projectionResult = 0;
  std::wstring projectionAddress = L"10.8.0.6";
  std::vector<uint32_t> projectionBufferSizes;
  std::vector<RasConnectionHandle> projectionHandles;

  std::map<uint32_t, std::wstring> errorStrings;

  uint32_t watchResult = 0;
  std::vector<RasConnectionHandle> watched;

 private:
  std::vector<std::thread> system_;
};
