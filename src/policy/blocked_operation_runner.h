// Slow work the policy dialog has to wait for runs behind the blocked-operation dialog: a small
// window the user cannot close, modal over the dialog, so the dialog stays blocked (no second OK,
// no Cancel halfway) but keeps painting and answering until the work is over.
#pragma once

#include <functional>
#include <string>

#include "vpn/open_vpn_components.h"

class BlockedOperationRunner {
 public:
  virtual ~BlockedOperationRunner() = default;
  // The restart of the VPN-related services, which keeps the dialog up at least three seconds.
  virtual void RestartVpnRelatedServices() = 0;
  // Runs `work` on the dialog's worker thread; returns once it has returned.
  virtual void Run(const std::function<void()>& work) = 0;
};

// The OpenVPN checks that wait for outside programs (the adapter listing, the driver
// installer) run behind the dialog; the file check is quick and runs in place.
class BlockedOpenVpnComponents final : public OpenVpnComponents {
 public:
  BlockedOpenVpnComponents(OpenVpnComponents& components, BlockedOperationRunner& runner)
      : components_(components), runner_(runner) {}

  bool CheckOpenVpnComponents(const std::wstring& moduleFolder) override {
    return components_.CheckOpenVpnComponents(moduleFolder);
  }
  TapAdapterProbe HasTapAdapter() override {
    TapAdapterProbe found = TapAdapterProbe::kAbsent;
    runner_.Run([&] { found = components_.HasTapAdapter(); });
    return found;
  }
  bool InstallTapAdapter() override {
    runner_.Run([&] { components_.InstallTapAdapter(); });
    return true;
  }

 private:
  OpenVpnComponents& components_;
  BlockedOperationRunner& runner_;
};
