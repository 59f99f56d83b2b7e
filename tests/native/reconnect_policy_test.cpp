#include "vpn/reconnect_policy.h"

#include <gtest/gtest.h>

#include "fakes/fake_clock.h"
#include "vpn/general_vpn.h"
#include "vpn/open_vpn.h"

namespace {

using Phase = ReconnectPolicy::Phase;

class ReconnectPolicyTest : public ::testing::Test {
 protected:
  // Runs attempts until one is due and starts it; answers its number.
  uint32_t WaitAndBegin() {
    const std::optional<uint32_t> left = policy_.DelayLeft();
    if (!left) return 0;
    clock_.now += *left;
    return policy_.BeginAttempt();
  }

  FakeClock clock_;
  uint32_t random_ = 0;
  ReconnectPolicy policy_{clock_, [this] { return random_; }};
};

}  // namespace

TEST_F(ReconnectPolicyTest, OnlyADropOfAConnectionThatWasUpReconnects) {
  EXPECT_FALSE(policy_.OnDrop(DropCause::kLinkGone));  // never up: the designed report
  policy_.OnConnected();
  policy_.SetEnabled(false);
  EXPECT_FALSE(policy_.OnDrop(DropCause::kStatisticsFailed));
  policy_.SetEnabled(true);
  for (DropCause cause : {DropCause::kStatisticsFailed, DropCause::kLinkGone,
                          DropCause::kChildEnded, DropCause::kResumed, DropCause::kNetworkMoved}) {
    policy_.OnConnected();
    EXPECT_TRUE(policy_.OnDrop(cause));
    EXPECT_EQ(policy_.phase(), Phase::kWaiting);
    policy_.Cancel();
  }
}

TEST_F(ReconnectPolicyTest, BackoffDoublesToAMinuteWithJitterOfATenth) {
  policy_.OnConnected();
  ASSERT_TRUE(policy_.OnDrop(DropCause::kLinkGone));
  const uint32_t expected[] = {2000, 4000, 8000, 16000, 32000, 60000, 60000};
  for (uint32_t i = 0; i < 7; ++i) {
    ASSERT_EQ(policy_.DelayLeft(), expected[i] - expected[i] / 10) << i;  // jitter 0
    clock_.now += expected[i] - expected[i] / 10 - 1;
    EXPECT_EQ(policy_.BeginAttempt(), 0u) << "one millisecond early";
    clock_.now += 1;
    EXPECT_EQ(policy_.BeginAttempt(), i + 1);
    EXPECT_EQ(policy_.OnAttemptFailed(GENERAL_VPN_ERROR_INTERNAL, 800), AttemptVerdict::kRetry);
  }
  random_ = 0xFFFFFFFF;  // the largest jitter for 60 s stays at a minute
  policy_.OnConnected();
  policy_.OnDrop(DropCause::kLinkGone);
  const uint32_t first = *policy_.DelayLeft();
  EXPECT_TRUE(first >= 1800 && first <= 2200) << first;
}

TEST_F(ReconnectPolicyTest, DelayCountsAcrossTheTickCountWrapping) {
  clock_.now = 0xFFFFFF00;
  policy_.OnConnected();
  policy_.OnDrop(DropCause::kLinkGone);
  clock_.now += 1800;  // wrapped
  EXPECT_EQ(policy_.BeginAttempt(), 1u);
}

TEST_F(ReconnectPolicyTest, RefusalsTheUserMustActOnStopTheAttempts) {
  struct Case {
    int32_t error;
    int32_t detail;
    bool openVpn;
  };
  for (Case refusal :
       {Case{GENERAL_VPN_ERROR_INTERNAL, 647, false}, Case{GENERAL_VPN_ERROR_INTERNAL, 648, false},
        Case{GENERAL_VPN_ERROR_INTERNAL, 649, false}, Case{GENERAL_VPN_ERROR_INTERNAL, 708, false},
        Case{OPEN_VPN_ERROR_EXEC, 0, true}, Case{OPEN_VPN_ERROR_NO_ADAPTER, 0, true},
        Case{GENERAL_VPN_ERROR_ALREADY_CONNECTED, 0, false}}) {
    policy_.OnConnected();
    policy_.OnDrop(DropCause::kLinkGone);
    ASSERT_EQ(WaitAndBegin(), 1u);
    EXPECT_EQ(policy_.OnAttemptFailed(refusal.error, refusal.detail, refusal.openVpn),
              AttemptVerdict::kStop)
        << refusal.error << " " << refusal.detail;
    EXPECT_EQ(policy_.phase(), Phase::kIdle);
    EXPECT_FALSE(policy_.DelayLeft());
  }
  // The network's errors (no answer, name not found, no default route) keep trying.
  policy_.OnConnected();
  policy_.OnDrop(DropCause::kLinkGone);
  WaitAndBegin();
  EXPECT_EQ(policy_.OnAttemptFailed(GENERAL_VPN_ERROR_INTERNAL, 868), AttemptVerdict::kRetry);
  WaitAndBegin();
  EXPECT_EQ(policy_.OnAttemptFailed(GENERAL_VPN_ERROR_GET_GATEWAY, 13), AttemptVerdict::kRetry);
  // The dial-up engine's 10 is a dial that could not start, not OpenVPN's missing adapter.
  WaitAndBegin();
  EXPECT_EQ(policy_.OnAttemptFailed(OPEN_VPN_ERROR_NO_ADAPTER, 800), AttemptVerdict::kRetry);
}

TEST_F(ReconnectPolicyTest, RefusedCredentialsLogInAgainOnceThenStop) {
  policy_.OnLoggedIn();
  policy_.OnConnected();
  policy_.OnDrop(DropCause::kLinkGone);
  WaitAndBegin();
  EXPECT_FALSE(policy_.LoginDue());
  EXPECT_EQ(policy_.OnAttemptFailed(GENERAL_VPN_ERROR_INTERNAL, 691), AttemptVerdict::kRelogin);
  WaitAndBegin();
  EXPECT_TRUE(policy_.LoginDue());
  policy_.OnLoggedIn();
  EXPECT_EQ(policy_.OnAttemptFailed(GENERAL_VPN_ERROR_INTERNAL, 691), AttemptVerdict::kStop);

  // OpenVPN's AUTH_FAILED is the same refusal; a login the service leaves unanswered is one
  // failed attempt with its backoff, and the login stays due; an account refused ends it all.
  policy_.OnConnected();
  policy_.OnDrop(DropCause::kChildEnded);
  WaitAndBegin();
  EXPECT_EQ(policy_.OnAttemptFailed(OPEN_VPN_ERROR_AUTH_FAILED, 0, true), AttemptVerdict::kRelogin);
  for (uint32_t number = 2; number <= 4; ++number) {
    ASSERT_EQ(WaitAndBegin(), number);
    EXPECT_TRUE(policy_.LoginDue());
    EXPECT_EQ(policy_.OnLoginFailed(false), AttemptVerdict::kRetry);
    EXPECT_GE(*policy_.DelayLeft(), ReconnectPolicy::BaseDelay(number + 1) * 9 / 10);
  }
  WaitAndBegin();
  EXPECT_EQ(policy_.OnLoginFailed(true), AttemptVerdict::kStop);
  EXPECT_EQ(policy_.phase(), Phase::kIdle);
}

TEST_F(ReconnectPolicyTest, LoginAnswerOlderThanItsLifetimeIsFetchedAgain) {
  policy_.OnLoggedIn();
  clock_.now += ReconnectPolicy::kLoginLifetimeMs - 1;
  EXPECT_FALSE(policy_.LoginDue());
  clock_.now += 1;
  EXPECT_TRUE(policy_.LoginDue());
}

// Disconnect or Exit at any step: waiting, dialling, asleep. Nothing the engine reports
// afterwards schedules a dial.
TEST_F(ReconnectPolicyTest, CancelAtEveryStepLeavesNothingToDial) {
  for (int step = 0; step < 3; ++step) {
    policy_.OnConnected();
    policy_.OnDrop(DropCause::kStatisticsFailed);
    if (step >= 1) WaitAndBegin();
    if (step == 2) policy_.Suspend();
    policy_.Cancel();
    EXPECT_EQ(policy_.phase(), Phase::kIdle) << step;
    EXPECT_EQ(policy_.OnAttemptFailed(GENERAL_VPN_ERROR_INTERNAL, 800), AttemptVerdict::kStop);
    policy_.Resume();
    EXPECT_FALSE(policy_.OnDrop(DropCause::kLinkGone)) << step;
    clock_.now += 120000;
    EXPECT_FALSE(policy_.DelayLeft());
    EXPECT_EQ(policy_.BeginAttempt(), 0u);
  }
}

TEST_F(ReconnectPolicyTest, SleepPausesAndWakingGoesOnWithTheCount) {
  policy_.OnConnected();
  policy_.OnDrop(DropCause::kLinkGone);
  WaitAndBegin();
  policy_.OnAttemptFailed(GENERAL_VPN_ERROR_INTERNAL, 800);
  ASSERT_EQ(WaitAndBegin(), 2u);
  policy_.Suspend();
  // The attempt's engine, stopped for the sleep, reports its end: no new attempt is scheduled.
  EXPECT_EQ(policy_.OnAttemptFailed(GENERAL_VPN_ERROR_INTERNAL, 800), AttemptVerdict::kRetry);
  EXPECT_EQ(policy_.phase(), Phase::kSuspended);
  clock_.now += 3600000;
  EXPECT_EQ(policy_.BeginAttempt(), 0u);
  policy_.Resume();
  EXPECT_EQ(WaitAndBegin(), 3u);
  policy_.OnConnected();
  EXPECT_EQ(policy_.attempt(), 0u);
}
