// A simulated dial-up network and routing table for the test-only build KavrinSimNet.exe, so
// the end-to-end run can go all the way to a connected tunnel on a machine (or under Wine)
// where the system's dial-up networking cannot. Everything they are asked to do is written to
// an event log the test reads.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <map>
#include <memory>

#include "app/main_window_ports.h"
#include "app/tray_notify_icon_win.h"
#include "policy/bind_module_win.h"
#include "vpn/dns_guard.h"
#include "vpn/ipv6_route_table.h"
#include "vpn/ras_dialer.h"
#include "vpn/route_table.h"
#include "vpn/traffic_guard.h"

class EventLog {
 public:
  explicit EventLog(const std::wstring& path);
  ~EventLog();
  void Write(const std::string& line);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

// Dials successfully every time: the progress comes on a thread of its own, as from the
// system, a little apart, and the byte counters move while the connection lasts. Files beside
// the executable steer it, each looked for every 100 ms on a thread of its own:
// `<exe>.drop` drops the link ("link dropped") and `<exe>.resume` drops it as a sleep would and
// tells the program's windows the system slept and woke (both files are deleted once seen);
// `<exe>.refuse` holding "N [code]" makes the next N dials fail with the dial-up error `code`
// (800, no answer, when not given; 691 is a refused password): "dial refused <code>".
class SimRasDialer : public RasDialer {
 public:
  SimRasDialer(EventLog& log, std::wstring controlPath);
  ~SimRasDialer() override;

  uint32_t EnumConnections(uint32_t& bufferBytes,
                           std::vector<RasConnectionInfo>& connections) override;
  uint32_t SetEntryProperties(const std::wstring& entryName,
                              const RasEntryProperties& entry) override;
  uint32_t Dial(const RasDialParameters& parameters, std::shared_ptr<RasDialEvents> events,
                RasConnectionHandle& connection) override;
  uint32_t HangUp(RasConnectionHandle connection) override;
  uint32_t GetConnectStatus(RasConnectionHandle connection,
                            RasLinkStatus* status = nullptr) override;
  uint32_t GetStatistics(RasConnectionHandle connection, uint32_t& bytesSent,
                         uint32_t& bytesReceived) override;
  uint32_t GetIpProjection(RasConnectionHandle connection, uint32_t& bufferBytes,
                           std::wstring& localAddress) override;
  std::wstring GetErrorString(uint32_t error) override;
  // RasConnectionNotification reference page (RASCN_Disconnection): a dropped link tells the
  // watcher once, from the control thread, at whatever moment the drop comes.
  uint32_t WatchDisconnection(RasConnectionHandle connection,
                              std::shared_ptr<RasDialEvents> events) override;

 private:
  static constexpr RasConnectionHandle kHandle = 0x5150;
  // ERROR_AUTOMATIC_VPN_FAILED: no answer from the server, which a later dial may get.
  static constexpr uint32_t kRefusedError = 800;
  static constexpr uint32_t kRefusedPassword = 691;
  void JoinProgress();
  void WatchControlFiles();
  // Takes one from the count in `<exe>.refuse`; the error this dial fails with, 0 for none.
  uint32_t TakeRefusal();
  void DropLink(const char* why);

  EventLog& log_;
  const std::wstring controlPath_;
  std::atomic<bool> quit_{false};
  std::shared_ptr<RasDialEvents> watcher_;
  std::thread control_;
  std::mutex mutex_;
  bool connected_ = false;
  uint32_t statisticsCalls_ = 0;
  uint32_t sent_ = 0;
  uint32_t received_ = 0;
  std::atomic<bool> hungUp_{false};
  std::thread progress_;
};

// One default route through a LAN adapter, one tunnel adapter, and the routes the engine adds.
// Each creation is logged as it begins ("creating route ...") and when done ("route add ...").
// Every added and deleted route is appended to `stateFile` as it happens, so a run that starts
// after a killed one finds what that one left, as a real table would. `changeDelayMs` slows
// every creation and every deletion alike, as a busy system does, so a long route list takes
// its time to apply and to take back.
class SimRouteTable : public RouteTable {
 public:
  SimRouteTable(EventLog& log, std::wstring stateFile, uint32_t changeDelayMs = 0);
  ~SimRouteTable() override;

  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override;
  uint32_t CreateRow(const RouteRow& row) override;
  uint32_t DeleteRow(const RouteRow& row) override;
  uint32_t ReadAdapters(std::vector<AdapterAddress>& adapters) override;
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override;

 private:
  void LogCount();
  void Load();
  // Appends one change ('+' added, '-' deleted) to the state file.
  void Record(char change, const RouteRow& row);

  EventLog& log_;
  const std::wstring stateFile_;
  // Outside the table's lock, as the system's own work on a row is.
  void Delay() const;

  const uint32_t changeDelayMs_;
  std::FILE* state_ = nullptr;
  std::mutex mutex_;
  std::vector<RouteRow> base_;
  std::vector<RouteRow> added_;
};

// A dual-stack LAN: an IPv6 default route through the router on the LAN adapter, its
// link-local prefix, and loopback. Added and deleted rows are logged ("route6 add ::/1 if 1",
// "routes6 added N") and kept in `stateFile` like the IPv4 ones.
class SimIpv6RouteTable : public Ipv6RouteTable {
 public:
  SimIpv6RouteTable(EventLog& log, std::wstring stateFile);
  ~SimIpv6RouteTable() override;

  uint32_t ReadForwardTable(std::vector<Ipv6RouteRow>& rows) override;
  uint32_t CreateRow(const Ipv6RouteRow& row) override;
  uint32_t DeleteRow(const Ipv6RouteRow& row) override;

 private:
  void Record(char change, const Ipv6RouteRow& row);

  EventLog& log_;
  const std::wstring stateFile_;
  std::FILE* state_ = nullptr;
  std::mutex mutex_;
  std::vector<Ipv6RouteRow> base_;
  std::vector<Ipv6RouteRow> added_;
};

// The packet filter's filters, logged rather than put in place: "<name> on if <interface>" with
// the tunnel interface they let through (0 for none) and "<name> off". With `refuse` every change
// fails, as a filtering engine that is not running does.
class SimFilterLog {
 public:
  SimFilterLog(EventLog& log, std::string name, bool refuse)
      : log_(log), name_(std::move(name)), refuse_(refuse) {}
  // `swap`: one transaction replaces the set in place (and a refused one leaves it); otherwise
  // the set in place is taken off first.
  uint32_t Put(const std::vector<DnsFilter>& filters, bool swap);
  void Off();

 private:
  void Off(const std::lock_guard<std::mutex>& held);

  EventLog& log_;
  const std::string name_;
  const bool refuse_;
  std::mutex mutex_;
  bool on_ = false;
};

// The DNS guard's filters; both adapters have a resolver.
class SimDnsGuard : public DnsGuard {
 public:
  SimDnsGuard(EventLog& log, bool refuse) : filters_(log, "dns guard", refuse) {}

  uint32_t ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) override;
  uint32_t Add(const std::vector<DnsFilter>& filters) override {
    return filters_.Put(filters, false);
  }
  void Remove() override { filters_.Off(); }

 private:
  SimFilterLog filters_;
};

// The kill switch's filters ("traffic guard on if <n>", "traffic guard off").
class SimTrafficGuard : public TrafficGuard {
 public:
  SimTrafficGuard(EventLog& log, bool refuse) : filters_(log, "traffic guard", refuse) {}

  uint32_t Apply(const std::vector<DnsFilter>& filters) override {
    return filters_.Put(filters, true);
  }
  void Remove() override { filters_.Off(); }

 private:
  SimFilterLog filters_;
};

// The real binding module, with every start and stop written to the log first.
class LoggingBindModule : public BindModule {
 public:
  explicit LoggingBindModule(EventLog& log) : log_(log) {}
  int Register(bool install) override { return module_.Register(install); }
  bool IsLoaded(const std::wstring& moduleFile) override { return module_.IsLoaded(moduleFile); }
  bool IsRegistered() override { return module_.IsRegistered(); }
  bool Start(uint32_t count, uint32_t localAddress) override;
  bool Stop() override;

 private:
  EventLog& log_;
  SystemBindModule module_;
};

// The notification area as the program's tray icon uses it, logged instead of shown: "tray add"
// with the tip when the icon is added, "tray <resource>" when its picture changes, "balloon
// <text>", "tray version <n>", "tray delete", "tray tip <text>" (and "reconnect attempt N" when
// the tip says an attempt is under way), and "tray allow TaskbarCreated" once that message is
// let through the window's filter.
class LoggingTraySystem : public TraySystem {
 public:
  explicit LoggingTraySystem(EventLog& log) : log_(log) {}
  DWORD ShellMajorVersion() override { return 6; }
  bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override;
  HMENU LoadMenuResource(UINT id) override { return SystemTray().LoadMenuResource(id); }
  HICON LoadIconResource(UINT id, bool& owned) override;
  void AllowMessageFromLowerRights(HWND window, UINT message) override;
  bool IconRect(const NOTIFYICONDATAW& data, RECT& rect) override {
    return SystemTray().IconRect(data, rect);
  }
  POINT CursorPosition() override { return SystemTray().CursorPosition(); }

 private:
  EventLog& log_;
  std::map<HICON, UINT> resources_;
};
