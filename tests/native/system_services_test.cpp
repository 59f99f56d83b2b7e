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
    EXPECT_EQ(control_.managersOpen, 0) << "a manager was left open";
    EXPECT_EQ(control_.servicesOpen, 0) << "a service was left open";
  }

  uint32_t SleptMs() const {
    return std::accumulate(clock_.sleeps.begin(), clock_.sleeps.end(), uint32_t{0});
  }

  FakeServiceControl control_;
  FakeClock clock_;
};

// ---- starting one service ---------------------------------------------------------------------

TEST_F(ServiceRestartTest, DisabledRasManIsSwitchedToAutomaticThenStarted) {
  control_.Add(kTapiService, kRunning, 900);
  control_.Add(kRasManService, kStopped).startType = service_start::kDisabled;

  EnsureRasServicesRunning(control_, clock_);

  EXPECT_EQ(control_.ActionsOn(kRasManService), (Actions{"auto", "start"}));
  EXPECT_EQ(control_.services[kRasManService].startType, service_start::kAutomatic);
  EXPECT_EQ(control_.services[kRasManService].state, kRunning);
  EXPECT_TRUE(control_.ActionsOn(kTapiService).empty()) << "it was running";
}

TEST_F(ServiceRestartTest, ServiceAlreadyStartingOrRunningIsLeftAlone) {
  control_.Add(L"Starting", kStartPending).startType = service_start::kDisabled;
  control_.Add(L"Running", kRunning);
  std::unique_ptr<ServiceManager> manager = control_.OpenManager();

  StartServiceIfNeeded(L"Starting", manager.get(), clock_);
  StartServiceIfNeeded(L"Running", manager.get(), clock_);

  EXPECT_TRUE(control_.log.empty());
  EXPECT_TRUE(clock_.sleeps.empty());
  EXPECT_EQ(control_.services[L"Starting"].startType, service_start::kDisabled);
}

TEST_F(ServiceRestartTest, StartWaitsASecondAtATimeForAtMostTenSeconds) {
  control_.Add(L"Quick", kStopped).startPendingQueries = 2;
  control_.Add(L"Slow", kStopped).startPendingQueries = 1000;
  std::unique_ptr<ServiceManager> manager = control_.OpenManager();

  StartServiceIfNeeded(L"Quick", manager.get(), clock_);
  EXPECT_EQ(clock_.sleeps, (std::vector<uint32_t>{1000, 1000}));

  clock_.sleeps.clear();
  StartServiceIfNeeded(L"Slow", manager.get(), clock_);
  EXPECT_EQ(clock_.sleeps, std::vector<uint32_t>(10, 1000));
}

// ---- making sure they run ---------------------------------------------------------------------

TEST_F(ServiceRestartTest, EnsureStartsTelephonyFirstWhenEitherIsDown) {
  control_.Add(kTapiService, kStopped);
  control_.Add(kRasManService, kStopped);

  EnsureRasServicesRunning(control_, clock_);

  EXPECT_EQ(control_.log, (Actions{"start TapiSrv", "start RasMan"}));
}

TEST_F(ServiceRestartTest, EnsureLeavesRunningOrUnreadableServicesAlone) {
  control_.Add(kTapiService, kRunning, 900);
  control_.Add(kRasManService, kPaused, 901);
  EnsureRasServicesRunning(control_, clock_);
  EXPECT_TRUE(control_.log.empty()) << "paused counts as running";

  control_.Add(kRasManService, kStopped).failQuery = true;
  EnsureRasServicesRunning(control_, clock_);
  EXPECT_TRUE(control_.log.empty());
}

// ---- the forced restart -----------------------------------------------------------------------

TEST_F(ServiceRestartTest, RasManInItsOwnProcessIsTheOnlyOneEndedAndRestarted) {
  control_.Add(kRasManService, kRunning, 800);
  control_.Add(kTapiService, kRunning, 900);
  control_.Add(L"Dhcp", kRunning, 900);
  control_.Add(L"Spooler", kStopped);
  control_.stopDelayQueries = 3;

  RestartRasServices(control_, clock_);

  EXPECT_EQ(control_.log, (Actions{"privilege", "terminate 800", "start RasMan"}));
  EXPECT_EQ(clock_.sleeps, std::vector<uint32_t>(3, kRasManStopPollMs)) << "polled until stopped";
  EXPECT_EQ(control_.services[L"Dhcp"].processId, 900u);
  EXPECT_EQ(control_.services[kRasManService].state, kRunning);
}

TEST_F(ServiceRestartTest, ServicesSharingTheProcessComeBackButStoppedOnesStayStopped) {
  control_.Add(kRasManService, kRunning, 700);
  control_.Add(kTapiService, kRunning, 700);
  control_.Add(L"SharedHelper", kRunning, 700);
  control_.Add(L"WasStopped", kStopped);
  control_.Add(L"Elsewhere", kRunning, 701);

  RestartRasServices(control_, clock_);

  EXPECT_EQ(control_.ActionsOn(kRasManService), Actions{"start"});
  EXPECT_EQ(control_.ActionsOn(kTapiService), Actions{"start"}) << "by the passes";
  EXPECT_EQ(control_.ActionsOn(L"SharedHelper"), Actions{"start"});
  EXPECT_TRUE(control_.ActionsOn(L"WasStopped").empty());
  EXPECT_TRUE(control_.ActionsOn(L"Elsewhere").empty());
  for (const std::wstring name : {kRasManService, kTapiService, L"SharedHelper"}) {
    EXPECT_EQ(control_.services[name].state, kRunning);
  }
}

TEST_F(ServiceRestartTest, StoppedTelephonyIsStartedBeforeRasMan) {
  control_.Add(kRasManService, kRunning, 700);
  control_.Add(kTapiService, kStopped);

  RestartRasServices(control_, clock_);

  EXPECT_EQ(control_.log, (Actions{"privilege", "terminate 700", "start TapiSrv", "start RasMan"}));
}

TEST_F(ServiceRestartTest, WaitForTheStopEndsAfterAHundredPolls) {
  control_.Add(kRasManService, kRunning, 800);
  control_.Add(kTapiService, kRunning, 900);
  control_.ignoreTerminate = true;

  RestartRasServices(control_, clock_);

  EXPECT_EQ(clock_.sleeps, std::vector<uint32_t>(kRasManStopPolls, kRasManStopPollMs));
  EXPECT_EQ(control_.managerOpens, 1 + static_cast<int>(kRasManStopPolls));
  EXPECT_EQ(control_.log, (Actions{"privilege", "terminate 800"})) << "still running";
}

TEST_F(ServiceRestartTest, WaitEndsWhenTheManagerCannotBeOpenedAgain) {
  control_.Add(kRasManService, kRunning, 800);
  control_.Add(kTapiService, kStopped);
  control_.ignoreTerminate = true;
  control_.managerOpensLeft = 3;

  RestartRasServices(control_, clock_);

  EXPECT_EQ(clock_.sleeps.size(), 2u);
  EXPECT_EQ(control_.log, (Actions{"privilege", "terminate 800"}))
      << "nothing can be started without a manager";
}

TEST_F(ServiceRestartTest, NothingIsEndedUnlessBothServicesAreListed) {
  control_.Add(kRasManService, kRunning, 800);
  RestartRasServices(control_, clock_);
  EXPECT_EQ(control_.log, Actions{"privilege"});

  control_.Add(kTapiService, kRunning, 900);
  control_.failEnumerate = true;
  RestartRasServices(control_, clock_);
  EXPECT_EQ(control_.log, (Actions{"privilege", "privilege"}));
}

// ---- the blocked operation --------------------------------------------------------------------

TEST_F(ServiceRestartTest, OperationShowsItsMessageAndLastsThreeSecondsWhenAllFails) {
  BuildTextTable();
  control_.managerOpensLeft = 0;
  std::vector<std::wstring> shown;
  clock_.now = 0xFFFFF000;  // the tick count wraps during the wait

  RestartVpnRelatedServices(control_, clock_,
                            [&](const std::wstring& text) { shown.push_back(text); });

  EXPECT_EQ(shown, std::vector<std::wstring>{GetText("ApplyingNewConfigurationPleaseWait")});
  EXPECT_EQ(clock_.sleeps, std::vector<uint32_t>{kRestartMinimumMs});
}

TEST_F(ServiceRestartTest, OperationSleepsOnlyTheRestOfTheThreeSeconds) {
  control_.Add(kRasManService, kRunning, 800);
  control_.Add(kTapiService, kRunning, 900);
  control_.stopDelayQueries = 12;

  RestartVpnRelatedServices(control_, clock_, nullptr);

  EXPECT_EQ(SleptMs(), kRestartMinimumMs);
  EXPECT_EQ(clock_.sleeps.back(), kRestartMinimumMs - 12 * kRasManStopPollMs);
}

TEST_F(ServiceRestartTest, OperationAddsNothingAfterALongRestart) {
  control_.Add(kRasManService, kRunning, 800);
  control_.Add(kTapiService, kRunning, 900);
  control_.ignoreTerminate = true;

  RestartVpnRelatedServices(control_, clock_, nullptr);

  EXPECT_EQ(SleptMs(), kRasManStopPolls * kRasManStopPollMs);
}

}  // namespace
