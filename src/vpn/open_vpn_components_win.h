// The component checks against the real file system, console and shell.
#pragma once

#include <string>

#include "vpn/open_vpn_components.h"

class SystemOpenVpnComponents final : public OpenVpnComponents {
 public:
  explicit SystemOpenVpnComponents(OpenVpnComponentBounds bounds = {}) : bounds_(bounds) {}

  bool CheckOpenVpnComponents(const std::wstring& moduleFolder) override;
  TapAdapterProbe HasTapAdapter() override;
  bool InstallTapAdapter() override;

 private:
  OpenVpnComponentBounds bounds_;
};
