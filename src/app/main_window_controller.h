// The decisions of the main window: the host race, Connect, the engine's reports, the
// connection watch, Stop and Exit. CDlgVpnMain turns window messages into calls here and
// implements the view; everything else arrives through ports, so the controller runs natively
// in tests.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/connection_session.h"
#include "app/main_window_ports.h"
#include "config/program_settings.h"
#include "config/route_set_code.h"
#include "config/settings_store.h"
#include "policy/bind_module.h"
#include "resource.h"
#include "service/login_exchange.h"
#include "vpn/general_vpn.h"
#include "vpn/reconnect_policy.h"
#include "vpn/route_request.h"

namespace main_window {

// Command ids of the window, its tray menu and its news buttons.
inline constexpr uint32_t kConnect = 1003;
inline constexpr uint32_t kDisconnect = 1004;
inline constexpr uint32_t kRegister = 1005;
inline constexpr uint32_t kPurchase = 1006;
inline constexpr uint32_t kFreeTrial = 1007;
inline constexpr uint32_t kSavePassword = 1008;
inline constexpr uint32_t kHelp = 1009;
inline constexpr uint32_t kStatusLine = 1010;
inline constexpr uint32_t kSupport = 1012;
inline constexpr uint32_t kFirstNews = 1036;
inline constexpr int kNewsSlots = 4;
inline constexpr uint32_t kForgotPassword = 1040;
inline constexpr uint32_t kTrayShow = ID_TRAY_SHOW;
inline constexpr uint32_t kTrayExit = ID_TRAY_EXIT;
inline constexpr uint32_t kTrayAbout = ID_TRAY_ABOUT;
inline constexpr uint32_t kTrayHomePage = ID_TRAY_HOMEPAGE;
inline constexpr uint32_t kTrayPurchase = ID_TRAY_PURCHASE;
inline constexpr uint32_t kTrayAutoReconnect = ID_TRAY_AUTORECONNECT;
inline constexpr uint32_t kTrayKillSwitch = ID_TRAY_KILLSWITCH;
inline constexpr uint32_t kTrayConnectionLog = ID_TRAY_CONNECTION_LOG;

inline constexpr uint32_t kWatchTimer = 0;
inline constexpr uint32_t kWatchIntervalMs = 1000;
inline constexpr uint32_t kRaceTimer = 2;
inline constexpr uint32_t kRaceRetryMs = 5000;
// Connect pressed before the race chose a host waits this long for one.
inline constexpr uint32_t kHostWaitTimer = 3;
inline constexpr uint32_t kHostWaitMs = 6000;
// The connection's own: the wait before the next attempt to bring a dropped tunnel back, the wait
// for route changes to settle, the tray pictures.
using namespace connection_session;

// The host race's request has ended (the HTTP client's last event).
inline constexpr uintptr_t kRequestEnded = 7;

}  // namespace main_window

class MainWindowView : public virtual LoginView {
 public:
  virtual void EnableConnect(bool enable) = 0;
  virtual void EnableDisconnect(bool enable) = 0;
  // A Yes/No box with the question icon; true for Yes.
  virtual bool AskYesNo(const std::wstring& text, bool defaultNo) = 0;

  virtual std::wstring UserName() = 0;
  virtual std::wstring Password() = 0;
  virtual bool SavePasswordChecked() = 0;
  virtual void SetUserName(const std::wstring& text) = 0;
  virtual void SetPassword(const std::wstring& text) = 0;
  virtual void SetSavePasswordChecked(bool checked) = 0;
  // The "Link" of a news button; empty when the slot shows nothing.
  virtual std::wstring NewsLink(int slot) = 0;

  // Shows the window in front.
  virtual void ShowMainWindow() = 0;
  // Hides the window and gives back the memory it does not need while hidden.
  virtual void HideMainWindow() = 0;
  virtual void StartTimer(uint32_t id, uint32_t milliseconds) = 0;
  virtual void StopTimer(uint32_t id) = 0;
  // Ends the window's modal run, and with it the program.
  virtual void CloseMainWindow() = 0;

  // "BuildDate" of the program's version resource.
  virtual std::wstring BuildDate() = 0;
  // An information box captioned with the product name.
  virtual void ShowAbout(const std::wstring& text) = 0;
};

struct MainWindowPorts {
  MainWindowView& view;
  SettingsStore& settings;
  ProgramSettings& programSettings;
  TrayIcon& tray;
  RasServices& rasServices;
  AdapterRepairs& repairs;
  MachineIdentity& machine;
  Announcements& announcements;
  BindModule& bind;
  HostProbeFactory& probes;
  LoginFetcher& fetcher;
  OnlineUpdateCheck& update;
  PolicyChooser& policy;
  EngineFactory& engines;
  RandomSource random;
  std::function<int64_t()> now;
  // The window's side of the engine's reports: posts them back to the window.
  CGeneralVpnCallbackInterface& engineCallback;
  // Times the waits between attempts to reconnect.
  TickClock& clock = SystemTickClock();
  // The host's table, read in route mode 1 to see its default route move; none: not watched.
  RouteTable* routeTable = nullptr;
  // Every step of the connection (ConnectionSession), for whoever keeps a record of them.
  std::function<void(const SessionReport&)> sessionReports;
  // The kill switch's filters; none: the tray item does nothing.
  TrafficGuard* trafficGuard = nullptr;
  // Resolves a host name or dotted address (IPv4, network byte order; 0 when none).
  std::function<uint32_t(const std::wstring& host)> resolve = TunnelServerAddress;
  // Opens the connection log's window, or brings the open one forward; none: the item does
  // nothing.
  std::function<void()> openConnectionLog;
};

struct MainWindowSettings {
  // The login host list used when the settings file names none.
  std::wstring builtInLoginHosts;
  // The build's distribution channel; empty for the main one.
  std::wstring referralTag;
  // Where the login keeps the record of the service's answer while it runs.
  std::wstring responseRecord;
  std::wstring announcementFile;
  // False when the data folder is not the program's own: answers stay in memory, no file is
  // written or removed there.
  bool keepRecords = true;
};

// Windows 2000 has no BIOS query worth making; the service accepts this in the BIOS's place.
inline constexpr char kBiosSkippedOnWindows2000[] = "SKIP_FOR_NT5";

// The window's boxes and dialogs run message loops of their own, so the window's handlers are
// called again while one is open. One rule answers that (docs/modal-loops.md): every box the
// controller or its login opens is opened inside a box scope, and while one is open
//  - engine reports, timer ticks, the race's answers, route changes, sleep and waking are
//    queued and handled in order once the handler that opened the box has returned; a queued
//    tick goes when its timer is stopped meanwhile;
//  - the user's commands that act on the connection (Connect, Enter, Disconnect, closing the
//    window, the auto-reconnect and kill-switch items, About) are refused; links, Show and the
//    connection log still work;
//  - Exit is remembered and carried out as soon as the box closes: the code that opened the box
//    does not go on (the scope unwinds it to the handler's start), so nothing more is shown or
//    done for the handler that was running.
// Handlers may therefore assume that nothing changes while their own box is open.
// The connection itself is the session's (ConnectionSession); the controller is its window: it
// shows what the session reports and forwards the user's commands to it.
class MainWindowController : private SessionView {
 public:
  // Reads the machine's identity; the window need not exist yet.
  MainWindowController(MainWindowPorts ports, MainWindowSettings settings);
  ~MainWindowController();
  MainWindowController(const MainWindowController&) = delete;
  MainWindowController& operator=(const MainWindowController&) = delete;

  // After the controls exist: timers, buttons, saved credentials, stored news, first race pass.
  void Initialize();

  // False for ids that are not the window's own.
  bool OnCommand(uint32_t id);
  // Enter in the login form: Connect, while the Connect button can be pressed.
  void OnEnter();
  void OnTimer(uint32_t id);
  void OnHostProbeEvent(uintptr_t event, const void* probeId);
  // A report of `engine` with the status it carried; ignored unless it is the current engine
  // and a change not handled yet. Every entry point below follows the rule above.
  void OnEngineReport(const CGeneralVpn* engine, const VpnStatus& status);
  // The adapter repairs switched DHCP off on an interface holding the tunnel's address.
  void OnDhcpSwitchedOff();
  // Escape or the close box.
  void OnCancel();
  // True when the window went to the tray; false leaves it to be minimized as usual.
  bool OnMinimized() { return HideWindowToTray(); }
  // The system is about to sleep, and has woken (the power broadcasts).
  void OnSuspend();
  void OnResume();
  // The host's routes or interfaces changed. In route mode 1 the table is read once the
  // changes settle: a default route moved to another gateway or interface leaves the routes that
  // bypass the tunnel pointing at the old one, so the connection is made again.
  void OnRouteTableChanged();
  // A left click on the tray icon, the tray's show item or a second instance.
  void ShowWindow() { ports_.view.ShowMainWindow(); }

  void Connect();
  void Stop() { Handle([this] { session_.Stop(); }); }
  void Exit();
  void ReportEngineState() { session_.ReportEngineState(); }

  // The service's web page `page` with the referral parameter.
  std::wstring WebPage(const std::wstring& page) const;
  std::wstring AboutText();

  const std::wstring& loginHost() const { return loginHost_; }
  const ClientIdentity& identity() const { return identity_; }
  bool connected() const { return session_.connected(); }
  CGeneralVpn* currentEngine() const { return session_.currentEngine(); }
  CGeneralVpn* retiredEngine() const { return session_.retiredEngine(); }
  // The route choice of the connection; empty once a connection of the chosen applications was
  // stopped.
  const std::optional<RouteSetChoice>& routeChoice() const { return session_.routeChoice(); }
  size_t pendingProbes() const { return race_.size(); }
  // Events waiting for the open boxes to close.
  size_t queuedEvents() const { return queued_.size(); }
  const ReconnectPolicy& reconnectPolicy() const { return session_.reconnectPolicy(); }

 private:
  class ScopedPorts;
  // Thrown when a box closes with Exit asked for during it; caught where the handler started.
  struct ExitAsked {};
  static constexpr uint32_t kNoTimer = 0xFFFFFFFF;
  // An event that waits for the boxes to close.
  struct Queued {
    std::function<void()> run;
    // The timer whose tick it is, or the engine whose report it is.
    uint32_t timer = kNoTimer;
    const CGeneralVpn* engine = nullptr;
  };

  // A handler's start: runs `body` now, or queues it while a box is open. The outermost one
  // catches the unwinding of a box closed with Exit asked, carries Exit out, and then handles
  // what was queued.
  void Handle(std::function<void()> body, uint32_t timer = kNoTimer,
              const CGeneralVpn* engine = nullptr);
  // True while a box is open, for the commands it refuses.
  bool BoxOpen() const { return openBoxes_ > 0; }
  // Opens a box through `open` inside the box scope; see the class comment.
  template <typename Open>
  auto InBox(Open&& open) -> decltype(open());
  void AfterBox();
  void ShowMessage(const std::wstring& text, MessageIcon icon);
  void RunHandler(const std::function<void()>& body);
  bool Command(uint32_t id);
  void Tick(uint32_t id);
  void HostProbeEnded(uintptr_t event, const void* probeId);
  void CarryOutExit();
  // A line for the connection log, through the session's reports.
  void Log(std::wstring text);

  void StartRacePass();
  // Connect once a host is known: the login, or the box saying none answered.
  void ConnectToHost();
  void EndHostWait();
  void DestroyProbes();
  // Hides the window, unless the tray has no icon to bring it back with; true when hidden.
  bool HideWindowToTray();
  void Login();
  void SetConnectEnabled(bool enable);
  // The status line, remembered so it comes back once a restore is done.
  void ShowStatus(const std::wstring& text);
  // The exchange over HTTP through `scoped`, which holds the policy dialog's stand-in.
  LoginOutcome RunLogin(ScopedPorts& scoped);
  void ToggleAutoReconnect();
  void ToggleKillSwitch();
  // The addresses a reconnect needs while the kill switch blocks the rest: `server`'s and the
  // login hosts'.
  std::vector<uint32_t> KeepReachable(const std::wstring& server);

  // The session's window (SessionView).
  void SetStatus(const std::wstring& text) override { ports_.view.SetStatus(text, false); }
  void EnableConnect(bool enable) override { SetConnectEnabled(enable); }
  void EnableDisconnect(bool enable) override { ports_.view.EnableDisconnect(enable); }
  void ShowMessage(const std::wstring& text) override { ShowMessage(text, MessageIcon::kNone); }
  bool AskYesNo(const std::wstring& text, bool defaultNo) override;
  void ShowMainWindow() override { ports_.view.ShowMainWindow(); }
  void HideToTray() override { HideWindowToTray(); }
  void StartTimer(uint32_t id, uint32_t milliseconds) override {
    ports_.view.StartTimer(id, milliseconds);
  }
  // Also drops a tick of the timer waiting for a box to close.
  void StopTimer(uint32_t id) override;
  void DropReportsOf(const CGeneralVpn* engine) override;
  Relogin LogInAgain() override;

  MainWindowPorts ports_;
  MainWindowSettings settings_;
  FirstAnswerRace race_;
  // The host of each request of the race, in the same order.
  std::vector<std::wstring> raceHosts_;
  bool hostChosen_ = false;
  // Connect was pressed before a host was chosen; kHostWaitTimer runs.
  bool waitingForHost_ = false;
  bool exiting_ = false;
  // The box scope: boxes open now, handlers running, Exit asked while a box was open, and the
  // events waiting for the boxes to close.
  int openBoxes_ = 0;
  int handling_ = 0;
  bool exitAsked_ = false;
  std::deque<Queued> queued_;
  bool connectEnabled_ = false;
  std::wstring loginHost_;
  ClientIdentity identity_;
  // What the last login chose: what a reconnect's login chooses again.
  PolicyChoice chosen_;
  ConnectionSession session_;
};