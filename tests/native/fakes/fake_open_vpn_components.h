// The OpenVPN component checks answered from fields, with the calls logged in order.
#pragma once

#include <string>
#include <vector>

#include "vpn/open_vpn_components.h"

class FakeOpenVpnComponents : public OpenVpnComponents {
 public:
  bool CheckOpenVpnComponents(const std::wstring& folder) override {
    calls.push_back("check");
    checkedFolder = folder;
    return filesPresent;
  }
  TapAdapterProbe HasTapAdapter() override {
    calls.push_back("has");
    return adapter;
  }
  bool InstallTapAdapter() override {
    calls.push_back("install");
    adapter = afterInstall;
    return true;
  }

  bool filesPresent = true;
  TapAdapterProbe adapter = TapAdapterProbe::kPresent;
  // What the listing finds once the installer has run.
  TapAdapterProbe afterInstall = TapAdapterProbe::kAbsent;
  std::wstring checkedFolder;
  std::vector<std::string> calls;
};
