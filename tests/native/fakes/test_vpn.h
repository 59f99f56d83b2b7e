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
  int32_t GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) override {
    sent = received = 0;
    errorDetail = 0;
    return 0;
  }
  std::wstring GetErrorDetailText(int32_t) override { return L""; }

  // The connector's report that the tunnel is up, with the addresses it learned.
  void TunnelUp(const std::wstring& address, const std::wstring& gateway = L"") {
    RunEvent([&] {
      localAddress_ = address;
      tunnelGateway_ = gateway;
      ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
    });
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
