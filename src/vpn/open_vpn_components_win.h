// The component checks against the real file system, console and shell.
#pragma once

#include <string>

#include "vpn/open_vpn_components.h"

class SystemOpenVpnComponents final : public OpenVpnComponents {
 public:
  bool CheckOpenVpnComponents(const std::wstring& moduleFolder) override;
  bool HasTapAdapter() override;
  bool InstallTapAdapter() override;
};
