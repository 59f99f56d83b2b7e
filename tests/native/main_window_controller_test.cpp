#include "app/main_window_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/adapter_repairs.h"
#include "base/text.h"
#include "config/memory_overlay_profile.h"
#include "config/native_private_profile.h"
#include "config/text_table.h"
#include "fakes/fake_bind_module.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_data_protection.h"
#include "fakes/fake_dns_guard.h"
#include "fakes/fake_host_probe.h"
#include "fakes/fake_local_machine_registry.h"
#include "fakes/fake_login_ports.h"
#include "fakes/fake_registry_profile.h"
#include "fakes/fake_route_table.h"

namespace {

namespace fs = std::filesystem;
using namespace main_window;
using namespace std::string_literals;

class FakeMainView : public RecordingLoginView, public MainWindowView {
 public:
  void EnableConnect(bool enable) override { connectEnabled = enable; }
  void EnableDisconnect(bool enable) override { disconnectEnabled = enable; }
  bool AskYesNo(const std::wstring& text, bool defaultNo) override {
    questions.push_back(text);
    questionDefaultsNo.push_back(defaultNo);
    if (onQuestion) onQuestion();
    return answerYes;
  }
  std::wstring UserName() override { return user; }
  std::wstring Password() override { return password; }
  bool SavePasswordChecked() override { return savePassword; }
  void SetUserName(const std::wstring& text) override { user = text; }
  void SetPassword(const std::wstring& text) override { password = text; }
  void SetSavePasswordChecked(bool checked) override { savePassword = checked; }
  std::wstring NewsLink(int slot) override { return links[slot]; }
  void ShowMainWindow() override {
    ++shows;
    visible = true;
  }
  void HideMainWindow() override { visible = false; }
  void StartTimer(uint32_t id, uint32_t ms) override { timers[id] = ms; }
  void StopTimer(uint32_t id) override { timers.erase(id); }
  void CloseMainWindow() override { closed = true; }
  void SetStatus(const std::wstring& text, bool showBox) override {
    RecordingLoginView::SetStatus(text, showBox);
    if (showBox && onBox) onBox();
  }
  void ShowMessage(const std::wstring& text, MessageIcon icon) override {
    RecordingLoginView::ShowMessage(text, icon);
    if (onBox) onBox();
  }
  std::wstring BuildDate() override { return L"2026-01-02"; }
  void ShowAbout(const std::wstring& text) override {
    about = text;
    if (onBox) onBox();
  }

  bool connectEnabled = false;
  bool disconnectEnabled = true;
  bool answerYes = false;
  std::vector<std::wstring> questions;
  std::vector<bool> questionDefaultsNo;
  std::wstring user = L"demo";
  std::wstring password = L"demo123";
  bool savePassword = true;
  std::wstring links[kNewsSlots];
  int shows = 0;
  bool visible = true;
  std::map<uint32_t, uint32_t> timers;
  bool closed = false;
  std::wstring about;
  // Runs while an OK box (a message, a status with its box, About) is open.
  std::function<void()> onBox;
  // Runs while a question is open, as the box's own message loop would.
  std::function<void()> onQuestion;
};

class FakeTray : public TrayIcon {
 public:
  void SetIcon(uint32_t id) override { icons.push_back(id); }
  void ShowBalloon(const std::wstring& text) override { balloons.push_back(text); }
  void SetTip(const std::wstring& text) override { tip = text; }
  void SetMenuItem(uint32_t id, const std::wstring& text, bool checked) override {
    menu[id] = {text, checked};
  }
  bool Shown() const override { return shown; }
  bool shown = true;
  std::wstring tip;
  std::map<uint32_t, std::pair<std::wstring, bool>> menu;
  std::vector<uint32_t> icons;
  std::vector<std::wstring> balloons;
};

class CountingRas : public RasServices {
 public:
  void EnsureRasServicesRunning() override { ++checks; }
  int checks = 0;
};

class RecordingRepairs : public AdapterRepairs {
 public:
  void FixBindingOrder() override { calls.push_back(L"binding"); }
  void CheckDhcp(const std::wstring& address) override {
    calls.push_back(L"dhcp " + address);
    if (onDhcp) onDhcp(address);
  }
  std::vector<std::wstring> calls;
  std::function<void(const std::wstring&)> onDhcp;
};

class FakeMachine : public MachineIdentity {
 public:
  bool IsWindows2000() override { return windows2000; }
  ClientIdentity Read(bool withBios) override {
    biosAsked.push_back(withBios);
    return {withBios ? "bios" : "", "disk", "adapters"};
  }
  bool windows2000 = false;
  std::vector<bool> biosAsked;
};

class RecordingAnnouncements : public Announcements {
 public:
  void ShowAnnouncements(bool storedOnly) override {
    calls.push_back(storedOnly);
    if (whileOpen) whileOpen();
  }
  void HoldAnswer(std::string answer) override { held.push_back(std::move(answer)); }
  std::vector<bool> calls;
  std::vector<std::string> held;
  // While its boxes or the update check it runs are open.
  std::function<void()> whileOpen;
};

class NullCallback : public CGeneralVpnCallbackInterface {
 public:
  void OnVpnStateChanged(CGeneralVpn*, const VpnStatus&) override {}
};

const std::string kAnnouncement = "MagicTag=VpnServerResponse\r\n[VPN]\r\nClientIP=203.0.113.7\r\n";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildTextTable();
    dir_ =
        fs::temp_directory_path() /
        ("kv_main_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
    exe_ = AnsiToWide((dir_ / "Kavrin.exe").string());
    MakeController(L"main");
    policy_.choice.routes = RouteSetChoice::AllTraffic();
    policy_.choice.tunnelType = 1;
    registry_.Put(L"Main", L"Tip_HideAfterConnection", uint32_t{1});
    settings_.SaveCredentials(L"demo", L"demo123");
  }
  void MakeController(const std::wstring& referralTag) {
    MainWindowSettings settings;
    settings.builtInLoginHosts = L"http://a/;;http://b/;http://c/";
    settings.referralTag = referralTag;
    settings.responseRecord = AnsiToWide((dir_ / "Kavrin.ini").string());
    policy_.record = settings.responseRecord;
    settings.announcementFile = AnsiToWide((dir_ / "KavrinAnns.ini").string());
    settings.keepRecords = keepRecords_;
    MainWindowPorts ports{.view = view_,
                          .settings = settings_,
                          .programSettings = program_,
                          .tray = tray_,
                          .rasServices = ras_,
                          .repairs = repairs_,
                          .machine = machine_,
                          .announcements = news_,
                          .bind = bind_,
                          .probes = probes_,
                          .fetcher = fetcher_,
                          .update = update_,
                          .policy = policy_,
                          .engines = engines_,
                          .random = [] { return 1; },
                          .now = [] { return int64_t{1700000000}; },
                          .engineCallback = callback_,
                          .clock = reconnectClock_,
                          .routeTable = &routes_,
                          .sessionReports = [this](const SessionReport& report) {
                            sessionReports_.push_back(report.kind);
                            log_.push_back(SessionReportText(report));
                          },
                          .trafficGuard = &trafficGuard_,
                          .resolve = [](const std::wstring& host) {
                            return host == L"vpn1.example.com" ? Ip("203.0.113.9")
                                   : host == L"a"             ? Ip("198.51.100.1")
                                                              : 0u;
                          },
                          .openConnectionLog = [this] { ++logWindowsOpened_; }};
    controller_ = std::make_unique<MainWindowController>(std::move(ports), std::move(settings));
  }
  void TearDown() override {
    controller_.reset();
    fs::remove_all(dir_);
  }

  void End(FakeProbe* probe, int32_t status, std::string body) {
    probe->status = status;
    probe->complete = true;
    probe->body = std::move(body);
    controller_->OnHostProbeEvent(kRequestEnded, probe);
  }
  // Initialises the window and lets host `winner` answer the race.
  void StartWithHost(size_t winner = 0) {
    controller_->Initialize();
    std::vector<FakeProbe*> pass = probes_.live;
    End(pass[winner], 200, kAnnouncement);
    for (size_t i = 0; i < pass.size(); ++i) {
      if (i != winner) End(pass[i], 0, "");
    }
  }
  // Logs in and starts an engine; returns it.
  FakeEngine& Connected() {
    StartWithHost();
    fetcher_.answers.push_back(
        {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
    controller_->OnCommand(kConnect);
    return Started(*engines_.last);
  }
  // The engine's worker has run its part of Connect; a failure it reported reaches the window.
  FakeEngine& Started(FakeEngine& engine) {
    engine.Flush();
    const VpnStatus status = engine.Status();
    if (status.sequence > 0) {
      engine.reports = status.sequence;
      controller_->OnEngineReport(&engine, status);
    }
    return engine;
  }
  // The engine stopped last finishes its restore, and its last report reaches the window.
  void FinishRestore() {
    CGeneralVpn* retired = controller_->retiredEngine();
    ASSERT_NE(retired, nullptr);
    ASSERT_TRUE(retired->WaitFinished(60000));
    controller_->OnEngineReport(retired, retired->Status());
  }
  void Report(FakeEngine& engine, uint32_t state, int32_t error = 0) {
    controller_->OnEngineReport(&engine, engine.Reach(state, error));
  }

  fs::path dir_;
  std::wstring exe_;
  FakeMainView view_;
  FakeRegistryProfile registry_;
  FakeDataProtection protection_;
  SettingsStore settings_{registry_, protection_};
  NativePrivateProfile files_;
  MemoryOverlayProfile profile_{files_};
  bool keepRecords_ = true;
  ProgramSettings program_{profile_, exe_};
  FakeClock clock_;
  // The window's own, apart from the one the engines' workers sleep on.
  FakeClock reconnectClock_;
  FakeTray tray_;
  CountingRas ras_;
  RecordingRepairs repairs_;
  FakeMachine machine_;
  RecordingAnnouncements news_;
  FakeBindModule bind_;
  FakeProbes probes_;
  FakeLoginFetcher fetcher_;
  FakeUpdateCheck update_;
  FakePolicyChooser policy_;
  FakeRouteTable routes_;
  FakeTrafficGuard trafficGuard_;
  std::vector<SessionReport::Kind> sessionReports_;
  // The lines the connection log would get.
  std::vector<std::wstring> log_;
  int logWindowsOpened_ = 0;
  FakeEngineFactory engines_{routes_, clock_};
  NullCallback callback_;
  std::unique_ptr<MainWindowController> controller_;
};

}  // namespace

TEST_F(MainWindowTest, InitialisationFillsTheFormAndStartsTheRace) {
  settings_.SaveCredentials(L"alice", L"pw");
  settings_.SetSavePassword(false);
  view_.user.clear();
  view_.password.clear();
  controller_->Initialize();
  EXPECT_EQ(view_.user, L"alice");
  EXPECT_EQ(view_.password, L"pw");
  EXPECT_FALSE(view_.savePassword);
  EXPECT_TRUE(view_.connectEnabled);
  EXPECT_FALSE(view_.disconnectEnabled);
  EXPECT_EQ(view_.status, GetText("Ready"));
  EXPECT_EQ(view_.timers, (std::map<uint32_t, uint32_t>{{kWatchTimer, 1000}}));
  EXPECT_EQ(news_.calls, std::vector<bool>{true});
  EXPECT_EQ(probes_.urls,
            (std::vector<std::wstring>{L"http://a/client_announcements.php?v=2.1.0.0",
                                       L"http://b/client_announcements.php?v=2.1.0.0",
                                       L"http://c/client_announcements.php?v=2.1.0.0"}));
}

TEST_F(MainWindowTest, RaceTakesTheFirstValidAnswerAndKeepsItsHost) {
  controller_->Initialize();
  auto pass = probes_.live;
  End(pass[1], 200, "no marker here");
  End(pass[2], 200, kAnnouncement);
  EXPECT_EQ(controller_->loginHost(), L"http://c/");
  EXPECT_EQ(news_.calls, (std::vector<bool>{true, false}));
  std::ifstream saved(dir_ / "KavrinAnns.ini", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), kAnnouncement);

  End(pass[0], 200, kAnnouncement);  // a later good answer changes nothing
  EXPECT_EQ(controller_->loginHost(), L"http://c/");
  EXPECT_EQ(controller_->pendingProbes(), 0u);
  EXPECT_EQ(view_.timers.count(kRaceTimer), 0u);
}

TEST_F(MainWindowTest, AnswerTheNewsFileCannotTakeStillChoosesTheHost) {
  fs::create_directories(dir_ / "KavrinAnns.ini");  // nothing can be written there
  controller_->Initialize();
  End(probes_.live[1], 200, kAnnouncement);
  EXPECT_EQ(controller_->loginHost(), L"http://b/");
  EXPECT_EQ(news_.held, std::vector<std::string>{kAnnouncement});
  EXPECT_EQ(news_.calls, (std::vector<bool>{true, false}));
}

// The news is judged from the bytes received, even when its file took them.
TEST_F(MainWindowTest, NewsIsHeldAsReceived) {
  controller_->Initialize();
  End(probes_.live[1], 200, kAnnouncement);
  EXPECT_EQ(news_.held, std::vector<std::string>{kAnnouncement});
  EXPECT_TRUE(fs::exists(dir_ / "KavrinAnns.ini"));
}

// Where the data folder is not ours neither answer is written there, and the login still goes
// through.
TEST_F(MainWindowTest, NothingIsWrittenWhereTheDataFolderIsNotOurs) {
  keepRecords_ = false;
  MakeController(L"main");
  Connected();
  EXPECT_FALSE(fs::exists(dir_ / "KavrinAnns.ini"));
  EXPECT_FALSE(policy_.recordExisted);
}

TEST_F(MainWindowTest, CutOffAnswerDoesNotWin) {
  controller_->Initialize();
  auto pass = probes_.live;
  pass[0]->complete = false;
  pass[0]->status = 200;
  pass[0]->body = kAnnouncement;
  controller_->OnHostProbeEvent(kRequestEnded, pass[0]);
  EXPECT_TRUE(controller_->loginHost().empty());
}

TEST_F(MainWindowTest, FailedPassRetriesFiveSecondsAfterItsLastRequest) {
  controller_->Initialize();
  auto pass = probes_.live;
  controller_->OnHostProbeEvent(3, pass[0]);  // progress events do not count
  End(pass[0], 500, "");
  End(pass[1], 0, "");
  EXPECT_EQ(view_.timers.count(kRaceTimer), 0u);
  End(pass[2], 200, "");
  EXPECT_EQ(view_.timers.at(kRaceTimer), 5000u);
  EXPECT_EQ(controller_->pendingProbes(), 0u);

  controller_->OnTimer(kRaceTimer);
  EXPECT_EQ(view_.timers.count(kRaceTimer), 0u);
  EXPECT_EQ(probes_.urls.size(), 6u);
  EXPECT_EQ(controller_->pendingProbes(), 3u);
}

TEST_F(MainWindowTest, RequestsThatCannotStartDoNotStallTheRace) {
  probes_.startResult = false;
  controller_->Initialize();
  EXPECT_EQ(view_.timers.at(kRaceTimer), 5000u);
  EXPECT_EQ(controller_->pendingProbes(), 0u);
}

TEST_F(MainWindowTest, FirstConnectEverShowsTheTipOnce) {
  registry_.Put(L"Main", L"Tip_HideAfterConnection", uint32_t{0});
  StartWithHost();
  fetcher_.answers.push_back({LoginFetcher::Result::kCancelled, ""});
  fetcher_.answers.push_back({LoginFetcher::Result::kCancelled, ""});
  controller_->OnCommand(kConnect);
  controller_->OnCommand(kConnect);
  int tips = 0;
  for (const auto& box : view_.boxes) tips += box.text == GetText("FirstClickConnect");
  EXPECT_EQ(tips, 1);
  EXPECT_TRUE(settings_.GetTipHideAfterConnection());
  EXPECT_EQ(ras_.checks, 2);
}

// Connect goes no further than the tip when Exit comes while it is open.
TEST_F(MainWindowTest, ExitWhileTheTipIsOpenStartsNoLogin) {
  registry_.Put(L"Main", L"Tip_HideAfterConnection", uint32_t{0});
  StartWithHost();
  view_.onBox = [&] { controller_->OnCommand(kTrayExit); };
  controller_->OnCommand(kConnect);
  EXPECT_TRUE(view_.closed);
  EXPECT_TRUE(fetcher_.calls.empty());
  EXPECT_EQ(ras_.checks, 0);
  EXPECT_TRUE(settings_.GetTipHideAfterConnection());
}

TEST_F(MainWindowTest, ConnectWaitsForAHostThenGivesUp) {
  controller_->Initialize();
  controller_->OnCommand(kConnect);
  EXPECT_FALSE(view_.connectEnabled);
  EXPECT_EQ(view_.timers[kHostWaitTimer], kHostWaitMs);
  controller_->OnTimer(kHostWaitTimer);
  EXPECT_EQ(view_.timers.count(kHostWaitTimer), 0u);
  EXPECT_TRUE(view_.connectEnabled);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].text, GetText("CanNotFindFastestServer"));
  EXPECT_EQ(ras_.checks, 0);
  EXPECT_TRUE(fetcher_.calls.empty());
}

TEST_F(MainWindowTest, HostAnsweringDuringTheWaitLetsTheLoginGoOn) {
  controller_->Initialize();
  controller_->OnCommand(kConnect);
  End(probes_.live[1], 200, kAnnouncement);
  ASSERT_EQ(fetcher_.calls.size(), 1u);
  EXPECT_EQ(fetcher_.calls[0].urls[0].rfind(L"http://b/client_login.php?", 0), 0u);
  EXPECT_EQ(view_.timers.count(kHostWaitTimer), 0u);
}

TEST_F(MainWindowTest, ExitWhileWaitingForAHostEndsTheWait) {
  controller_->Initialize();
  controller_->OnCommand(kConnect);
  controller_->Exit();
  EXPECT_EQ(view_.timers.count(kHostWaitTimer), 0u);
  controller_->OnTimer(kHostWaitTimer);  // a tick already queued
  EXPECT_TRUE(view_.boxes.empty());
  EXPECT_TRUE(fetcher_.calls.empty());
}

TEST_F(MainWindowTest, GoodStartSwapsTheButtons) {
  FakeEngine& engine = Connected();
  EXPECT_EQ(engine.connects, 1);
  EXPECT_EQ(engine.callback.load(), &callback_);
  EXPECT_FALSE(view_.connectEnabled);
  EXPECT_TRUE(view_.disconnectEnabled);
  EXPECT_EQ(controller_->routeChoice(), RouteSetChoice::AllTraffic());
}

TEST_F(MainWindowTest, EnterActsAsConnectOnlyWhileConnectCanBePressed) {
  FakeEngine& engine = Connected();
  const size_t logins = fetcher_.calls.size();
  controller_->OnEnter();  // connected: Connect is disabled
  EXPECT_EQ(fetcher_.calls.size(), logins);
  EXPECT_EQ(engine.connects, 1);

  controller_->OnCommand(kDisconnect);
  fetcher_.answers.push_back({LoginFetcher::Result::kCancelled, ""});
  controller_->OnEnter();
  EXPECT_EQ(fetcher_.calls.size(), logins) << "not before the restore is done";
  FinishRestore();
  controller_->OnEnter();
  EXPECT_EQ(fetcher_.calls.size(), logins + 1) << "Enter logs in again once Connect is back";
}

TEST_F(MainWindowTest, FailedStartReportsTheEngineAndStops) {
  engines_.prepare = [](FakeEngine& e) {
    e.connectResult = 10;
    e.connectError = 10;
    e.errorDetail = 1;
  };
  FakeEngine& engine = Connected();
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  EXPECT_EQ(controller_->retiredEngine(), &engine);
  EXPECT_EQ(view_.status, L"detail 1");
  ASSERT_FALSE(view_.boxes.empty());
  // The report as it stood before the stop reset the engine.
  EXPECT_NE(view_.boxes.back().text.find(L":detail 1\r\n"), std::wstring::npos);
  EXPECT_FALSE(view_.connectEnabled) << "not while the engine restores";
  FinishRestore();
  ASSERT_TRUE(engine.WaitFinished(60000));
  EXPECT_EQ(engine.disconnects, 1);
  EXPECT_EQ(view_.status, L"detail 1");
  EXPECT_TRUE(view_.connectEnabled);
  EXPECT_FALSE(view_.disconnectEnabled);
  EXPECT_EQ(tray_.icons.back(), kIconIdle);
}

TEST_F(MainWindowTest, ExistingConnectionIsReportedAndKept) {
  engines_.prepare = [](FakeEngine& e) { e.connectResult = GENERAL_VPN_ERROR_ALREADY_CONNECTED; };
  FakeEngine& engine = Connected();
  EXPECT_EQ(controller_->currentEngine(), &engine);
  EXPECT_EQ(view_.boxes.back().text, GetText("VpnConnectionAlreadyExistsCloseFirst"));
  EXPECT_TRUE(view_.disconnectEnabled);
}

TEST_F(MainWindowTest, MoreThanTenFailedRoutesListTenAndAnEllipsis) {
  FakeEngine& engine = Connected();
  for (int i = 1; i <= 12; ++i) engine.failedRoutes.push_back(L"r" + std::to_wstring(i));
  Report(engine, GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE);
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.questions[0], GetText("CannotModifyFollowingRoutesContinueYesOrNot") +
                                    L"r1\r\nr2\r\nr3\r\nr4\r\nr5\r\nr6\r\nr7\r\nr8\r\nr9\r\nr10"
                                    L"\r\n...");
  // No: the connection goes.
  EXPECT_EQ(view_.status, GetText("CannotModifyRoutes"));
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  ASSERT_TRUE(engine.WaitFinished(60000));
  EXPECT_EQ(engine.disconnects, 1);
}

TEST_F(MainWindowTest, GoingOnDespiteFailedRoutesKeepsTheConnection) {
  FakeEngine& engine = Connected();
  engine.failedRoutes = {L"10.0.0.0 mask 255.0.0.0"};
  view_.answerYes = true;
  Report(engine, GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE);
  EXPECT_EQ(view_.questions[0],
            GetText("CannotModifyFollowingRoutesContinueYesOrNot") + L"10.0.0.0 mask 255.0.0.0");
  EXPECT_EQ(view_.status, GetText("LoginWithCannotModifyAllRoutes"));
  EXPECT_TRUE(controller_->connected());
  EXPECT_EQ(controller_->currentEngine(), &engine);
}

TEST_F(MainWindowTest, AllDoneHidesToTheTrayAndRepairsTheAdapter) {
  policy_.choice.routes = RouteSetChoice::Applications();
  FakeEngine& engine = Connected();
  bind_.loaded = true;
  engine.localAddress = L"10.8.0.6";
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(view_.status, engine.GetStateText(GENERAL_VPN_STATE_ALL_DONE));
  EXPECT_EQ(bind_.startCount, 8u);
  EXPECT_EQ(bind_.startAddress, Ip("10.8.0.6"));
  EXPECT_EQ(tray_.icons.back(), kIconConnected);
  EXPECT_EQ(tray_.balloons, std::vector<std::wstring>{GetText("LoginOKClickToOpenMainWindow")});
  EXPECT_FALSE(view_.visible);
  EXPECT_TRUE(controller_->connected());
  EXPECT_EQ(repairs_.calls, (std::vector<std::wstring>{L"binding", L"dhcp 10.8.0.6"}));

  // Disconnect stops the binding module too.
  controller_->OnCommand(kDisconnect);
  EXPECT_EQ(bind_.calls.back(), FakeBindModule::Call::kStop);
  EXPECT_FALSE(controller_->routeChoice());
  EXPECT_EQ(view_.status, GetText("AlreadyDisconnected"));
}

TEST_F(MainWindowTest, DhcpOnTheTunnelAddressIsSwitchedOffForDialUpTunnelsOnly) {
  // An interface whose DHCP gave it the tunnel's address. For OpenVPN that is the TAP adapter
  // itself, which its driver serves by DHCP.
  FakeLocalMachineRegistry machine;
  const std::wstring adapter = std::wstring(kTcpipInterfacesKey) + L"\\{TAP}";
  machine.keys[kTcpipInterfacesKey];
  machine.SetUnits(adapter, L"DhcpIPAddress", registry::kTypeText, u"10.8.0.6"s + u'\0');
  machine.SetDword(adapter, L"EnableDHCP", 1);
  RegistryAdapterRepairs repairs(machine, 10, [&] { controller_->OnDhcpSwitchedOff(); });
  repairs_.onDhcp = [&](const std::wstring& address) { repairs.CheckDhcp(address); };

  policy_.choice.tunnelType = 3;
  FakeEngine& openvpn = Connected();
  openvpn.localAddress = L"10.8.0.6";
  Report(openvpn, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(machine.Dword(adapter, L"EnableDHCP"), 1u);
  EXPECT_TRUE(view_.boxes.empty());
  EXPECT_EQ(controller_->currentEngine(), &openvpn);
  EXPECT_TRUE(controller_->connected());
  controller_->OnCommand(kDisconnect);
  FinishRestore();

  policy_.choice.tunnelType = 2;
  fetcher_.answers.push_back(
      {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
  controller_->OnCommand(kConnect);
  FakeEngine& l2tp = Started(*engines_.last);
  l2tp.localAddress = L"10.8.0.6";
  Report(l2tp, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(machine.Dword(adapter, L"EnableDHCP"), 0u);
  EXPECT_TRUE(view_.visible);
  ASSERT_FALSE(view_.boxes.empty());
  EXPECT_EQ(view_.boxes.back().text, GetText("DHCPOnVPNDetected"));
  EXPECT_EQ(view_.boxes.back().icon, MessageIcon::kWarning);
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  FinishRestore();
  EXPECT_EQ(l2tp.disconnects, 1);
  EXPECT_TRUE(view_.connectEnabled);
}

TEST_F(MainWindowTest, WithoutATrayIconTheWindowIsNeverHidden) {
  tray_.shown = false;
  FakeEngine& engine = Connected();
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_TRUE(controller_->connected());
  EXPECT_TRUE(view_.visible);
  EXPECT_FALSE(controller_->OnMinimized());
  EXPECT_TRUE(view_.visible);

  tray_.shown = true;
  EXPECT_TRUE(controller_->OnMinimized());
  EXPECT_FALSE(view_.visible);
}

// A question's box runs its own message loop, so reports arrive while it is open; the tunnel may
// also be reported up a second time.
TEST_F(MainWindowTest, EachChangeIsHandledOnceAndTheConnectionsStepsOncePerConnection) {
  policy_.choice.routes = RouteSetChoice::Applications();
  FakeEngine& engine = Connected();
  bind_.loaded = true;
  engine.failedRoutes = {L"10.0.0.0 mask 255.0.0.0"};
  view_.answerYes = true;
  const VpnStatus failed =
      engine.Reach(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE);
  view_.onQuestion = [&] {
    controller_->OnEngineReport(&engine, failed);
    Report(engine, GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE);
  };
  controller_->OnEngineReport(&engine, failed);
  EXPECT_EQ(view_.questions.size(), 1u);

  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  Report(engine, GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE);
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(std::count(bind_.calls.begin(), bind_.calls.end(), FakeBindModule::Call::kStart), 1);
  EXPECT_EQ(tray_.balloons.size(), 1u);
  EXPECT_EQ(controller_->currentEngine(), &engine);
}

TEST_F(MainWindowTest, BrokenBindingModuleIsToldButTheConnectionStays) {
  policy_.choice.routes = RouteSetChoice::Applications();
  FakeEngine& engine = Connected();
  bind_.loaded = false;
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(view_.boxes.back().text, GetText("VpnBindIsBroken"));
  EXPECT_TRUE(controller_->connected());
}

TEST_F(MainWindowTest, ReportOfAStoppedEngineChangesNothing) {
  FakeEngine& engine = Connected();
  controller_->Stop();
  // Its own restore is reported as it runs on its worker; what follows the restore is stale.
  FinishRestore();
  const auto icons = tray_.icons;
  const auto statuses = view_.statuses;
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  Report(engine, GENERAL_VPN_STATE_CONNECT, 2);
  EXPECT_EQ(tray_.icons, icons);
  EXPECT_EQ(view_.statuses, statuses);
  EXPECT_TRUE(view_.visible);
  EXPECT_FALSE(controller_->connected());
}

TEST_F(MainWindowTest, ErrorReportOrDisconnectedStateStops) {
  FakeEngine& first = Connected();
  first.errorDetail = 809;
  const VpnStatus failed = first.Reach(GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_CONNECT);
  controller_->OnEngineReport(&first, failed);
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  // The designed texts stay as they are; the advice follows them.
  const std::wstring advice = RasErrorAdvice(809);
  EXPECT_EQ(view_.status, L"detail 809 " + advice);
  EXPECT_EQ(view_.boxes.back().text, first.BuildStatusReport(failed) + advice);
  EXPECT_TRUE(std::any_of(log_.begin(), log_.end(), [&](const std::wstring& line) {
    return line.find(L"错误 2：") != line.npos &&
           line.find(L"详情 809：detail 809 " + advice) != line.npos;
  }));

  FinishRestore();
  fetcher_.answers.push_back(
      {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
  controller_->OnCommand(kConnect);
  FakeEngine& second = Started(*engines_.last);
  Report(second, GENERAL_VPN_STATE_DISCONNECTED);
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  // The first engine settled on its worker and went with the second's Connect.
  EXPECT_EQ(controller_->retiredEngine(), &second);
  // The second one's own restore sleeps on its worker; read the clock once it has finished.
  ASSERT_TRUE(second.WaitFinished(10000));
  EXPECT_FALSE(clock_.sleeps.empty());
}

// Disconnect returns at once; the window shows the restore as the engine reports it, keeps
// Connect disabled until the restore is done, then shows again what it said when it stopped.
TEST_F(MainWindowTest, ConnectWaitsForTheRestoreAndTheWindowShowsIt) {
  FakeEngine& engine = Connected();
  controller_->OnCommand(kDisconnect);
  EXPECT_EQ(view_.status, GetText("AlreadyDisconnected"));
  EXPECT_FALSE(view_.connectEnabled);
  EXPECT_FALSE(view_.disconnectEnabled);
  ASSERT_TRUE(engine.WaitFinished(60000));
  // The reports as the dialog hands them over, one per message.
  uint32_t sequence = engine.reports;
  for (const uint32_t state : {GENERAL_VPN_STATE_RESTORE_ROUTE, GENERAL_VPN_STATE_DISCONNECTED}) {
    VpnStatus status = engine.Status();
    status.state = state;
    status.sequence = ++sequence;
    controller_->OnEngineReport(&engine, status);
    if (state == GENERAL_VPN_STATE_RESTORE_ROUTE) {
      EXPECT_EQ(view_.status, engine.GetStateText(GENERAL_VPN_STATE_RESTORE_ROUTE));
      EXPECT_FALSE(view_.connectEnabled);
      controller_->OnCommand(kConnect);
      EXPECT_EQ(controller_->currentEngine(), nullptr);
    }
  }
  EXPECT_EQ(view_.status, GetText("AlreadyDisconnected"));
  EXPECT_TRUE(view_.connectEnabled);
}

TEST_F(MainWindowTest, TrafficIconFollowsTheCountersOnceTheTunnelIsUp) {
  FakeEngine& engine = Connected();
  engine.sent = 3;
  controller_->OnTimer(kWatchTimer);
  EXPECT_EQ(tray_.icons.back(), kIconIdle) << "still connecting";
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  const struct {
    uint32_t sent, received, icon;
  } ticks[] = {{0, 0, kIconConnected},
               {5, 5, kIconBoth},
               {9, 5, kIconSent},
               {9, 8, kIconReceived},
               {9, 8, kIconConnected}};
  for (const auto& tick : ticks) {
    engine.sent = tick.sent;
    engine.received = tick.received;
    controller_->OnTimer(kWatchTimer);
    EXPECT_EQ(tray_.icons.back(), tick.icon) << tick.sent << "/" << tick.received;
  }
}

TEST_F(MainWindowTest, LostConnectionShowsTheWindowAndTellsWhenItWasUp) {
  registry_.Put(L"Main", L"AutoReconnect", uint32_t{0});
  FakeEngine& engine = Connected();
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  const size_t boxes = view_.boxes.size();
  engine.statisticsFail = true;
  controller_->OnTimer(kWatchTimer);
  EXPECT_TRUE(view_.visible);
  // The designed texts, each followed by the advice for the dial-up error.
  EXPECT_EQ(view_.status, GetText("DisconnectedUnexcepted") + L" " + RasErrorAdvice(628));
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  ASSERT_EQ(view_.boxes.size(), boxes + 1);
  EXPECT_EQ(view_.boxes.back().text,
            GetText("VpnErrorMessage") + L":" + engine.GetErrorText(GENERAL_VPN_ERROR_INTERNAL) +
                L"\r\n" + GetText("VpnErrorDetail") + L":detail 628\r\n" + RasErrorAdvice(628));
}

TEST_F(MainWindowTest, ConnectionLostBeforeItWasUpIsOnlyInTheStatusLine) {
  FakeEngine& engine = Connected();
  engine.statisticsFail = true;
  const size_t boxes = view_.boxes.size();
  controller_->OnTimer(kWatchTimer);
  EXPECT_EQ(view_.status, GetText("DisconnectedUnexcepted") + L" " + RasErrorAdvice(628));
  EXPECT_EQ(view_.boxes.size(), boxes);
}

TEST_F(MainWindowTest, ClosingWhileConnectedAsksAndNoKeepsEverything) {
  FakeEngine& engine = Connected();
  Report(engine, GENERAL_VPN_STATE_ALL_DONE);
  controller_->OnCancel();
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.questions[0], GetText("VpnConnectedAreYouSureToExit"));
  EXPECT_TRUE(view_.questionDefaultsNo[0]);
  EXPECT_FALSE(view_.closed);
  EXPECT_EQ(controller_->currentEngine(), &engine);
  EXPECT_TRUE(controller_->connected());
  EXPECT_EQ(engine.disconnects, 0);

  view_.answerYes = true;
  controller_->OnCancel();
  EXPECT_TRUE(view_.closed);
  ASSERT_TRUE(engine.WaitFinished(60000));
  EXPECT_EQ(engine.disconnects, 1);
}

TEST_F(MainWindowTest, ClosingWhileIdleExitsWithoutAsking) {
  controller_->Initialize();
  controller_->OnCancel();
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_TRUE(view_.closed);
  EXPECT_EQ(controller_->pendingProbes(), 0u);
}

TEST_F(MainWindowTest, WebPagesCarryTheReferral) {
  controller_->OnCommand(kPurchase);
  controller_->OnCommand(kSupport);
  controller_->OnCommand(kForgotPassword);
  controller_->OnCommand(kFirstNews + 1);  // blank slot: nothing
  view_.links[2] = L"http://news/1";
  controller_->OnCommand(kFirstNews + 2);
  EXPECT_EQ(view_.pages, (std::vector<std::wstring>{
                             L"http://www.orumavpn.com/purchase.php?rf=main",
                             L"http://www.orumavpn.com/?rf=main",
                             L"http://www.orumavpn.com/retrieve_password.php", L"http://news/1"}));
  controller_->OnCommand(kTrayAbout);
  EXPECT_EQ(view_.about.rfind(L"OrumaVPN 2.1.0.0 (2026-01-02)\r\n\r\n", 0), 0u);
  EXPECT_FALSE(controller_->OnCommand(kSavePassword));
}

TEST_F(MainWindowTest, TheTrayLogItemOpensTheLogWindow) {
  controller_->Initialize();
  EXPECT_EQ(tray_.menu[kTrayConnectionLog], std::make_pair(GetText("ConnectionLog"), false));
  EXPECT_TRUE(controller_->OnCommand(kTrayConnectionLog));
  EXPECT_EQ(logWindowsOpened_, 1);
}

TEST_F(MainWindowTest, BuildWithoutAReferralTagUsesTheMainChannel) {
  MakeController(L"");
  controller_->OnCommand(kPurchase);
  EXPECT_EQ(view_.pages.back(), L"http://www.orumavpn.com/purchase.php?rf=main");
}

TEST_F(MainWindowTest, MachineIdentityIsReadOnceAndSkipsTheBiosOnWindows2000) {
  controller_->Initialize();
  EXPECT_EQ(machine_.biosAsked, std::vector<bool>{true});
  EXPECT_EQ(controller_->identity().bios, "bios");
  EXPECT_EQ(controller_->identity().disk, "disk");

  machine_.windows2000 = true;
  MakeController(L"main");
  controller_->Initialize();
  EXPECT_EQ(machine_.biosAsked.back(), false);
  EXPECT_EQ(controller_->identity().bios, kBiosSkippedOnWindows2000);
  EXPECT_EQ(controller_->identity().adapters, "adapters");
}

TEST_F(MainWindowTest, FailedStartIsNotTakenForALostConnectionWhileItsBoxIsOpen) {
  engines_.prepare = [](FakeEngine& e) {
    e.connectResult = 10;
    e.connectError = 10;
    e.errorDetail = 1;
    e.statisticsFail = true;
  };
  // The box is modal: the watch timer keeps ticking while it is open.
  view_.onBox = [&] { controller_->OnTimer(kWatchTimer); };
  Connected();
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  EXPECT_EQ(view_.status, L"detail 1");
  EXPECT_EQ(view_.boxes.size(), 1u);
}

TEST_F(MainWindowTest, UnguardedIpv6AndNamesAreToldButTheConnectionStays) {
  FakeEngine& engine = Connected();
  VpnStatus status = engine.Reach(GENERAL_VPN_STATE_ALL_DONE);
  status.ipv6Unguarded = true;
  controller_->OnEngineReport(&engine, status);
  const std::wstring done = engine.GetStateText(GENERAL_VPN_STATE_ALL_DONE);
  // The one-line status area takes each warning up to its explanation.
  EXPECT_EQ(view_.status, done + L" IPv6 未受保护");
  status.ipv6Unguarded = false;
  status.dnsUnguarded = true;
  ++status.sequence;
  controller_->OnEngineReport(&engine, status);
  EXPECT_EQ(view_.status, done + L" DNS 未受保护");
  status.ipv6Unguarded = true;
  ++status.sequence;
  controller_->OnEngineReport(&engine, status);
  EXPECT_EQ(view_.status, done + L" IPv6 未受保护 DNS 未受保护");
  EXPECT_TRUE(view_.boxes.empty());
  EXPECT_TRUE(controller_->connected());
}

// ---- boxes -------------------------------------------------------------------------------------
// Each kind of box the window or its login opens runs its own message loop, in which the
// window's handlers are called again.

namespace {

enum class Box {
  kMessage,      // an OK box of the connection
  kQuestion,     // a Yes/No box of the connection
  kAbout,        // the tray's About box, while connecting
  kLoginStatus,  // the login's status line with its box
  kFetchDialog,  // the login's fetch dialog
  kPolicyDialog,
  kUpdateCheck,  // the login's update check, with the boxes and dialog it may open
  kNews,         // the news the race's answer brings, with the update check it may run
};

class BoxTest : public MainWindowTest, public ::testing::WithParamInterface<Box> {
 protected:
  bool ConnectionBox() const { return GetParam() <= Box::kAbout; }
  // Opens the case's box with `whileOpen` running in it. The race has chosen its host, and two
  // of its requests are still out; Connect was pressed unless the box is the news. Returns the
  // engine of a connection's box.
  FakeEngine* OpenBox(const std::function<void()>& whileOpen) {
    controller_->Initialize();
    out_ = {probes_.live[1], probes_.live[2]};
    if (GetParam() == Box::kNews) news_.whileOpen = whileOpen;
    End(probes_.live[0], 200, kAnnouncement);
    if (GetParam() == Box::kNews) return nullptr;
    fetcher_.answers.push_back({GetParam() == Box::kLoginStatus ? LoginFetcher::Result::kFailed
                                                                : LoginFetcher::Result::kOk,
                                ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
    if (GetParam() == Box::kLoginStatus) view_.onBox = whileOpen;
    if (GetParam() == Box::kFetchDialog) fetcher_.whileOpen = whileOpen;
    if (GetParam() == Box::kPolicyDialog) policy_.whileOpen = whileOpen;
    if (GetParam() == Box::kUpdateCheck) update_.whileOpen = whileOpen;
    controller_->OnCommand(kConnect);
    if (!ConnectionBox()) return nullptr;
    FakeEngine& engine = Started(*engines_.last);
    if (GetParam() == Box::kMessage) {
      view_.onBox = whileOpen;
      Report(engine, GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_ALREADY_CONNECTED);
    } else if (GetParam() == Box::kQuestion) {
      engine.failedRoutes = {L"10.0.0.0 mask 255.0.0.0"};
      view_.answerYes = true;
      view_.onQuestion = whileOpen;
      Report(engine, GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE);
    } else {
      view_.onBox = whileOpen;
      controller_->OnCommand(kTrayAbout);
    }
    return &engine;
  }
  // The race's other requests end; a connection's engine reports the tunnel up.
  void ReportsArrive() {
    End(out_[0], 0, "");
    End(out_[1], 0, "");
    if (ConnectionBox()) Report(*engines_.last, GENERAL_VPN_STATE_ALL_DONE);
  }

  std::vector<FakeProbe*> out_;
};

}  // namespace

TEST_P(BoxTest, ReportsWaitForTheBoxAndConnectionCommandsAreRefused) {
  bool handledWhileOpen = false;
  FakeEngine* engine = OpenBox([&] {
    ReportsArrive();
    controller_->OnCommand(kDisconnect);
    controller_->OnCommand(kConnect);
    // The log window is no box: support may want it most while a failure is shown.
    controller_->OnCommand(kTrayConnectionLog);
    handledWhileOpen = controller_->pendingProbes() != 3 || controller_->connected() ||
                       (ConnectionBox() && controller_->currentEngine() != engines_.last);
  });
  EXPECT_FALSE(handledWhileOpen);
  EXPECT_EQ(logWindowsOpened_, 1);
  EXPECT_EQ(controller_->pendingProbes(), 0u);
  EXPECT_EQ(controller_->queuedEvents(), 0u);
  // Connect dialled nothing more, and Disconnect stopped nothing.
  EXPECT_EQ(ras_.checks, GetParam() == Box::kNews ? 0 : 1);
  EXPECT_LE(fetcher_.calls.size(), 1u);
  if (ConnectionBox()) {
    EXPECT_EQ(controller_->currentEngine(), engine);
    EXPECT_TRUE(controller_->connected());
  } else if (GetParam() != Box::kNews && GetParam() != Box::kLoginStatus) {
    EXPECT_NE(controller_->currentEngine(), nullptr);
  }
}

TEST_P(BoxTest, ExitWaitsForTheBoxThenEndsWhatOpenedIt) {
  bool closedWhileOpen = true;
  size_t boxes = 0;
  size_t statuses = 0;
  size_t engines = 0;
  OpenBox([&] {
    controller_->OnCommand(kTrayExit);
    ReportsArrive();
    closedWhileOpen = view_.closed;
    boxes = view_.boxes.size();
    statuses = view_.statuses.size();
    engines = engines_.types.size();
  });
  EXPECT_FALSE(closedWhileOpen);
  EXPECT_TRUE(view_.closed);
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  EXPECT_FALSE(controller_->connected());
  // Nothing more is shown, chosen or dialled, and what waited is dropped.
  EXPECT_EQ(view_.boxes.size(), boxes);
  EXPECT_EQ(view_.statuses.size(), statuses);
  EXPECT_EQ(engines_.types.size(), engines);
  EXPECT_EQ(policy_.calls, ConnectionBox() || GetParam() == Box::kPolicyDialog ? 1 : 0);
  EXPECT_TRUE(tray_.balloons.empty());
  EXPECT_EQ(controller_->pendingProbes(), 0u);
  EXPECT_EQ(controller_->queuedEvents(), 0u);
  EXPECT_EQ(view_.timers.count(kRaceTimer), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachKind, BoxTest,
                         ::testing::Values(Box::kMessage, Box::kQuestion, Box::kAbout,
                                           Box::kLoginStatus, Box::kFetchDialog,
                                           Box::kPolicyDialog, Box::kUpdateCheck, Box::kNews));

// ---- reconnecting -------------------------------------------------------------------------------

namespace {

std::wstring ReconnectingText(uint32_t number) {
  std::wstring text = GetText("ReconnectingAttempt");
  return text.replace(text.find(L"%1"), 2, std::to_wstring(number));
}

}  // namespace

class ReconnectTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    policy_.choice.server.serverHost = L"vpn1.example.com";
    StartWithHost();
  }
  // Logs in with `routes` (the service's set 0: mode 2 with one listed route) and connects.
  FakeEngine& LogIn(RouteSetChoice routes) {
    policy_.choice.routes = routes;
    fetcher_.answers.push_back(
        {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
    if (routes.kind == RouteSetKind::kServiceSet) {
      fetcher_.answers.push_back({LoginFetcher::Result::kOk, "10.1.0.0 255.255.0.0\r\n"});
    }
    controller_->OnCommand(kConnect);
    FakeEngine& engine = Started(*engines_.last);
    Report(engine, GENERAL_VPN_STATE_ALL_DONE);
    return engine;
  }
  // Connected, then the link drops.
  FakeEngine& UpThenDropped(RouteSetChoice routes = RouteSetChoice::ServiceSet(0)) {
    FakeEngine& engine = LogIn(routes);
    engine.statisticsFail = true;
    controller_->OnTimer(kWatchTimer);
    return engine;
  }
  // The backoff's timer fires once its time has come; answers the attempt's engine.
  FakeEngine& NextAttempt() {
    EXPECT_EQ(view_.timers.count(kReconnectTimer), 1u);
    reconnectClock_.now += view_.timers[kReconnectTimer];
    FakeEngine* before = engines_.last;
    controller_->OnTimer(kReconnectTimer);
    EXPECT_NE(engines_.last, before);
    return Started(*engines_.last);
  }
};

TEST_F(ReconnectTest, DropRestoresRoutesThenDialsTheSameTunnelWithoutAnyDialog) {
  FakeEngine& dropped = UpThenDropped();
  const size_t boxes = view_.boxes.size();
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  ASSERT_EQ(controller_->retiredEngine(), &dropped);  // disconnected: its routes go back now
  EXPECT_EQ(view_.status, ReconnectingText(1));
  EXPECT_EQ(tray_.tip, ReconnectingText(1));
  EXPECT_TRUE(view_.disconnectEnabled);
  EXPECT_FALSE(view_.connectEnabled);
  EXPECT_GE(view_.timers[kReconnectTimer], 1800u);
  EXPECT_LE(view_.timers[kReconnectTimer], 2200u);

  controller_->OnTimer(kWatchTimer);  // the connecting picture while waiting
  controller_->OnTimer(kWatchTimer);
  EXPECT_NE(tray_.icons.end()[-1], tray_.icons.end()[-2]);

  // The dropped engine goes with the next one's Connect.
  FakeEngine& again = NextAttempt();
  EXPECT_EQ(again.tunnelType, 1);
  EXPECT_EQ(again.serverAddress, L"vpn1.example.com");
  EXPECT_EQ(again.routeMode, RouteModeListedRoutes);
  EXPECT_EQ(again.routeList, std::vector<std::wstring>{L"10.1.0.0 255.255.0.0"});
  EXPECT_EQ(again.userName, L"demo");
  EXPECT_EQ(again.connects, 1);
  EXPECT_EQ(policy_.calls, 1);  // no policy dialog, no login, no news, no box
  EXPECT_TRUE(fetcher_.answers.empty());
  EXPECT_EQ(view_.boxes.size(), boxes);
  Report(again, GENERAL_VPN_STATE_CONNECT);
  EXPECT_EQ(view_.status, ReconnectingText(1));

  Report(again, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_TRUE(controller_->connected());
  EXPECT_EQ(tray_.balloons.back(), GetText("ReconnectedClickToOpenMainWindow"));
  EXPECT_EQ(tray_.tip, L"");
  EXPECT_EQ(controller_->reconnectPolicy().phase(), ReconnectPolicy::Phase::kIdle);
}

// Every step gets its line, the server and the routes are named, the password never is.
TEST_F(ReconnectTest, TheLogFollowsConnectDropReconnectAndDisconnect) {
  UpThenDropped();
  NextAttempt();
  Report(*engines_.last, GENERAL_VPN_STATE_ALL_DONE);
  controller_->OnCommand(kDisconnect);
  FinishRestore();
  const std::vector<std::wstring> expected = {
      L"登录服务器：http://a/", L"登录 http://a/：成功",
      L"开始连接：服务器 vpn1.example.com，隧道 PPTP，路由 路由集 1（1 条）",
      L"已设置路由 ", L"已连接", L"读不到流量统计：错误 1，详情 628",
      L"连接中断：读不到流量统计", L"第 1 次重连开始", L"已重新连接",
      L"用户断开连接", L"连接已结束", L"路由已恢复"};
  size_t at = 0;
  for (const std::wstring& step : expected) {
    while (at < log_.size() && log_[at].find(step) == std::wstring::npos) ++at;
    ASSERT_LT(at, log_.size()) << "no line, in order, with " << WideToUtf8(step);
  }
  for (const std::wstring& line : log_) {
    EXPECT_EQ(line.find(L"demo123"), std::wstring::npos) << WideToUtf8(line);
  }
}

TEST_F(ReconnectTest, FailedAttemptsBackOffAndARefusalForTheUserStopsWithTheBox) {
  UpThenDropped();
  FakeEngine& first = NextAttempt();
  first.errorDetail = 800;
  Report(first, GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_INTERNAL);
  EXPECT_EQ(controller_->retiredEngine(), &first);
  EXPECT_EQ(view_.status, ReconnectingText(2));
  EXPECT_GE(view_.timers[kReconnectTimer], 3600u);

  FakeEngine& second = NextAttempt();
  second.errorDetail = 649;  // no dial-in permission
  const size_t boxes = view_.boxes.size();
  Report(second, GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_INTERNAL);
  EXPECT_EQ(view_.timers.count(kReconnectTimer), 0u);
  EXPECT_EQ(view_.boxes.size(), boxes + 1);
  EXPECT_EQ(view_.status, L"detail 649");
  EXPECT_FALSE(view_.disconnectEnabled);
}

TEST_F(ReconnectTest, RefusedCredentialsLogInAgainWithTheSameChoice) {
  UpThenDropped();
  FakeEngine& first = NextAttempt();
  // The failed dial's statistics are read before its report, with the refusal, arrives.
  first.statisticsFail = true;
  controller_->OnTimer(kWatchTimer);
  first.errorDetail = 691;
  Report(first, GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_INTERNAL);
  fetcher_.answers.push_back(
      {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
  fetcher_.answers.push_back({LoginFetcher::Result::kOk, "10.1.0.0 255.255.0.0\r\n"});
  FakeEngine& second = NextAttempt();
  EXPECT_TRUE(fetcher_.answers.empty());
  EXPECT_EQ(policy_.calls, 1);
  EXPECT_EQ(second.serverAddress, L"vpn1.example.com");
  EXPECT_EQ(view_.status, ReconnectingText(2));
}

// A reconnect's login shows boxes as the first one does; Exit in one ends the attempt there.
TEST_F(ReconnectTest, ExitDuringTheLoginOfAnAttemptDialsNothing) {
  UpThenDropped();
  FakeEngine& first = NextAttempt();
  first.errorDetail = 691;
  Report(first, GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_INTERNAL);
  fetcher_.answers.push_back(
      {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
  fetcher_.whileOpen = [&] { controller_->OnCommand(kTrayExit); };
  const size_t made = engines_.types.size();
  const size_t fetches = fetcher_.calls.size();
  reconnectClock_.now += view_.timers[kReconnectTimer];
  controller_->OnTimer(kReconnectTimer);
  EXPECT_TRUE(view_.closed);
  EXPECT_EQ(fetcher_.calls.size(), fetches + 1);  // no route list
  EXPECT_EQ(engines_.types.size(), made);
  EXPECT_EQ(controller_->currentEngine(), nullptr);
  EXPECT_EQ(view_.timers.count(kReconnectTimer), 0u);
}

// After a long connection, or a long sleep, the login is due again and the network is often
// still down: an unanswered login is one failed attempt, with no box. Only a refusal of the
// account ends the attempts, and is shown then.
TEST_F(ReconnectTest, UnansweredLoginOfAnAttemptRetriesWithoutABox) {
  fetcher_.clock = &reconnectClock_;
  const auto unanswered = FakeLoginFetcher::Answer{LoginFetcher::Result::kFailed, "", 120000};
  FakeEngine& up = LogIn(RouteSetChoice::ServiceSet(0));
  reconnectClock_.now += 45 * 60 * 1000;
  up.statisticsFail = true;
  controller_->OnTimer(kWatchTimer);
  const size_t boxes = view_.boxes.size();
  for (uint32_t number = 1; number <= 3; ++number) {
    fetcher_.answers.push_back(unanswered);
    const size_t made = engines_.types.size();
    reconnectClock_.now += view_.timers[kReconnectTimer];
    controller_->OnTimer(kReconnectTimer);
    EXPECT_EQ(engines_.types.size(), made);
    EXPECT_EQ(view_.status, ReconnectingText(number + 1));
    ASSERT_EQ(view_.timers.count(kReconnectTimer), 1u);
  }
  EXPECT_EQ(view_.boxes.size(), boxes);
  EXPECT_TRUE(view_.disconnectEnabled);
  EXPECT_FALSE(view_.connectEnabled);
  // Connect cannot start a second connection while the attempts go on.
  const size_t fetches = fetcher_.calls.size();
  controller_->OnCommand(kConnect);
  controller_->OnEnter();
  EXPECT_EQ(fetcher_.calls.size(), fetches);

  // The service answers again: the tunnel comes back without any dialog.
  fetcher_.answers.push_back(
      {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet)});
  fetcher_.answers.push_back({LoginFetcher::Result::kOk, "10.1.0.0 255.255.0.0\r\n"});
  FakeEngine& back = NextAttempt();
  Report(back, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_TRUE(controller_->connected());
  EXPECT_EQ(view_.boxes.size(), boxes);
  EXPECT_EQ(policy_.calls, 1);

  // Waking after an hour: the service refuses the account; that ends it, with its box.
  engines_.last->statisticsFail = true;
  reconnectClock_.now += 60 * 60 * 1000;
  controller_->OnResume();
  fetcher_.answers.push_back(
      {LoginFetcher::Result::kOk, ServiceAnswer("AuthResult=Expired\r\n", kTwoServersOneRouteSet)});
  reconnectClock_.now += view_.timers[kReconnectTimer];
  controller_->OnTimer(kReconnectTimer);
  EXPECT_EQ(view_.timers.count(kReconnectTimer), 0u);
  EXPECT_EQ(view_.boxes.size(), boxes + 1);
  EXPECT_EQ(view_.status, GetText("LoginError"));
  EXPECT_FALSE(view_.disconnectEnabled);
}

TEST_F(ReconnectTest, DisconnectOrExitDuringTheBackoffEndsEverythingAtOnce) {
  UpThenDropped();
  controller_->OnCommand(kDisconnect);
  EXPECT_EQ(view_.timers.count(kReconnectTimer), 0u);
  EXPECT_EQ(view_.status, GetText("AlreadyDisconnected"));
  EXPECT_FALSE(view_.disconnectEnabled);
  const size_t made = engines_.types.size();
  reconnectClock_.now += 120000;
  controller_->OnTimer(kReconnectTimer);  // a tick already queued dials nothing
  EXPECT_EQ(engines_.types.size(), made);
  FinishRestore();
  EXPECT_TRUE(view_.connectEnabled);

  // Exit while an attempt is dialling.
  UpThenDropped();
  FakeEngine& attempt = NextAttempt();
  controller_->OnCommand(kTrayExit);
  EXPECT_TRUE(view_.closed);
  EXPECT_EQ(controller_->retiredEngine(), &attempt);
  EXPECT_EQ(view_.timers.count(kReconnectTimer), 0u);
}

TEST_F(ReconnectTest, SleepStopsTheAttemptAndWakingGoesOn) {
  UpThenDropped();
  FakeEngine& attempt = NextAttempt();
  controller_->OnSuspend();
  EXPECT_EQ(controller_->retiredEngine(), &attempt);
  EXPECT_EQ(view_.timers.count(kReconnectTimer), 0u);
  controller_->OnResume();
  EXPECT_EQ(view_.status, ReconnectingText(2));
  NextAttempt();

  // A connection the sleep took down is dialled again on waking.
  Report(*engines_.last, GENERAL_VPN_STATE_ALL_DONE);
  engines_.last->statisticsFail = true;
  controller_->OnResume();
  EXPECT_EQ(view_.status, ReconnectingText(1));
}

TEST_F(ReconnectTest, TheTrayItemTurnsTheOptionOffAndIsRemembered) {
  EXPECT_EQ(tray_.menu[kTrayAutoReconnect],
            std::make_pair(GetText("AutoReconnect"), true));  // on for new settings
  UpThenDropped();
  controller_->OnCommand(kTrayAutoReconnect);  // off while waiting: the designed end
  EXPECT_FALSE(tray_.menu[kTrayAutoReconnect].second);
  EXPECT_FALSE(settings_.GetAutoReconnect());
  EXPECT_EQ(view_.timers.count(kReconnectTimer), 0u);
  EXPECT_EQ(view_.status, GetText("DisconnectedUnexcepted"));
}

// Route mode 1 only: the bypass routes follow the host's gateway.
TEST_F(ReconnectTest, MovedDefaultRouteRedialsInRouteModeOneOnly) {
  routes_.SetLanHost();
  RouteRow tunnelDefault{};
  tunnelDefault.nextHop = Ip("10.8.0.1");
  tunnelDefault.interfaceIndex = 23;
  routes_.forwardTable.push_back(tunnelDefault);
  RouteRow wifi = routes_.forwardTable[0];
  wifi.nextHop = Ip("172.20.10.1");
  wifi.interfaceIndex = 12;
  LogIn(RouteSetChoice::ServiceSet(0));
  routes_.forwardTable[0] = wifi;
  controller_->OnRouteTableChanged();
  EXPECT_EQ(view_.timers.count(kRouteSettleTimer), 0u);

  controller_->OnCommand(kDisconnect);
  FinishRestore();
  routes_.SetLanHost();
  routes_.forwardTable.push_back(tunnelDefault);
  LogIn(RouteSetChoice::AllTraffic());
  // The tunnel losing its own default route is not a move; the statistics tell of that.
  routes_.forwardTable.pop_back();
  controller_->OnRouteTableChanged();
  controller_->OnTimer(kRouteSettleTimer);
  EXPECT_TRUE(controller_->connected());
  routes_.forwardTable = {wifi, tunnelDefault};
  controller_->OnRouteTableChanged();
  ASSERT_EQ(view_.timers[kRouteSettleTimer], kRouteSettleMs);
  controller_->OnTimer(kRouteSettleTimer);
  EXPECT_FALSE(controller_->connected());
  EXPECT_EQ(view_.status, ReconnectingText(1));
}

// The kill switch: from the first time a mode-1 connection is up, through the drop and the
// waits, until Disconnect, only the tunnel and what brings it back may carry traffic.
TEST_F(ReconnectTest, KillSwitchHoldsThroughTheDropAndMovesWithTheTunnelWithoutAGap) {
  using Kind = SessionReport::Kind;
  EXPECT_EQ(tray_.menu[kTrayKillSwitch], std::make_pair(GetText("KillSwitch"), false));
  controller_->OnCommand(kTrayKillSwitch);
  EXPECT_TRUE(tray_.menu[kTrayKillSwitch].second);
  EXPECT_TRUE(settings_.GetKillSwitch());
  routes_.SetLanHost();
  RouteRow lan{};
  lan.destination = Ip("192.168.1.0");
  lan.mask = Ip("255.255.255.0");
  lan.interfaceIndex = 7;
  lan.protocol = 2;
  routes_.forwardTable.push_back(lan);
  engines_.prepare = [](FakeEngine& engine) { engine.localAddress = L"10.8.0.6"; };
  FakeEngine& up = LogIn(RouteSetChoice::AllTraffic());
  const auto web = FakeTrafficGuard::To(Ip("93.184.216.34"), 7);
  const auto server = FakeTrafficGuard::To(Ip("203.0.113.9"), 7);
  const auto loginHost = FakeTrafficGuard::To(Ip("198.51.100.1"), 7);
  const auto printer = FakeTrafficGuard::To(Ip("192.168.1.30"), 7);
  EXPECT_TRUE(trafficGuard_.Passes(FakeTrafficGuard::To(Ip("93.184.216.34"), 23)));
  EXPECT_FALSE(trafficGuard_.Passes(web));
  FakeDnsGuard::Connection ipv6 = web;
  ipv6.family = IpFamily::kIpv6;
  EXPECT_FALSE(trafficGuard_.Passes(ipv6));
  for (const auto& needed : {server, loginHost, printer}) EXPECT_TRUE(trafficGuard_.Passes(needed));
  FakeDnsGuard::Connection dhcp = FakeTrafficGuard::To(Ip("255.255.255.255"), 7);
  dhcp.protocol = kIpProtocolUdp;
  dhcp.localPort = 68;
  dhcp.remotePort = 67;
  EXPECT_TRUE(trafficGuard_.Passes(dhcp));

  // The drop and the wait: still closed; the next tunnel comes up on another interface and its
  // permit replaces the old one in one step.
  up.statisticsFail = true;
  controller_->OnTimer(kWatchTimer);
  EXPECT_FALSE(trafficGuard_.Passes(web));
  EXPECT_TRUE(trafficGuard_.Passes(server));
  routes_.adapters.push_back({31, "10.8.0.10"});
  engines_.prepare = [](FakeEngine& engine) { engine.localAddress = L"10.8.0.10"; };
  FakeEngine& again = NextAttempt();
  Report(again, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_TRUE(trafficGuard_.Passes(FakeTrafficGuard::To(Ip("93.184.216.34"), 31)));
  EXPECT_FALSE(trafficGuard_.Passes(FakeTrafficGuard::To(Ip("93.184.216.34"), 23)));
  EXPECT_EQ(std::count(trafficGuard_.history.begin(), trafficGuard_.history.end(), 0u), 0);

  controller_->OnCommand(kDisconnect);
  EXPECT_TRUE(trafficGuard_.filters.empty());
  EXPECT_EQ(std::count(sessionReports_.begin(), sessionReports_.end(), Kind::kGuardOn), 2);
  EXPECT_EQ(std::count(sessionReports_.begin(), sessionReports_.end(), Kind::kGuardOff), 1);
  FinishRestore();

  // Refused by the system: the connection stays up and the status line says so.
  trafficGuard_.applyError = 0x80320009;
  engines_.prepare = [](FakeEngine& engine) { engine.localAddress = L"10.8.0.6"; };
  LogIn(RouteSetChoice::AllTraffic());
  EXPECT_TRUE(controller_->connected());
  EXPECT_NE(view_.status.find(GetText("KillSwitchNotOn").substr(0, 4)), std::wstring::npos);
  EXPECT_EQ(sessionReports_.back(), Kind::kGuardRefused);
}
