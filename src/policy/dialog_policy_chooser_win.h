// The login's way to the policy dialog: runs it modally over the main window and hands back its
// results.
#pragma once

#include <windows.h>

#include "config/private_profile.h"
#include "base/thread_joiner.h"
#include "config/settings_store.h"
#include "framework/message_box_win.h"
#include "policy/bind_module.h"
#include "policy/l2tp_preparation.h"
#include "policy/speed_test.h"
#include "service/policy_chooser.h"

class DialogPolicyChooser : public PolicyChooser {
 public:
  // `profile` reads the application list.
  DialogPolicyChooser(HWND owner, PrivateProfile& profile, SettingsStore& settings,
                      BindModule& bindModule, BlockedOperationRunner& restarter,
                      MessageBoxFn messageBox = {});

  void SetOwner(HWND owner) { owner_ = owner; }
  // The time-service port defaults to 123; the preview and tests use a local responder.
  void SetSpeedTestOptions(SpeedTest::Options options) { speedTest_ = options; }

  bool ChoosePolicy(const ServiceAnswer& answer, PolicyChoice& choice) override;

 private:
  HWND owner_;
  PrivateProfile& profile_;
  SettingsStore& settings_;
  BindModule& bindModule_;
  BlockedOperationRunner& restarter_;
  SpeedTest::Options speedTest_;
  MessageBoxFn messageBox_;
  // Ends the speed test's workers after OK or Cancel, so the window never waits for an echo in
  // flight; it lives as long as the program's services, and its end waits for them.
  ThreadJoiner speedTestWorkers_;
};
