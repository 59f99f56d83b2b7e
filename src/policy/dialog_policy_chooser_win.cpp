#include "policy/dialog_policy_chooser_win.h"

#include "config/machine_registry_win.h"
#include "policy/dlg_vpn_policy_win.h"
#include "policy/icmp_echo_probe_win.h"

DialogPolicyChooser::DialogPolicyChooser(HWND owner, SettingsStore& settings,
                                         BindModule& bind_module,
                                         BlockedOperationRunner& restarter,
                                         MessageBoxFn message_box)
    : owner_(owner),
      settings_(settings),
      bind_module_(bind_module),
      restarter_(restarter),
      message_box_(std::move(message_box)) {}

bool DialogPolicyChooser::ChoosePolicy(const std::wstring& response_file, PolicyChoice& choice) {
  LocalMachineRegistry registry;
  CDlgVpnPolicy dialog(response_file,
                       CDlgVpnPolicy::Ports{SystemPrivateProfile(), settings_, bind_module_,
                                            registry, restarter_, OperatingSystemMajorVersion(),
                                            &IcmpEchoProbe::Create, speed_test_, {},
                                            message_box_});
  if (dialog.DoModal(owner_) != IDOK) return false;
  choice = dialog.choice();
  return true;
}
