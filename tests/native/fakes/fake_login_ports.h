// Stand-ins for the ports of the login exchange and the main window: a scripted fetch dialog,
// a policy choice made in code, engines whose connection the test drives, and a view that
// records what the user would have seen.
#pragma once

#include <atomic>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_clock.h"
#include "service/login_exchange.h"
#include "service/policy_chooser.h"
#include "vpn/error_advice.h"
#include "vpn/general_vpn.h"

class FakeLoginFetcher : public LoginFetcher {
 public:
  struct Answer {
    Result result = Result::kOk;
    std::string body;
    // How long the dialog stays open before it has this answer: a service that does not
    // answer keeps it open for its whole timeout.
    uint32_t takesMs = 0;
  };
  struct Call {
    std::vector<std::wstring> urls;
    bool requireMarker;
  };

  Result Fetch(const std::vector<std::wstring>& urls, bool requireMarker,
               std::string& body) override {
    calls.push_back({urls, requireMarker});
    if (whileOpen) whileOpen();
    if (answers.empty()) return Result::kFailed;
    Answer answer = std::move(answers.front());
    answers.pop_front();
    if (clock != nullptr) clock->now += answer.takesMs;
    body = std::move(answer.body);
    return answer.result;
  }

  std::deque<Answer> answers;
  std::vector<Call> calls;
  // The clock the answers' time passes on, when a test gives one.
  FakeClock* clock = nullptr;
  // What the user does while the dialog is open (Exit from the tray, say).
  std::function<void()> whileOpen;
};

class FakeUpdateCheck : public OnlineUpdateCheck {
 public:
  int Check(const ServiceAnswer& answer) override {
    answers.push_back(answer);
    if (whileOpen) whileOpen();
    return result;
  }
  int result = kContinue;
  std::vector<ServiceAnswer> answers;
  // What happens while its boxes or its download dialog are open.
  std::function<void()> whileOpen;
};

class FakePolicyChooser : public PolicyChooser {
 public:
  bool ChoosePolicy(const ServiceAnswer& answer, PolicyChoice& picked) override {
    ++calls;
    offered = answer;
    recordExisted = !record.empty() && std::filesystem::exists(std::filesystem::path(record));
    if (whileOpen) whileOpen();
    if (!accept) return false;
    picked = choice;
    return true;
  }
  bool accept = true;
  PolicyChoice choice;
  int calls = 0;
  std::function<void()> whileOpen;
  // The answer the dialog was shown.
  ServiceAnswer offered;
  // Where the login keeps its record, and whether it was there while the dialog was open.
  std::wstring record;
  bool recordExisted = false;
};

// An engine whose connection is whatever the test says.
class FakeEngine : public CGeneralVpn {
 public:
  FakeEngine(RouteTable& routes, TickClock& clock, int32_t tunnelType)
      : CGeneralVpn(routes, clock, nullptr), tunnelType(tunnelType) {}

  ~FakeEngine() override { StopWorker(); }

  int32_t StartTunnel() override {
    ++connects;
    StoreError(connectResult == GENERAL_VPN_ERROR_ALREADY_CONNECTED ? connectResult : connectError,
               errorDetail);
    return connectResult;
  }
  void StopTunnel() override { ++disconnects; }
  int32_t GetStatistics(uint32_t& s, uint32_t& r, int32_t& detail) override {
    if (statisticsFail) {
      detail = 628;
      return GENERAL_VPN_ERROR_INTERNAL;
    }
    s = sent;
    r = received;
    detail = 0;
    return 0;
  }
  std::wstring GetErrorDetailText(int32_t detail) override {
    return detail == 0 ? L"" : L"detail " + std::to_wstring(detail);
  }
  // As the dial-up engine advises: by the dial-up error in the detail.
  std::wstring ErrorAdvice(int32_t, int32_t detail) override { return RasErrorAdvice(detail); }

  // The status of the engine's next report: `newState` and `newError` with the addresses and
  // failed routes set below.
  VpnStatus Reach(uint32_t newState, int32_t newError = 0) {
    StoreState(newState, newError, errorDetail);
    VpnStatus status = Status();
    status.sequence = ++reports;
    status.localAddress = localAddress;
    status.failedRoutes = failedRoutes;
    return status;
  }

  const int32_t tunnelType;
  int32_t connectResult = 0;
  int32_t connectError = 0;
  int32_t errorDetail = 0;
  std::wstring localAddress;
  std::vector<std::wstring> failedRoutes;
  uint32_t reports = 0;
  std::atomic<int> connects = 0;
  std::atomic<int> disconnects = 0;
  bool statisticsFail = false;
  uint32_t sent = 0;
  uint32_t received = 0;
};

class FakeEngineFactory : public EngineFactory {
 public:
  FakeEngineFactory(RouteTable& routes, TickClock& clock) : routes_(routes), clock_(clock) {}
  std::unique_ptr<CGeneralVpn> CreateEngine(int32_t tunnelType) override {
    types.push_back(tunnelType);
    if (tunnelType < 1 || tunnelType > 3) return nullptr;
    auto engine = std::make_unique<FakeEngine>(routes_, clock_, tunnelType);
    if (prepare) prepare(*engine);
    last = engine.get();
    return engine;
  }
  std::vector<int32_t> types;
  FakeEngine* last = nullptr;
  std::function<void(FakeEngine&)> prepare;

 private:
  RouteTable& routes_;
  TickClock& clock_;
};

// What the login exchange showed, in order.
class RecordingLoginView : public virtual LoginView {
 public:
  struct Box {
    std::wstring text;
    MessageIcon icon;
  };
  void SetStatus(const std::wstring& text, bool showBox) override {
    status = text;
    statuses.push_back(text);
    if (showBox) boxes.push_back({text, MessageIcon::kNone});
  }
  void ShowMessage(const std::wstring& text, MessageIcon icon) override {
    boxes.push_back({text, icon});
  }
  void SetExpiryText(const std::wstring& text) override { expiry = text; }
  void OpenWebPage(const std::wstring& url) override { pages.push_back(url); }

  std::wstring status;
  std::vector<std::wstring> statuses;
  std::vector<Box> boxes;
  std::wstring expiry;
  std::vector<std::wstring> pages;
};

// A service answer: the marker, section "VPN" with `vpn` lines, then any further text.
inline std::string ServiceAnswer(const std::string& vpn, const std::string& rest = "") {
  return "MagicTag=VpnServerResponse\r\n[VPN]\r\nRequiredClientVersion=2.1.0.0\r\n" + vpn + rest;
}

inline const std::string kTwoServersOneRouteSet =
    "[Servers]\r\nServerId0=101\r\nServerHost0=vpn1.example.com\r\nProtocols0=l2tp\r\n"
    "PPTPUseMPPE0=1\r\nServerId1=102\r\nServerHost1=vpn2.example.com\r\nProtocols1=pptp\r\n"
    "[Routes]\r\nTitle0=Overseas\r\nRouteId0=overseas\r\n";
