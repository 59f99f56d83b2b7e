#include "vpn/system_services.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_service_control.h"

using namespace service_state;
using Actions = std::vector<std::string>;

namespace {

class ServiceRestartTest : public testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(control.managersOpen, 0) << "a manager was left open";
    EXPECT_EQ(control.servicesOpen, 0) << "a service was left open";
  }

  uint32_t SleptMs() const {
    return std::accumulate(clock.sleeps.begin(), clock.sleeps.end(), uint32_t{0});
  }

  FakeServiceControl control;
  FakeClock clock;
};

// ---- starting one service ---------------------------------------------------------------------

TEST_F(ServiceRestartTest, DisabledRasManIsSwitchedToAutomaticThenStarted) {
  control.Add(kTapiService, kRunning, 900);
  control.Add(kRasManService, kStopped).startType = service_start::kDisabled;

  EnsureRasServicesRunning(control, clock);

  EXPECT_EQ(control.ActionsOn(kRasManService), (Actions{"auto", "start"}));
  EXPECT_EQ(control.services[kRasManService].startType, service_start::kAutomatic);
  EXPECT_EQ(control.services[kRasManService].state, kRunning);
  EXPECT_TRUE(control.ActionsOn(kTapiService).empty()) << "it was running";
}

TEST_F(ServiceRestartTest, ServiceAlreadyStartingOrRunningIsLeftAlone) {
  control.Add(L"Starting", kStartPending).startType = service_start::kDisabled;
  control.Add(L"Running", kRunning);
  std::unique_ptr<ServiceManager> manager = control.OpenManager();

  StartServiceIfNeeded(L"Starting", manager.get(), clock);
  StartServiceIfNeeded(L"Running", manager.get(), clock);

  EXPECT_TRUE(control.log.empty());
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(control.services[L"Starting"].startType, service_start::kDisabled);
}

TEST_F(ServiceRestartTest, StartWaitsASecondAtATimeForAtMostTenSeconds) {
  control.Add(L"Quick", kStopped).startPendingQueries = 2;
  control.Add(L"Slow", kStopped).startPendingQueries = 1000;
  std::unique_ptr<ServiceManager> manager = control.OpenManager();

  StartServiceIfNeeded(L"Quick", manager.get(), clock);
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{1000, 1000}));

  clock.sleeps.clear();
  StartServiceIfNeeded(L"Slow", manager.get(), clock);
  EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(10, 1000));
}

// ---- making sure they run ---------------------------------------------------------------------

TEST_F(ServiceRestartTest, EnsureStartsTelephonyFirstWhenEitherIsDown) {
  control.Add(kTapiService, kStopped);
  control.Add(kRasManService, kStopped);

  EnsureRasServicesRunning(control, clock);

  EXPECT_EQ(control.log, (Actions{"start TapiSrv", "start RasMan"}));
}

TEST_F(ServiceRestartTest, EnsureLeavesRunningOrUnreadableServicesAlone) {
  control.Add(kTapiService, kRunning, 900);
  control.Add(kRasManService, kPaused, 901);
  EnsureRasServicesRunning(control, clock);
  EXPECT_TRUE(control.log.empty()) << "paused counts as running";

  control.Add(kRasManService, kStopped).failQuery = true;
  EnsureRasServicesRunning(control, clock);
  EXPECT_TRUE(control.log.empty());
}

// ---- the forced restart -----------------------------------------------------------------------

TEST_F(ServiceRestartTest, RasManInItsOwnProcessIsTheOnlyOneEndedAndRestarted) {
  control.Add(kRasManService, kRunning, 800);
  control.Add(kTapiService, kRunning, 900);
  control.Add(L"Dhcp", kRunning, 900);
  control.Add(L"Spooler", kStopped);
  control.stopDelayQueries = 3;

  RestartRasServices(control, clock);

  EXPECT_EQ(control.log, (Actions{"privilege", "terminate 800", "start RasMan"}));
  EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(3, kRasManStopPollMs)) << "polled until stopped";
  EXPECT_EQ(control.services[L"Dhcp"].processId, 900u);
  EXPECT_EQ(control.services[kRasManService].state, kRunning);
}

TEST_F(ServiceRestartTest, ServicesSharingTheProcessComeBackButStoppedOnesStayStopped) {
  control.Add(kRasManService, kRunning, 700);
  control.Add(kTapiService, kRunning, 700);
  control.Add(L"SharedHelper", kRunning, 700);
  control.Add(L"WasStopped", kStopped);
  control.Add(L"Elsewhere", kRunning, 701);

  RestartRasServices(control, clock);

  EXPECT_EQ(control.ActionsOn(kRasManService), Actions{"start"});
  EXPECT_EQ(control.ActionsOn(kTapiService), Actions{"start"}) << "by the passes";
  EXPECT_EQ(control.ActionsOn(L"SharedHelper"), Actions{"start"});
  EXPECT_TRUE(control.ActionsOn(L"WasStopped").empty());
  EXPECT_TRUE(control.ActionsOn(L"Elsewhere").empty());
  for (const std::wstring name : {kRasManService, kTapiService, L"SharedHelper"}) {
    EXPECT_EQ(control.services[name].state, kRunning);
  }
}

TEST_F(ServiceRestartTest, StoppedTelephonyIsStartedBeforeRasMan) {
  control.Add(kRasManService, kRunning, 700);
  control.Add(kTapiService, kStopped);

  RestartRasServices(control, clock);

  EXPECT_EQ(control.log, (Actions{"privilege", "terminate 700", "start TapiSrv", "start RasMan"}));
}

TEST_F(ServiceRestartTest, WaitForTheStopEndsAfterAHundredPolls) {
  control.Add(kRasManService, kRunning, 800);
  control.Add(kTapiService, kRunning, 900);
  control.ignoreTerminate = true;

  RestartRasServices(control, clock);

  EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(kRasManStopPolls, kRasManStopPollMs));
  EXPECT_EQ(control.managerOpens, 1 + static_cast<int>(kRasManStopPolls));
  EXPECT_EQ(control.log, (Actions{"privilege", "terminate 800"})) << "still running";
}

TEST_F(ServiceRestartTest, WaitEndsWhenTheManagerCannotBeOpenedAgain) {
  control.Add(kRasManService, kRunning, 800);
  control.Add(kTapiService, kStopped);
  control.ignoreTerminate = true;
  control.managerOpensLeft = 3;

  RestartRasServices(control, clock);

  EXPECT_EQ(clock.sleeps.size(), 2u);
  EXPECT_EQ(control.log, (Actions{"privilege", "terminate 800"}))
      << "nothing can be started without a manager";
}

TEST_F(ServiceRestartTest, NothingIsEndedUnlessBothServicesAreListed) {
  control.Add(kRasManService, kRunning, 800);
  RestartRasServices(control, clock);
  EXPECT_EQ(control.log, Actions{"privilege"});

  control.Add(kTapiService, kRunning, 900);
  control.failEnumerate = true;
  RestartRasServices(control, clock);
  EXPECT_EQ(control.log, (Actions{"privilege", "privilege"}));
}

// ---- the blocked operation --------------------------------------------------------------------

TEST_F(ServiceRestartTest, OperationShowsItsMessageAndLastsThreeSecondsWhenAllFails) {
  BuildTextTable();
  control.managerOpensLeft = 0;
  std::vector<std::wstring> shown;
  clock.now = 0xFFFFF000;  // the tick count wraps during the wait

  RestartVpnRelatedServices(control, clock,
                            [&](const std::wstring& text) { shown.push_back(text); });

  EXPECT_EQ(shown, std::vector<std::wstring>{GetText("ApplyingNewConfigurationPleaseWait")});
  EXPECT_EQ(clock.sleeps, std::vector<uint32_t>{kRestartMinimumMs});
}

TEST_F(ServiceRestartTest, OperationSleepsOnlyTheRestOfTheThreeSeconds) {
  control.Add(kRasManService, kRunning, 800);
  control.Add(kTapiService, kRunning, 900);
  control.stopDelayQueries = 12;

  RestartVpnRelatedServices(control, clock, nullptr);

  EXPECT_EQ(SleptMs(), kRestartMinimumMs);
  EXPECT_EQ(clock.sleeps.back(), kRestartMinimumMs - 12 * kRasManStopPollMs);
}

TEST_F(ServiceRestartTest, OperationAddsNothingAfterALongRestart) {
  control.Add(kRasManService, kRunning, 800);
  control.Add(kTapiService, kRunning, 900);
  control.ignoreTerminate = true;

  RestartVpnRelatedServices(control, clock, nullptr);

  EXPECT_EQ(SleptMs(), kRasManStopPolls * kRasManStopPollMs);
}

}  // namespace
