// The engine with a tunnel that needs nothing: each test plays the connector by hand.
#pragma once

#include <cstdint>
#include <string>

#include "vpn/general_vpn.h"

class TestVpn : public CGeneralVpn {
 public:
  using CGeneralVpn::CGeneralVpn;
  int32_t GetStatistics(uint32_t& sent, uint32_t& received) override {
    sent = received = 0;
    return 0;
  }
  std::wstring GetErrorDetailText(int32_t) override { return L""; }
};
