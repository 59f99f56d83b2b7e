#include "app/main_window_controller.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "base/text.h"
#include "config/text_table.h"
#include "service/http_url.h"
#include "service/server_response.h"

using namespace main_window;

namespace {

// The policy dialog's choice, kept for reconnecting; without a dialog (a reconnect's login) the
// choice kept.
class KeptChoice : public PolicyChooser {
 public:
  KeptChoice(PolicyChooser* dialog, PolicyChoice& kept) : dialog_(dialog), kept_(kept) {}
  bool ChoosePolicy(const ServiceAnswer& answer, PolicyChoice& choice) override {
    if (dialog_ == nullptr) {
      choice = kept_;
      return true;
    }
    if (!dialog_->ChoosePolicy(answer, choice)) return false;
    kept_ = choice;
    return true;
  }

 private:
  PolicyChooser* dialog_;
  PolicyChoice& kept_;
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
      session_(SessionPorts{.view = *this,
                            .tray = ports_.tray,
                            .repairs = ports_.repairs,
                            .bind = ports_.bind,
                            .engines = ports_.engines,
                            .engineCallback = ports_.engineCallback,
                            .clock = ports_.clock,
                            .routeTable = ports_.routeTable,
                            .reports = ports_.sessionReports,
                            .trafficGuard = ports_.trafficGuard,
                            .keepReachable = [this](const std::wstring& server) {
                              return KeepReachable(server);
                            }}) {
  if (settings_.referralTag.empty()) settings_.referralTag = L"main";
  // Read before the window exists: the queries may take a while, and run no message loop of
  // the window's while they do.
  const bool windows2000 = ports_.machine.IsWindows2000();
  identity_ = ports_.machine.Read(!windows2000);
  if (windows2000) identity_.bios = kBiosSkippedOnWindows2000;
}

MainWindowController::~MainWindowController() { DestroyProbes(); }

void MainWindowController::ShowStatus(const std::wstring& text) { session_.ShowStatus(text); }

void MainWindowController::Log(std::wstring text) {
  if (ports_.sessionReports) {
    ports_.sessionReports({.kind = SessionReport::Kind::kNote, .text = std::move(text)});
  }
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
    session_.SetAutoReconnect(ports_.settings.GetAutoReconnect());
    ports_.tray.SetMenuItem(kTrayAutoReconnect, GetText("AutoReconnect"),
                            session_.autoReconnect());
    session_.SetKillSwitch(ports_.settings.GetKillSwitch());
    ports_.tray.SetMenuItem(kTrayKillSwitch, GetText("KillSwitch"), session_.killSwitch());
    ports_.tray.SetMenuItem(kTrayConnectionLog, GetText("ConnectionLog"), false);

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
      case kTrayKillSwitch:
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
      Log(L"用户断开连接");
      session_.Stop();
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
    case kTrayKillSwitch:
      ToggleKillSwitch();
      return true;
    case kTrayConnectionLog:
      // A window of its own beside the main one, never a box: it opens while a box is up too.
      if (ports_.openConnectionLog) ports_.openConnectionLog();
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
    session_.Watch();
  } else if (id == kRaceTimer) {
    StopTimer(kRaceTimer);
    StartRacePass();
  } else if (id == kHostWaitTimer && waitingForHost_) {
    EndHostWait();
    ConnectToHost();
  } else {
    session_.OnTimer(id);
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
    Log(L"登录服务器：" + loginHost_);
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
    if (waitingForHost_ || session_.restoring() || session_.Reconnecting()) return;
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
  SetConnectEnabled(!session_.restoring());
  if (loginHost_.empty()) {
    ShowMessage(GetText("CanNotFindFastestServer"), MessageIcon::kNone);
    return;
  }
  ports_.rasServices.EnsureRasServicesRunning();
  Login();
}

void MainWindowController::Login() {
  // A reconnect owns the connection until it ends.
  if (session_.HasEngine() || session_.Reconnecting()) return;
  KeptChoice chooser(&ports_.policy, chosen_);
  ScopedPorts scoped(*this, chooser, false);
  LoginOutcome outcome = RunLogin(scoped);
  if (!outcome.engine) return;
  session_.Begin(std::move(outcome.engine), outcome.plan);
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
  LoginOutcome outcome = RunLoginExchange(login, inputs);
  // Only the host and the result: the request carries the scrambled password.
  Log(L"登录 " + loginHost_ + L"：" +
      (outcome.engine ? L"成功"
       : scoped.unanswered ? L"没有可用的应答"
                           : L"未完成（服务器拒绝、需要更新或已取消）"));
  return outcome;
}

// ---- the session's window ----------------------------------------------------------------------

void MainWindowController::OnEngineReport(const CGeneralVpn* engine, const VpnStatus& status) {
  Handle([this, engine, status] { session_.OnEngineReport(engine, status); }, kNoTimer, engine);
}

void MainWindowController::DropReportsOf(const CGeneralVpn* engine) {
  std::erase_if(queued_, [engine](const Queued& queued) { return queued.engine == engine; });
}

SessionView::Relogin MainWindowController::LogInAgain() {
  KeptChoice chooser(nullptr, chosen_);
  ScopedPorts quiet(*this, chooser, true);
  Relogin login;
  login.outcome = RunLogin(quiet);
  login.unanswered = quiet.unanswered;
  for (auto& [text, icon] : quiet.held) login.held.push_back(std::move(text));
  return login;
}

bool MainWindowController::HideWindowToTray() {
  // Without an icon in the notification area a hidden window could never be brought back.
  if (!ports_.tray.Shown()) return false;
  ports_.view.HideMainWindow();
  return true;
}

void MainWindowController::OnSuspend() {
  Handle([this] {
    Log(L"系统进入睡眠");
    session_.OnSuspend();
  });
}

void MainWindowController::OnResume() {
  Handle([this] {
    Log(L"系统已唤醒");
    session_.OnResume();
  });
}

void MainWindowController::OnRouteTableChanged() {
  Handle([this] { session_.OnRouteTableChanged(); });
}

void MainWindowController::ToggleAutoReconnect() {
  const bool on = !session_.autoReconnect();
  ports_.settings.SetAutoReconnect(on);
  ports_.tray.SetMenuItem(kTrayAutoReconnect, GetText("AutoReconnect"), on);
  session_.SetAutoReconnect(on);
}

void MainWindowController::ToggleKillSwitch() {
  const bool on = !session_.killSwitch();
  ports_.settings.SetKillSwitch(on);
  ports_.tray.SetMenuItem(kTrayKillSwitch, GetText("KillSwitch"), on);
  session_.SetKillSwitch(on);
}

std::vector<uint32_t> MainWindowController::KeepReachable(const std::wstring& server) {
  std::vector<uint32_t> addresses;
  if (!ports_.resolve) return addresses;
  addresses.push_back(ports_.resolve(server));
  for (const std::wstring& host : ports_.programSettings.LoginHosts(settings_.builtInLoginHosts)) {
    if (const auto url = ParseHttpUrl(host)) addresses.push_back(ports_.resolve(url->host));
  }
  std::erase(addresses, 0u);
  return addresses;
}

void MainWindowController::OnDhcpSwitchedOff() {
  Handle([this] {
    ports_.view.ShowMainWindow();
    ShowMessage(GetText("DHCPOnVPNDetected"), MessageIcon::kWarning);
    // The tunnel cannot work while the adapter holds its address; connecting again will.
    session_.Stop();
  });
}

void MainWindowController::OnCancel() {
  if (BoxOpen()) return;
  Handle([this] {
    if (session_.HasEngine() && !AskYesNo(GetText("VpnConnectedAreYouSureToExit"), true)) return;
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
  Log(L"退出");
  queued_.clear();
  if (waitingForHost_) EndHostWait();
  session_.End();
  DestroyProbes();
  StopTimer(kRaceTimer);
  ports_.view.CloseMainWindow();
}
