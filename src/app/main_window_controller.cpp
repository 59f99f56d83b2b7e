#include "app/main_window_controller.h"

#include <algorithm>
#include <random>
#include <type_traits>
#include <utility>

#include "base/text.h"
#include "config/text_table.h"
#include "policy/vpn_policy_controller.h"
#include "service/server_response.h"
#include "vpn/route_modification.h"

using namespace main_window;

namespace {

constexpr uint32_t kAddressNone = 0xFFFFFFFF;
// The question lists this many routes; more would make the box taller than the screen.
constexpr size_t kListedFailedRoutes = 10;

// Hands the policy dialog's choice through and keeps it, for reconnecting.
class RememberingChooser : public PolicyChooser {
 public:
  RememberingChooser(PolicyChooser& chooser, PolicyChoice& kept) : chooser_(chooser), kept_(kept) {}
  bool ChoosePolicy(const ServiceAnswer& answer, PolicyChoice& choice) override {
    if (!chooser_.ChoosePolicy(answer, choice)) return false;
    kept_ = choice;
    return true;
  }

 private:
  PolicyChooser& chooser_;
  PolicyChoice& kept_;
};

// A reconnect's login: the choice made before, no dialog.
class SameChoice : public PolicyChooser {
 public:
  explicit SameChoice(const PolicyChoice& choice) : choice_(choice) {}
  bool ChoosePolicy(const ServiceAnswer&, PolicyChoice& choice) override {
    choice = choice_;
    return true;
  }

 private:
  PolicyChoice choice_;
};

// Counts itself in `count` while it lives: the boxes open, the handlers running.
class CountedScope {
 public:
  explicit CountedScope(int& count) : count_(count) { ++count_; }
  ~CountedScope() { --count_; }
  CountedScope(const CountedScope&) = delete;
  CountedScope& operator=(const CountedScope&) = delete;

 private:
  int& count_;
};

std::function<uint32_t()> JitterSource(TickClock& clock) {
  auto engine = std::make_shared<std::minstd_rand>(clock.Ticks());
  return [engine] { return static_cast<uint32_t>((*engine)()); };
}

}  // namespace

// ---- the box scope ----------------------------------------------------------------------------

template <typename Open>
auto MainWindowController::InBox(Open&& open) -> decltype(open()) {
  if constexpr (std::is_void_v<decltype(open())>) {
    {
      CountedScope box(openBoxes_);
      open();
    }
    AfterBox();
  } else {
    auto result = [&] {
      CountedScope box(openBoxes_);
      return open();
    }();
    AfterBox();
    return result;
  }
}

void MainWindowController::AfterBox() {
  if (BoxOpen() || !exitAsked_) return;
  // A box opened outside every handler (none is) cannot unwind anything: Exit happens here.
  if (handling_ == 0) {
    CarryOutExit();
    return;
  }
  throw ExitAsked{};
}

void MainWindowController::Handle(std::function<void()> body, uint32_t timer,
                                  const CGeneralVpn* engine) {
  if (BoxOpen()) {
    // A tick stands for its timer: one waiting is enough.
    const bool ticking = timer != kNoTimer && std::any_of(queued_.begin(), queued_.end(),
                                                          [&](const Queued& queued) {
                                                            return queued.timer == timer;
                                                          });
    if (!ticking) queued_.push_back({std::move(body), timer, engine});
    return;
  }
  // Called by a part the running handler uses (the adapter repairs' callback): part of it.
  if (handling_ > 0) {
    body();
    return;
  }
  RunHandler(body);
  while (!queued_.empty()) {
    const Queued next = std::move(queued_.front());
    queued_.pop_front();
    RunHandler(next.run);
  }
}

void MainWindowController::RunHandler(const std::function<void()>& body) {
  try {
    CountedScope running(handling_);
    body();
  } catch (const ExitAsked&) {
    // A box closed with Exit asked for while it was open; the handler ends there.
  }
  if (exitAsked_) CarryOutExit();
}

void MainWindowController::ShowMessage(const std::wstring& text, MessageIcon icon) {
  InBox([&] { ports_.view.ShowMessage(text, icon); });
}

bool MainWindowController::AskYesNo(const std::wstring& text, bool defaultNo) {
  return InBox([&] { return ports_.view.AskYesNo(text, defaultNo); });
}

void MainWindowController::StopTimer(uint32_t id) {
  ports_.view.StopTimer(id);
  std::erase_if(queued_, [id](const Queued& queued) { return queued.timer == id; });
}

// The login's ports, with every box and dialog it opens inside the box scope. A reconnect's
// login is quiet: it opens no box (the user did not ask for it, and may be away), keeps the
// messages it would have shown, and notes whether the service answered at all.
class MainWindowController::ScopedPorts : public LoginView,
                                          public LoginFetcher,
                                          public OnlineUpdateCheck,
                                          public PolicyChooser {
 public:
  ScopedPorts(MainWindowController& owner, PolicyChooser& chooser, bool quiet)
      : owner_(owner), chooser_(chooser), quiet_(quiet) {}

  void SetStatus(const std::wstring& text, bool showBox) override {
    if (!showBox || quiet_) {
      owner_.ports_.view.SetStatus(text, false);
      return;
    }
    owner_.InBox([&] { owner_.ports_.view.SetStatus(text, true); });
  }
  void ShowMessage(const std::wstring& text, MessageIcon icon) override {
    if (quiet_) {
      held.emplace_back(text, icon);
      return;
    }
    owner_.ShowMessage(text, icon);
  }
  void SetExpiryText(const std::wstring& text) override { owner_.ports_.view.SetExpiryText(text); }
  void OpenWebPage(const std::wstring& url) override {
    if (!quiet_) owner_.ports_.view.OpenWebPage(url);
  }
  LoginFetcher::Result Fetch(const std::vector<std::wstring>& urls, bool requireMarker,
                             std::string& body) override {
    const LoginFetcher::Result result =
        owner_.InBox([&] { return owner_.ports_.fetcher.Fetch(urls, requireMarker, body); });
    if (result != LoginFetcher::Result::kOk) unanswered = true;
    return result;
  }
  int Check(const ServiceAnswer& answer) override {
    const int result = owner_.InBox([&] { return owner_.ports_.update.Check(answer); });
    if (result == OnlineUpdateCheck::kInvalidResponse) unanswered = true;
    return result;
  }
  bool ChoosePolicy(const ServiceAnswer& answer, PolicyChoice& choice) override {
    return owner_.InBox([&] { return chooser_.ChoosePolicy(answer, choice); });
  }

  // A request got no usable answer: the network or the service, not the account.
  bool unanswered = false;
  // What a quiet login would have shown.
  std::vector<std::pair<std::wstring, MessageIcon>> held;

 private:
  MainWindowController& owner_;
  PolicyChooser& chooser_;
  const bool quiet_;
};

MainWindowController::MainWindowController(MainWindowPorts ports, MainWindowSettings settings)
    : ports_(std::move(ports)),
      settings_(std::move(settings)),
      race_([this](int32_t statusCode, const std::string& body) {
        return !hostChosen_ && IsAcceptedResponse(statusCode, body);
      }),
      reconnect_(ports_.clock, JitterSource(ports_.clock)) {
  if (settings_.referralTag.empty()) settings_.referralTag = L"main";
  // Read before the window exists: the queries may take a while, and run no message loop of
  // the window's while they do.
  const bool windows2000 = ports_.machine.IsWindows2000();
  identity_ = ports_.machine.Read(!windows2000);
  if (windows2000) identity_.bios = kBiosSkippedOnWindows2000;
}

MainWindowController::~MainWindowController() {
  DestroyProbes();
  // Lets the last engine's worker restore its routes before the program ends.
  retired_.reset();
}

void MainWindowController::ShowStatus(const std::wstring& text) {
  statusText_ = text;
  ports_.view.SetStatus(text, false);
}

void MainWindowController::Initialize() {
  Handle([this] {
    MainWindowView& view = ports_.view;
    ports_.tray.SetIcon(kIconIdle);
    view.StartTimer(kWatchTimer, kWatchIntervalMs);
    SetConnectEnabled(true);
    view.EnableDisconnect(false);
    ShowStatus(GetText("Ready"));

    view.SetUserName(ports_.settings.GetUsername());
    view.SetPassword(ports_.settings.LoadPassword().value_or(L""));
    view.SetSavePasswordChecked(ports_.settings.GetSavePassword());
    reconnect_.SetEnabled(ports_.settings.GetAutoReconnect());
    ports_.tray.SetMenuItem(kTrayAutoReconnect, GetText("AutoReconnect"), reconnect_.enabled());

    InBox([this] { ports_.announcements.ShowAnnouncements(true); });
    StartRacePass();
  });
}

bool MainWindowController::OnCommand(uint32_t id) {
  if (id == kTrayExit) {
    Exit();
    return true;
  }
  if (BoxOpen()) {
    switch (id) {
      case kConnect:
      case kDisconnect:
      case kTrayAbout:
      case kTrayAutoReconnect:
        // Refused while a box is open.
        return true;
      default:
        // Links and Show open no box.
        return Command(id);
    }
  }
  // Ours unless Command says otherwise; a handler that ends with Exit was ours.
  bool ours = true;
  Handle([&] { ours = Command(id); });
  return ours;
}

bool MainWindowController::Command(uint32_t id) {
  MainWindowView& view = ports_.view;
  switch (id) {
    case kConnect:
      Connect();
      return true;
    case kDisconnect:
      Stop();
      ShowStatus(GetText("AlreadyDisconnected"));
      return true;
    case kRegister:
      view.OpenWebPage(WebPage(L"register.php"));
      return true;
    case kPurchase:
    case kTrayPurchase:
      view.OpenWebPage(WebPage(L"purchase.php"));
      return true;
    case kFreeTrial:
      view.OpenWebPage(WebPage(L"freetrial.php"));
      return true;
    case kHelp:
      view.OpenWebPage(WebPage(L"help.php"));
      return true;
    case kSupport:
    case kTrayHomePage:
      view.OpenWebPage(WebPage(L""));
      return true;
    case kForgotPassword:
      view.OpenWebPage(std::wstring(kServiceWebSite) + L"retrieve_password.php");
      return true;
    case kTrayAbout:
      InBox([&] { view.ShowAbout(AboutText()); });
      return true;
    case kTrayShow:
      ShowWindow();
      return true;
    case kTrayAutoReconnect:
      ToggleAutoReconnect();
      return true;
    default:
      break;
  }
  if (id >= kFirstNews && id < kFirstNews + kNewsSlots) {
    const std::wstring link = view.NewsLink(static_cast<int>(id - kFirstNews));
    if (!link.empty()) view.OpenWebPage(link);
    return true;
  }
  return false;
}

void MainWindowController::OnTimer(uint32_t id) {
  Handle([this, id] { Tick(id); }, id);
}

void MainWindowController::Tick(uint32_t id) {
  if (id == kWatchTimer) {
    WatchConnection();
  } else if (id == kRaceTimer) {
    StopTimer(kRaceTimer);
    StartRacePass();
  } else if (id == kHostWaitTimer && waitingForHost_) {
    EndHostWait();
    ConnectToHost();
  } else if (id == kRouteSettleTimer) {
    StopTimer(kRouteSettleTimer);
    std::vector<RouteRow> now;
    if (connected_ && !connectedTable_.empty() && ports_.routeTable &&
        ports_.routeTable->ReadForwardTable(now) == 0 && DefaultRouteMoved(connectedTable_, now)) {
      HandleDrop(DropCause::kNetworkMoved);
    }
  } else if (id == kReconnectTimer) {
    StopTimer(kReconnectTimer);
    if (const uint32_t number = reconnect_.BeginAttempt(); number != 0) {
      StartAttempt(number);
    } else {
      ScheduleAttempt();
    }
  }
}

std::wstring MainWindowController::WebPage(const std::wstring& page) const {
  return AppendReferral(std::wstring(kServiceWebSite) + page, settings_.referralTag);
}

std::wstring MainWindowController::AboutText() {
  std::wstring text = L"OrumaVPN";
  text += L" ";
  text += kClientVersion;
  text += L" (" + ports_.view.BuildDate() + L")\r\n";
  text += L"\r\n";
  text += L"Copyright (C) OrumaVPN. All rights reserved.\r\n";
  text += L"\r\n";
  text += std::wstring(kServiceWebSite) + L"\r\n";
  return text;
}

// ---- host race ------------------------------------------------------------------------------

void MainWindowController::StartRacePass() {
  DestroyProbes();
  for (const std::wstring& host : ports_.programSettings.LoginHosts(settings_.builtInLoginHosts)) {
    std::wstring url = host + L"client_announcements.php?v=" + kClientVersion;
    raceHosts_.push_back(host);
    race_.Add(ports_.probes.Create(url));
  }
  race_.Start();
  if (race_.AllEnded()) {
    DestroyProbes();
    if (!hostChosen_) ports_.view.StartTimer(kRaceTimer, kRaceRetryMs);
  }
}

void MainWindowController::DestroyProbes() {
  // Destroying a request closes it, which joins its worker.
  race_.Clear();
  raceHosts_.clear();
}

void MainWindowController::OnHostProbeEvent(uintptr_t event, const void* probeId) {
  Handle([this, event, probeId] { HostProbeEnded(event, probeId); });
}

void MainWindowController::HostProbeEnded(uintptr_t event, const void* probeId) {
  if (event != kRequestEnded) return;
  // kStale: a request of an earlier pass, destroyed since its last event was posted.
  const FirstAnswerRace::End end = race_.OnEnded(probeId);
  if (end == FirstAnswerRace::End::kStale) return;
  bool chosenNow = false;
  if (end == FirstAnswerRace::End::kWon) {
    const size_t winner = static_cast<size_t>(race_.winner());
    const HostProbe& probe = race_.request(winner);
    // Read from what was received. The file only keeps the news for the next start; one it
    // cannot take (locked, or left unwritable by someone) costs nothing, and whatever it says
    // after we wrote it is never asked.
    ports_.announcements.HoldAnswer(probe.Body());
    if (settings_.keepRecords) SaveResponseBody(settings_.announcementFile, probe.Body());
    loginHost_ = raceHosts_[winner];
    hostChosen_ = true;
    chosenNow = true;
    InBox([this] { ports_.announcements.ShowAnnouncements(false); });
  }
  if (race_.AllEnded()) {
    DestroyProbes();
    if (!hostChosen_) ports_.view.StartTimer(kRaceTimer, kRaceRetryMs);
  }
  if (chosenNow && waitingForHost_) {
    EndHostWait();
    ConnectToHost();
  }
}

// ---- connect ----------------------------------------------------------------------------------

void MainWindowController::SetConnectEnabled(bool enable) {
  connectEnabled_ = enable;
  ports_.view.EnableConnect(enable);
}

void MainWindowController::OnEnter() {
  if (connectEnabled_) Connect();
}

void MainWindowController::Connect() {
  if (BoxOpen()) return;
  Handle([this] {
    // Not before the last engine has restored its routes: the new one would find them. Not
    // while a reconnect runs either: Disconnect ends it first.
    if (waitingForHost_ || restoring_ || Reconnecting()) return;
    if (!ports_.settings.GetTipHideAfterConnection()) {
      // Remembered first: an Exit while the tip is open ends Connect there.
      ports_.settings.SetTipHideAfterConnection(true);
      ShowMessage(GetText("FirstClickConnect"), MessageIcon::kInformation);
    }
    SetConnectEnabled(false);
    if (!loginHost_.empty()) {
      ConnectToHost();
      return;
    }
    // The race goes on; its answer or the timer, whichever comes first, carries Connect on.
    waitingForHost_ = true;
    ports_.view.StartTimer(kHostWaitTimer, kHostWaitMs);
  });
}

void MainWindowController::EndHostWait() {
  waitingForHost_ = false;
  StopTimer(kHostWaitTimer);
}

void MainWindowController::ConnectToHost() {
  SetConnectEnabled(!restoring_);
  if (loginHost_.empty()) {
    ShowMessage(GetText("CanNotFindFastestServer"), MessageIcon::kNone);
    return;
  }
  ports_.rasServices.EnsureRasServicesRunning();
  Login();
}

void MainWindowController::Login() {
  // A reconnect owns the connection until it ends.
  if (current_ || Reconnecting()) return;
  RememberingChooser chooser(ports_.policy, chosen_);
  ScopedPorts scoped(*this, chooser, false);
  LoginOutcome outcome = RunLogin(scoped);
  if (!outcome.engine) return;
  routeChoice_ = outcome.plan.chosen;
  tunnelType_ = outcome.plan.tunnelType;
  engineSettings_ = VpnEngineSettings::Of(*outcome.engine);
  routeFailuresAccepted_ = false;
  reconnect_.OnLoggedIn();
  StartEngine(std::move(outcome.engine));
}

LoginOutcome MainWindowController::RunLogin(ScopedPorts& scoped) {
  MainWindowView& view = ports_.view;
  LoginPorts login{.settings = ports_.settings,
                   .fetcher = scoped,
                   .update = scoped,
                   .policy = scoped,
                   .engines = ports_.engines,
                   .view = scoped,
                   .random = ports_.random,
                   .now = ports_.now};
  LoginInputs inputs;
  inputs.loginHost = loginHost_;
  inputs.userName = view.UserName();
  inputs.password = view.Password();
  inputs.savePassword = view.SavePasswordChecked();
  inputs.responseRecord = settings_.responseRecord;
  inputs.keepRecord = settings_.keepRecords;
  inputs.referralTag = settings_.referralTag;
  inputs.identity = identity_;
  inputs.callback = &ports_.engineCallback;
  return RunLoginExchange(login, inputs);
}

void MainWindowController::StartEngine(std::unique_ptr<CGeneralVpn> engine) {
  MainWindowView& view = ports_.view;
  current_ = std::move(engine);
  handledReport_ = 0;
  routeQuestionAsked_ = false;
  allDoneHandled_ = false;
  if (retired_) {
    // Its restore is done (a reconnect may take it over while it runs); what is left the new
    // engine's worker waits for, not the window.
    retired_->callback = nullptr;
    current_->Follow(std::move(retired_));
    restoring_ = false;
  }
  // A failure to start arrives as a report.
  current_->Connect();
  SetConnectEnabled(false);
  view.EnableDisconnect(true);
}

// ---- engine reports ---------------------------------------------------------------------------

void MainWindowController::OnEngineReport(const CGeneralVpn* engine, const VpnStatus& status) {
  Handle([this, engine, status] { HandleEngineReport(engine, status); }, kNoTimer, engine);
}

void MainWindowController::HandleEngineReport(const CGeneralVpn* engine, const VpnStatus& status) {
  if (retired_ && engine == retired_.get()) {
    OnRetiredReport(status);
    return;
  }
  if (!current_ || engine != current_.get()) return;
  // Each change is handled once, also when it is reported again.
  if (status.sequence <= handledReport_) return;
  handledReport_ = status.sequence;
  CGeneralVpn& vpn = *current_;
  if (Attempting() && status.error != GENERAL_VPN_ERROR_SUCCESS &&
      !(status.state == GENERAL_VPN_STATE_MODIFY_ROUTE &&
        status.error == GENERAL_VPN_ERROR_MODIFY_ROUTE)) {
    OnAttemptFailed(status.error, status.errorDetail, &status);
    return;
  }
  if (status.error == GENERAL_VPN_ERROR_ALREADY_CONNECTED) {
    // Kept, so Disconnect can hang up the connection found.
    ShowMessage(GetText("VpnConnectionAlreadyExistsCloseFirst"), MessageIcon::kNone);
    return;
  }
  if (status.state == GENERAL_VPN_STATE_MODIFY_ROUTE &&
      status.error == GENERAL_VPN_ERROR_MODIFY_ROUTE) {
    OnRouteFailures(status);
    return;
  }
  if (status.error != GENERAL_VPN_ERROR_SUCCESS) {
    // A tunnel that was up and fails now has dropped.
    if (connected_ && HandleDrop(DropCause::kLinkGone)) return;
    StopWithReport(status);
    return;
  }
  if (status.state == GENERAL_VPN_STATE_DISCONNECTED) {
    if (Attempting()) {
      OnAttemptFailed(GENERAL_VPN_ERROR_CONNECT, 0, nullptr);
      return;
    }
    if (connected_) {
      const DropCause cause =
          tunnelType_ == kTunnelOpenVpn ? DropCause::kChildEnded : DropCause::kLinkGone;
      if (HandleDrop(cause)) return;
      // Without reconnecting, a link found gone is the lost connection the watch reports.
      WatchConnection();
      if (current_.get() != &vpn) return;
    }
  }
  // While an attempt runs, the status line keeps saying which one it is.
  if (Attempting() && status.state != GENERAL_VPN_STATE_ALL_DONE) return;
  ShowEngineReport(DescribeEngine(vpn, status));
  if (status.state == GENERAL_VPN_STATE_ALL_DONE) {
    OnAllDone(status);
  } else if (status.state == GENERAL_VPN_STATE_DISCONNECTED) {
    Stop();
  }
}

void MainWindowController::OnRetiredReport(const VpnStatus& status) {
  if (status.sequence <= retiredReport_) return;
  retiredReport_ = status.sequence;
  if (status.state == GENERAL_VPN_STATE_DISCONNECT ||
      status.state == GENERAL_VPN_STATE_RESTORE_ROUTE) {
    ports_.view.SetStatus(retired_->GetStateText(status.state), false);
  } else if (status.state == GENERAL_VPN_STATE_DISCONNECTED && restoring_) {
    // The restore is done: what the window said when it stopped the engine comes back.
    restoring_ = false;
    ports_.view.SetStatus(statusText_, false);
    if (!current_ && !exiting_ && !Reconnecting()) SetConnectEnabled(true);
  }
}

void MainWindowController::OnRouteFailures(const VpnStatus& status) {
  // Once per connection: a tunnel reported up again fails on the routes it already made.
  if (std::exchange(routeQuestionAsked_, true)) return;
  std::wstring list;
  size_t count = 0;
  for (const std::wstring& route : status.failedRoutes) {
    if (!list.empty()) list += L"\r\n";
    if (++count > kListedFailedRoutes) {
      list += L"...";
      break;
    }
    list += route;
  }
  // A reconnect goes on as the user chose for the connection it replaces.
  const bool goOn =
      routeFailuresAccepted_ ||
      AskYesNo(GetText("CannotModifyFollowingRoutesContinueYesOrNot") + list, false);
  if (goOn) {
    const bool reconnected = Attempting();
    routeFailuresAccepted_ = true;
    reconnect_.OnConnected();
    NoteConnectedTable();
    ShowStatus(GetText("LoginWithCannotModifyAllRoutes"));
    connected_ = true;
    if (reconnected) {
      ports_.tray.SetTip(L"");
      ports_.tray.SetIcon(kIconConnected);
      ports_.tray.ShowBalloon(GetText("ReconnectedClickToOpenMainWindow"));
    }
  } else {
    ShowStatus(GetText("CannotModifyRoutes"));
    Stop();
  }
}

void MainWindowController::OnAllDone(const VpnStatus& status) {
  // The binding module and the balloon belong to the connection, not to each report of it.
  if (std::exchange(allDoneHandled_, true)) return;
  if (BindsApplications()) {
    const uint32_t address =
        TryParseIpv4(WideToAnsi(status.localAddress)).value_or(kAddressNone);
    if (!ports_.bind.Start(kBindStartCount, address)) {
      ShowMessage(GetText("VpnBindIsBroken"), MessageIcon::kNone);
    }
  }
  const bool reconnected = Attempting();
  reconnect_.OnConnected();
  NoteConnectedTable();
  ports_.tray.SetIcon(kIconConnected);
  connected_ = true;
  if (reconnected) {
    ports_.tray.SetTip(L"");
    ports_.tray.ShowBalloon(GetText("ReconnectedClickToOpenMainWindow"));
  } else {
    ports_.tray.ShowBalloon(GetText("LoginOKClickToOpenMainWindow"));
    HideToTray();
  }
  ports_.repairs.FixBindingOrder();
  // The TAP adapter gets the tunnel's address by DHCP from its own driver: for OpenVPN a DHCP
  // address equal to the tunnel's is how it should be, and switching it off would cut the
  // tunnel.
  if (tunnelType_ != kTunnelOpenVpn) ports_.repairs.CheckDhcp(status.localAddress);
}

MainWindowController::EngineReport MainWindowController::DescribeEngine(CGeneralVpn& vpn,
                                                                        const VpnStatus& status) {
  EngineReport report;
  if (status.error == GENERAL_VPN_ERROR_SUCCESS) {
    report.status = vpn.GetStateText(status.state);
    if (const std::wstring warnings = CGeneralVpn::GuardWarnings(status, true); !warnings.empty()) {
      report.status += L" " + warnings;
    }
    return report;
  }
  report.status = vpn.GetErrorDetailText(status.errorDetail);
  if (report.status.empty()) report.status = vpn.GetErrorText(status.error);
  report.box = vpn.BuildStatusReport(status);
  return report;
}

void MainWindowController::ShowEngineReport(const EngineReport& report) {
  ShowStatus(report.status);
  if (!report.box.empty()) ShowMessage(report.box, MessageIcon::kNone);
}

void MainWindowController::ReportEngineState() {
  if (current_) ShowEngineReport(DescribeEngine(*current_, current_->Status()));
}

// The engine is stopped before its error is shown: the box is modal, and a connection watch
// tick while it is open would take the failed engine for a lost connection and report that
// instead. The report is taken first, because stopping resets the engine's state.
void MainWindowController::StopWithReport(const VpnStatus& status) {
  if (!current_) return;
  const EngineReport report = DescribeEngine(*current_, status);
  Stop();
  ShowEngineReport(report);
}

void MainWindowController::WatchConnection(DropCause cause) {
  if (Reconnecting() && !connected_) {
    // The connecting picture: the two pictures in turn.
    blink_ = !blink_;
    ports_.tray.SetIcon(blink_ ? kIconConnected : kIconIdle);
  }
  if (!current_) return;
  uint32_t sent = 0;
  uint32_t received = 0;
  int32_t detail = 0;
  if (const int32_t error = current_->GetStatistics(sent, received, detail); error != 0) {
    if (Attempting()) {
      OnAttemptFailed(error, detail, nullptr);
      return;
    }
    if (connected_ && HandleDrop(cause)) {
      lastSent_ = 0;
      lastReceived_ = 0;
      return;
    }
    const bool wasConnected = connected_;
    ports_.view.ShowMainWindow();
    const std::wstring text = GetText("VpnErrorMessage") + L":" + current_->GetErrorText(error) +
                              L"\r\n" + GetText("VpnErrorDetail") + L":" +
                              current_->GetErrorDetailText(detail) + L"\r\n";
    Stop();
    ShowStatus(GetText("DisconnectedUnexcepted"));
    if (wasConnected) ShowMessage(text, MessageIcon::kNone);
    lastSent_ = 0;
    lastReceived_ = 0;
    return;
  }
  // Until the tunnel is up the icon stays idle: the traffic pictures say "connected".
  if (!connected_) return;
  if (Attempting()) return;
  const bool sentMoved = sent != lastSent_;
  const bool receivedMoved = received != lastReceived_;
  uint32_t icon = kIconConnected;
  if (sentMoved && receivedMoved) {
    icon = kIconBoth;
  } else if (sentMoved) {
    icon = kIconSent;
  } else if (receivedMoved) {
    icon = kIconReceived;
  }
  ports_.tray.SetIcon(icon);
  lastSent_ = sent;
  lastReceived_ = received;
}

bool MainWindowController::HideToTray() {
  // Without an icon in the notification area a hidden window could never be brought back.
  if (!ports_.tray.Shown()) return false;
  ports_.view.HideMainWindow();
  return true;
}

// ---- stop and exit ----------------------------------------------------------------------------

void MainWindowController::Stop() {
  CancelReconnect();
  if (BindsApplications()) {
    routeChoice_.reset();
    ports_.bind.Stop();
  }
  RetireEngine();
  SetConnectEnabled(!restoring_);
  ports_.view.EnableDisconnect(false);
  ports_.tray.SetIcon(kIconIdle);
}

void MainWindowController::RetireEngine() {
  if (!current_) return;
  connected_ = false;
  // Returns at once; the engine's worker reports the restore, and Connect waits for its end.
  current_->Disconnect();
  // Reports of the engine this one replaces die with it.
  std::erase_if(queued_, [this](const Queued& queued) {
    return queued.engine != nullptr && queued.engine == retired_.get();
  });
  retired_ = std::move(current_);
  retiredReport_ = 0;
  restoring_ = true;
}

// ---- reconnecting -----------------------------------------------------------------------------

bool MainWindowController::HandleDrop(DropCause cause) {
  if (exiting_ || !reconnect_.OnDrop(cause)) return false;
  // The binding module follows the connection; the next one starts it again.
  if (BindsApplications()) ports_.bind.Stop();
  // Its routes are restored first: the direct network works while the attempts wait.
  RetireEngine();
  ScheduleAttempt();
  return true;
}

void MainWindowController::ScheduleAttempt() {
  const std::optional<uint32_t> left = reconnect_.DelayLeft();
  if (!left) return;
  ShowReconnecting(reconnect_.attempt() + 1);
  ports_.view.StartTimer(kReconnectTimer, std::max<uint32_t>(*left, 1));
}

void MainWindowController::ShowReconnecting(uint32_t number) {
  std::wstring text = GetText("ReconnectingAttempt");
  if (const size_t at = text.find(L"%1"); at != std::wstring::npos) {
    text.replace(at, 2, std::to_wstring(number));
  }
  ShowStatus(text);
  ports_.tray.SetTip(text);
  SetConnectEnabled(false);
  // Disconnect ends the attempts.
  ports_.view.EnableDisconnect(true);
}

void MainWindowController::StartAttempt(uint32_t number) {
  ShowReconnecting(number);
  std::unique_ptr<CGeneralVpn> engine;
  if (reconnect_.LoginDue()) {
    SameChoice chooser(chosen_);
    ScopedPorts quiet(*this, chooser, true);
    LoginOutcome outcome = RunLogin(quiet);
    if (!outcome.engine) {
      // No answer is one failed attempt; the login stays due. A refusal ends the attempts,
      // and only then is it shown.
      if (reconnect_.OnLoginFailed(!quiet.unanswered) != AttemptVerdict::kStop) {
        ScheduleAttempt();
        return;
      }
      Stop();
      ShowStatus(GetText("LoginError"));
      for (const auto& [text, icon] : quiet.held) ShowMessage(text, icon);
      return;
    }
    reconnect_.OnLoggedIn();
    engineSettings_ = VpnEngineSettings::Of(*outcome.engine);
    engine = std::move(outcome.engine);
    ShowReconnecting(number);
  } else {
    engine = ports_.engines.CreateEngine(tunnelType_);
    if (!engine) {
      Stop();
      InBox([this] { ports_.view.SetStatus(GetText("VpnUnknownError"), true); });
      return;
    }
    engineSettings_.ApplyTo(*engine);
    engine->callback = &ports_.engineCallback;
  }
  StartEngine(std::move(engine));
}

void MainWindowController::OnAttemptFailed(int32_t error, int32_t detail,
                                           const VpnStatus* report) {
  const AttemptVerdict verdict =
      reconnect_.OnAttemptFailed(error, detail, tunnelType_ == kTunnelOpenVpn);
  if (verdict == AttemptVerdict::kStop) {
    // A refusal the user must act on: shown as any failed connection is.
    if (report != nullptr) {
      StopWithReport(*report);
    } else {
      Stop();
      ShowStatus(GetText("DisconnectedUnexcepted"));
    }
    return;
  }
  RetireEngine();
  ScheduleAttempt();
}

void MainWindowController::CancelReconnect() {
  reconnect_.Cancel();
  StopTimer(kReconnectTimer);
  ports_.tray.SetTip(L"");
}

void MainWindowController::ToggleAutoReconnect() {
  const bool on = !reconnect_.enabled();
  ports_.settings.SetAutoReconnect(on);
  ports_.tray.SetMenuItem(kTrayAutoReconnect, GetText("AutoReconnect"), on);
  if (on) {
    reconnect_.SetEnabled(true);
    return;
  }
  // Turned off while reconnecting: the drop ends as it would have without the option.
  const bool wasReconnecting = Reconnecting();
  if (wasReconnecting) Stop();
  reconnect_.SetEnabled(false);
  if (wasReconnecting) ShowStatus(GetText("DisconnectedUnexcepted"));
}

void MainWindowController::OnSuspend() {
  Handle([this] {
    if (!Reconnecting()) return;
    // An attempt under way stops with its routes restored; nothing is dialled in sleep.
    if (Attempting()) RetireEngine();
    reconnect_.Suspend();
    StopTimer(kReconnectTimer);
  });
}

void MainWindowController::OnResume() {
  Handle([this] {
    if (reconnect_.phase() == ReconnectPolicy::Phase::kSuspended) {
      reconnect_.Resume();
      ScheduleAttempt();
      return;
    }
    // A tunnel the sleep took down answers no statistics.
    if (connected_) WatchConnection(DropCause::kResumed);
  });
}

void MainWindowController::NoteConnectedTable() {
  connectedTable_.clear();
  if (ports_.routeTable &&
      RouteModeStrategyFor(engineSettings_.routeMode).TunnelIsDefaultGateway() &&
      ports_.routeTable->ReadForwardTable(connectedTable_) != 0) {
    connectedTable_.clear();
  }
}

void MainWindowController::OnRouteTableChanged() {
  Handle([this] {
    if (!connected_ || connectedTable_.empty()) return;
    ports_.view.StartTimer(kRouteSettleTimer, kRouteSettleMs);
  });
}

void MainWindowController::OnDhcpSwitchedOff() {
  Handle([this] {
    ports_.view.ShowMainWindow();
    ShowMessage(GetText("DHCPOnVPNDetected"), MessageIcon::kWarning);
    // The tunnel cannot work while the adapter holds its address; connecting again will.
    Stop();
  });
}

void MainWindowController::OnCancel() {
  if (BoxOpen()) return;
  Handle([this] {
    if (current_ && !AskYesNo(GetText("VpnConnectedAreYouSureToExit"), true)) return;
    CarryOutExit();
  });
}

void MainWindowController::Exit() {
  if (BoxOpen()) {
    exitAsked_ = true;
    return;
  }
  Handle([this] { CarryOutExit(); });
}

void MainWindowController::CarryOutExit() {
  if (exiting_) return;
  exiting_ = true;
  exitAsked_ = false;
  queued_.clear();
  if (waitingForHost_) EndHostWait();
  Stop();
  // The window goes away while the restore may still run.
  if (retired_) retired_->callback = nullptr;
  DestroyProbes();
  StopTimer(kRaceTimer);
  ports_.view.CloseMainWindow();
}
