#include "policy/dialog_policy_chooser_win.h"

#include "config/machine_registry_win.h"
#include "policy/dlg_vpn_policy_win.h"
#include "policy/icmp_echo_probe_win.h"

DialogPolicyChooser::DialogPolicyChooser(HWND owner, PrivateProfile& profile,
                                         SettingsStore& settings, BindModule& bindModule,
                                         BlockedOperationRunner& restarter, MessageBoxFn messageBox)
    : owner_(owner),
      profile_(profile),
      settings_(settings),
      bindModule_(bindModule),
      restarter_(restarter),
      messageBox_(std::move(messageBox)) {}

bool DialogPolicyChooser::ChoosePolicy(const ServiceAnswer& answer, PolicyChoice& choice) {
  LocalMachineRegistry registry;
  SpeedTest::Options speedTest = speedTest_;
  if (!speedTest.joiner) speedTest.joiner = &speedTestWorkers_;
  CDlgVpnPolicy dialog(answer, CDlgVpnPolicy::Ports{.profile = profile_,
                                                    .settings = settings_,
                                                    .bindModule = bindModule_,
                                                    .registry = registry,
                                                    .restarter = restarter_,
                                                    .osMajorVersion = OperatingSystemMajorVersion(),
                                                    .echoProbe = &IcmpEchoProbe::Create,
                                                    .speedTest = speedTest,
                                                    .messageBox = messageBox_});
  if (dialog.DoModal(owner_) != IDOK) return false;
  choice = dialog.choice();
  return true;
}
