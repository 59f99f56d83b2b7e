// The engine with a tunnel that needs nothing, so each test plays the connector by hand, and a
// callback that keeps every report.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "vpn/general_vpn.h"

class TestVpn : public CGeneralVpn {
 public:
  using CGeneralVpn::CGeneralVpn;
  ~TestVpn() override { StopWorker(); }
  int32_t GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) override {
    sent = received = 0;
    errorDetail = 0;
    return 0;
  }
  std::wstring GetErrorDetailText(int32_t) override { return L""; }

  // The connector's report that the tunnel is up, with the addresses it learned; queued as
  // the connectors queue theirs.
  void TunnelUpLater(const std::wstring& address, const std::wstring& gateway = L"") {
    Post([this, address, gateway] {
      localAddress_ = address;
      tunnelGateway_ = gateway;
      ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
    });
  }
  // The same, and waits until the worker has handled it.
  void TunnelUp(const std::wstring& address, const std::wstring& gateway = L"") {
    TunnelUpLater(address, gateway);
    Flush();
  }
  // The same on the calling thread, once the worker is idle: for a test whose table stands for
  // the process dying inside a system call (by throwing) on the thread doing route work.
  void TunnelUpHere(const std::wstring& address) {
    Flush();
    localAddress_ = address;
    ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
  }
  // Connect, waiting for the worker's part.
  int32_t ConnectNow() {
    Connect();
    Flush();
    return Status().error;
  }
  // Disconnect, waiting for the whole cleanup.
  void DisconnectNow() {
    Disconnect();
    WaitFinished(60000);
  }
};

// (state, error, detail) of one report.
using Report = std::tuple<uint32_t, int32_t, int32_t>;

class ReportRecorder : public CGeneralVpnCallbackInterface {
 public:
  void OnVpnStateChanged(CGeneralVpn*, const VpnStatus& status) override {
    std::lock_guard lock(mutex_);
    statuses_.push_back(status);
  }
  std::vector<VpnStatus> statuses() {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  std::vector<Report> reports() {
    std::lock_guard lock(mutex_);
    std::vector<Report> found;
    for (const VpnStatus& s : statuses_) found.emplace_back(s.state, s.error, s.errorDetail);
    return found;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    statuses_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<VpnStatus> statuses_;
};
