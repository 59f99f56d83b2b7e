#include "sim_network.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "base/text.h"
#include "config/text_table.h"
#include "vpn/route_modification.h"

namespace {

constexpr uint32_t kLanInterface = 7;
constexpr uint32_t kTunnelInterface = 23;

uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  // Network byte order, as the system keeps it.
  return uint32_t{a} | (uint32_t{b} << 8) | (uint32_t{c} << 16) | (uint32_t{d} << 24);
}

std::string Dotted(uint32_t address) {
  return std::to_string(address & 0xFF) + "." + std::to_string((address >> 8) & 0xFF) + "." +
         std::to_string((address >> 16) & 0xFF) + "." + std::to_string(address >> 24);
}

std::string Describe(const RouteRow& row) {
  return Dotted(row.destination) + " mask " + Dotted(row.mask) + " via " + Dotted(row.nextHop) +
         " if " + std::to_string(row.interfaceIndex);
}

}  // namespace

EventLog::EventLog(const std::wstring& path) { file_ = _wfopen(path.c_str(), L"ab"); }

EventLog::~EventLog() {
  if (file_) std::fclose(file_);
}

void EventLog::Write(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!file_) return;
  std::fputs((line + "\n").c_str(), file_);
  std::fflush(file_);
}

// ---- dial-up ----------------------------------------------------------------------------------

SimRasDialer::SimRasDialer(EventLog& log, std::wstring controlPath)
    : log_(log), controlPath_(std::move(controlPath)) {
  control_ = std::thread([this] { WatchControlFiles(); });
}

SimRasDialer::~SimRasDialer() {
  quit_ = true;
  control_.join();
  hungUp_ = true;
  JoinProgress();
}

void SimRasDialer::DropLink(const char* why) {
  std::shared_ptr<RasDialEvents> watcher;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return;
    connected_ = false;
    watcher = std::move(watcher_);
    log_.Write(why);
  }
  if (watcher) watcher->OnRasProgress(kHandle, kRasStateDisconnected, 0);
}

uint32_t SimRasDialer::WatchDisconnection(RasConnectionHandle,
                                          std::shared_ptr<RasDialEvents> events) {
  std::lock_guard lock(mutex_);
  watcher_ = std::move(events);
  return 0;
}

namespace {

BOOL CALLBACK PostSleepAndWake(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId()) {
    PostMessageW(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    PostMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
  }
  return TRUE;
}

}  // namespace

void SimRasDialer::WatchControlFiles() {
  const std::wstring drop = controlPath_ + L".drop";
  const std::wstring resume = controlPath_ + L".resume";
  while (!quit_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (DeleteFileW(drop.c_str())) DropLink("link dropped");
    if (DeleteFileW(resume.c_str())) {
      // A sleep ends every dial-up link; then, as the WM_POWERBROADCAST reference page has it,
      // every top-level window hears PBT_APMSUSPEND and on waking PBT_APMRESUMEAUTOMATIC.
      DropLink("link dropped");
      log_.Write("resume");
      EnumWindows(PostSleepAndWake, 0);
    }
  }
}

uint32_t SimRasDialer::TakeRefusal() {
  const std::wstring path = controlPath_ + L".refuse";
  std::FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return 0;
  unsigned left = 0;
  unsigned code = kRefusedError;
  const int fields = std::fscanf(file, "%u %u", &left, &code);
  std::fclose(file);
  if (fields < 1 || left == 0 || code == 0) {
    DeleteFileW(path.c_str());
    return 0;
  }
  if (left == 1) {
    DeleteFileW(path.c_str());
  } else if (std::FILE* out = _wfopen(path.c_str(), L"wb")) {
    std::fprintf(out, "%u %u\n", left - 1, code);
    std::fclose(out);
  }
  return code;
}

void SimRasDialer::JoinProgress() {
  if (progress_.joinable() && progress_.get_id() != std::this_thread::get_id()) progress_.join();
}

uint32_t SimRasDialer::EnumConnections(uint32_t& bufferBytes,
                                       std::vector<RasConnectionInfo>& connections) {
  if (bufferBytes < kConnectionRecordSize) {
    bufferBytes = kConnectionRecordSize;
    return kRasErrorBufferTooSmall;
  }
  std::lock_guard lock(mutex_);
  connections.clear();
  if (connected_) connections.push_back({kHandle, L"Kavrin"});
  return 0;
}

uint32_t SimRasDialer::SetEntryProperties(const std::wstring& entryName,
                                          const RasEntryProperties& entry) {
  log_.Write("entry " + WideToUtf8(entryName) + " server " + WideToUtf8(entry.localPhoneNumber));
  return 0;
}

uint32_t SimRasDialer::Dial(const RasDialParameters& parameters,
                            std::shared_ptr<RasDialEvents> events,
                            RasConnectionHandle& connection) {
  log_.Write("dial " + WideToUtf8(parameters.phoneNumber) + " user " +
             WideToUtf8(parameters.userName));
  hungUp_ = true;
  JoinProgress();
  hungUp_ = false;
  const uint32_t refused = TakeRefusal();
  {
    std::lock_guard lock(mutex_);
    connected_ = refused == 0;
    sent_ = received_ = statisticsCalls_ = 0;
  }
  connection = kHandle;
  if (refused != 0) {
    log_.Write("dial refused " + std::to_string(refused));
    // A password is refused at authentication, anything else while the device connects.
    const uint32_t state =
        refused == kRefusedPassword ? kRasStateAuthenticate : kRasStateConnectDevice;
    progress_ = std::thread([this, state, refused, events = std::move(events)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (!hungUp_) events->OnRasProgress(kHandle, state, refused);
    });
    return 0;
  }
  // The thread keeps its own reference to the events, as the system's does.
  progress_ = std::thread([this, events = std::move(events)] {
    for (uint32_t state : {kRasStateConnectDevice, kRasStateAuthenticate, kRasStateAuthenticated,
                           kRasStateConnected}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (hungUp_) return;
      events->OnRasProgress(kHandle, state, 0);
    }
  });
  return 0;
}

uint32_t SimRasDialer::HangUp(RasConnectionHandle) {
  log_.Write("hangup");
  hungUp_ = true;
  JoinProgress();
  std::lock_guard lock(mutex_);
  connected_ = false;
  watcher_.reset();
  return 0;
}

uint32_t SimRasDialer::GetConnectStatus(RasConnectionHandle, RasLinkStatus*) {
  std::lock_guard lock(mutex_);
  return connected_ ? 0 : kRasErrorInvalidHandle;
}

uint32_t SimRasDialer::GetStatistics(RasConnectionHandle, uint32_t& bytesSent,
                                     uint32_t& bytesReceived) {
  std::lock_guard lock(mutex_);
  if (!connected_) return kRasErrorInvalidHandle;
  // Sometimes one way, sometimes both, sometimes quiet: every traffic picture shows up.
  const uint32_t tick = ++statisticsCalls_;
  if (tick % 4 == 1 || tick % 4 == 2) sent_ += 1200;
  if (tick % 4 == 2 || tick % 4 == 3) received_ += 4800;
  bytesSent = sent_;
  bytesReceived = received_;
  return 0;
}

uint32_t SimRasDialer::GetIpProjection(RasConnectionHandle, uint32_t& bufferBytes,
                                       std::wstring& localAddress) {
  const uint32_t offered = bufferBytes;
  bufferBytes = kIpProjectionSize;
  if (offered < kIpProjectionSize) return kRasErrorBufferTooSmall;
  localAddress = L"10.8.0.6";
  return 0;
}

std::wstring SimRasDialer::GetErrorString(uint32_t error) {
  return L"simulated error " + std::to_wstring(error);
}

// ---- routing ----------------------------------------------------------------------------------

SimRouteTable::SimRouteTable(EventLog& log, std::wstring stateFile, uint32_t changeDelayMs)
    : log_(log), stateFile_(std::move(stateFile)), changeDelayMs_(changeDelayMs) {
  RouteRow lanDefault{};
  lanDefault.nextHop = Address(192, 168, 1, 1);
  lanDefault.interfaceIndex = kLanInterface;
  lanDefault.type = 4;
  lanDefault.protocol = 3;
  lanDefault.metric1 = 20;
  base_.push_back(lanDefault);
  Load();
}

SimRouteTable::~SimRouteTable() {
  if (state_) std::fclose(state_);
}

// One change a line: '+' or '-', then the route's fourteen fields in decimal.
void SimRouteTable::Load() {
  std::FILE* file = _wfopen(stateFile_.c_str(), L"rb");
  if (!file) return;
  char change = 0;
  RouteRow row{};
  while (std::fscanf(file, " %c %u %u %u %u %u %u %u %u %u %u %u %u %u %u", &change,
                     &row.destination, &row.mask, &row.policy, &row.nextHop, &row.interfaceIndex,
                     &row.type, &row.protocol, &row.age, &row.nextHopAs, &row.metric1, &row.metric2,
                     &row.metric3, &row.metric4, &row.metric5) == 15) {
    if (change == '+') {
      added_.push_back(row);
    } else if (const auto it = std::find(added_.begin(), added_.end(), row); it != added_.end()) {
      added_.erase(it);
    }
  }
  std::fclose(file);
}

void SimRouteTable::Record(char change, const RouteRow& r) {
  if (!state_) state_ = _wfopen(stateFile_.c_str(), L"ab");
  if (!state_) return;
  std::fprintf(state_, "%c %u %u %u %u %u %u %u %u %u %u %u %u %u %u\n", change, r.destination,
               r.mask, r.policy, r.nextHop, r.interfaceIndex, r.type, r.protocol, r.age,
               r.nextHopAs, r.metric1, r.metric2, r.metric3, r.metric4, r.metric5);
  std::fflush(state_);
}

uint32_t SimRouteTable::ReadForwardTable(std::vector<RouteRow>& rows) {
  std::lock_guard lock(mutex_);
  rows = base_;
  rows.insert(rows.end(), added_.begin(), added_.end());
  return 0;
}

void SimRouteTable::Delay() const {
  if (changeDelayMs_ != 0) std::this_thread::sleep_for(std::chrono::milliseconds(changeDelayMs_));
}

uint32_t SimRouteTable::CreateRow(const RouteRow& row) {
  // Written before the work, so a test can act while a creation is under way.
  log_.Write("creating route " + Describe(row));
  Delay();
  std::lock_guard lock(mutex_);
  added_.push_back(row);
  Record('+', row);
  log_.Write("route add " + Describe(row));
  LogCount();
  return 0;
}

uint32_t SimRouteTable::DeleteRow(const RouteRow& row) {
  Delay();
  std::lock_guard lock(mutex_);
  for (auto it = added_.begin(); it != added_.end(); ++it) {
    if (*it == row) {
      added_.erase(it);
      Record('-', row);
      log_.Write("route delete " + Describe(row));
      LogCount();
      return 0;
    }
  }
  log_.Write("route delete missing " + Describe(row));
  return 1168;  // ERROR_NOT_FOUND
}

void SimRouteTable::LogCount() { log_.Write("routes added " + std::to_string(added_.size())); }

uint32_t SimRouteTable::ReadAdapters(std::vector<AdapterAddress>& adapters) {
  adapters = {{kLanInterface, "192.168.1.20"}, {kTunnelInterface, "10.8.0.6"}};
  return 0;
}

bool SimRouteTable::ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) {
  metrics = {{kLanInterface, 20}, {kTunnelInterface, 1}};
  return true;
}

// ---- DNS guard ---------------------------------------------------------------------------------

uint32_t SimDnsGuard::ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) {
  servers.clear();
  if (interfaceIndex == kLanInterface) servers.push_back(TryParseIpv4("192.168.1.1").value_or(0));
  if (interfaceIndex == kTunnelInterface) servers.push_back(TryParseIpv4("10.8.0.1").value_or(0));
  return servers.empty() ? 1168 : 0;
}

uint32_t SimFilterLog::Put(const std::vector<DnsFilter>& filters, bool swap) {
  std::lock_guard lock(mutex_);
  if (!swap) Off(lock);
  // What opening a session answers while the filtering engine's service is stopped.
  if (refuse_) return 1753;
  uint32_t through = 0;
  for (const DnsFilter& filter : filters) {
    if (filter.action == FilterAction::kPermit && filter.interfaceIndex != 0) {
      through = filter.interfaceIndex;
    }
  }
  log_.Write(name_ + " on if " + std::to_string(through));
  on_ = true;
  return 0;
}

void SimFilterLog::Off() {
  std::lock_guard lock(mutex_);
  Off(lock);
}

void SimFilterLog::Off(const std::lock_guard<std::mutex>&) {
  if (on_) log_.Write(name_ + " off");
  on_ = false;
}

// ---- IPv6 routing ----------------------------------------------------------------------------

namespace {

constexpr uint32_t kLoopbackInterface = 1;

std::string Describe6(const Ipv6RouteRow& row) {
  return Ipv6Text(row.destination) + "/" + std::to_string(row.prefixLength) + " if " +
         std::to_string(row.interfaceIndex);
}

std::string Hex(const Ipv6Bytes& bytes) {
  std::string text;
  char pair[3];
  for (const uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

bool FromHex(const char* text, Ipv6Bytes& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned value = 0;
    if (std::sscanf(text + 2 * i, "%2x", &value) != 1) return false;
    bytes[i] = static_cast<uint8_t>(value);
  }
  return true;
}

}  // namespace

SimIpv6RouteTable::SimIpv6RouteTable(EventLog& log, std::wstring stateFile)
    : log_(log), stateFile_(std::move(stateFile)) {
  Ipv6RouteRow lanDefault{};
  lanDefault.nextHop = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  lanDefault.interfaceIndex = kLanInterface;
  lanDefault.metric = 256;
  lanDefault.protocol = 2;
  Ipv6RouteRow linkLocal = lanDefault;
  linkLocal.destination = {0xfe, 0x80};
  linkLocal.prefixLength = 64;
  linkLocal.nextHop = {};
  Ipv6RouteRow loopback = linkLocal;
  loopback.destination = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  loopback.prefixLength = 128;
  loopback.interfaceIndex = kLoopbackInterface;
  base_ = {lanDefault, linkLocal, loopback};

  // One change a line: '+' or '-', destination and next hop in hex, then the numbers.
  if (std::FILE* file = _wfopen(stateFile_.c_str(), L"rb")) {
    char change = 0;
    char destination[33];
    char nextHop[33];
    Ipv6RouteRow row{};
    while (std::fscanf(file, " %c %32s %u %32s %u %u %u", &change, destination, &row.prefixLength,
                       nextHop, &row.interfaceIndex, &row.metric, &row.protocol) == 7) {
      if (!FromHex(destination, row.destination) || !FromHex(nextHop, row.nextHop)) break;
      if (change == '+') {
        added_.push_back(row);
      } else if (const auto it = std::find(added_.begin(), added_.end(), row);
                 it != added_.end()) {
        added_.erase(it);
      }
    }
    std::fclose(file);
  }
}

SimIpv6RouteTable::~SimIpv6RouteTable() {
  if (state_) std::fclose(state_);
}

void SimIpv6RouteTable::Record(char change, const Ipv6RouteRow& row) {
  if (!state_) state_ = _wfopen(stateFile_.c_str(), L"ab");
  if (!state_) return;
  std::fprintf(state_, "%c %s %u %s %u %u %u\n", change, Hex(row.destination).c_str(),
               row.prefixLength, Hex(row.nextHop).c_str(), row.interfaceIndex, row.metric,
               row.protocol);
  std::fflush(state_);
}

uint32_t SimIpv6RouteTable::ReadForwardTable(std::vector<Ipv6RouteRow>& rows) {
  std::lock_guard lock(mutex_);
  rows = base_;
  rows.insert(rows.end(), added_.begin(), added_.end());
  return 0;
}

uint32_t SimIpv6RouteTable::CreateRow(const Ipv6RouteRow& row) {
  std::lock_guard lock(mutex_);
  added_.push_back(row);
  Record('+', row);
  log_.Write("route6 add " + Describe6(row));
  log_.Write("routes6 added " + std::to_string(added_.size()));
  return 0;
}

uint32_t SimIpv6RouteTable::DeleteRow(const Ipv6RouteRow& row) {
  std::lock_guard lock(mutex_);
  const auto it = std::find(added_.begin(), added_.end(), row);
  if (it == added_.end()) {
    log_.Write("route6 delete missing " + Describe6(row));
    return 1168;  // ERROR_NOT_FOUND
  }
  added_.erase(it);
  Record('-', row);
  log_.Write("route6 delete " + Describe6(row));
  log_.Write("routes6 added " + std::to_string(added_.size()));
  return 0;
}

// ---- binding module -----------------------------------------------------------------------------

bool LoggingBindModule::Start(uint32_t count, uint32_t localAddress) {
  log_.Write("bind start " + std::to_string(count) + " " + Dotted(localAddress));
  return module_.Start(count, localAddress);
}

bool LoggingBindModule::Stop() {
  log_.Write("bind stop");
  return module_.Stop();
}

// ---- tray ---------------------------------------------------------------------------------------

bool LoggingTraySystem::NotifyIcon(DWORD message, NOTIFYICONDATAW& data) {
  switch (message) {
    case NIM_ADD:
      log_.Write("tray add " + WideToUtf8(data.szTip));
      break;
    case NIM_DELETE:
      log_.Write("tray delete");
      break;
    case NIM_SETVERSION:
      log_.Write("tray version " + std::to_string(data.uVersion));
      break;
    case NIM_MODIFY:
      if (data.uFlags & NIF_ICON) {
        const auto found = resources_.find(data.hIcon);
        log_.Write("tray " + (found == resources_.end() ? std::string("?")
                                                         : std::to_string(found->second)));
      }
      if (data.uFlags & NIF_INFO) log_.Write("balloon " + WideToUtf8(data.szInfo));
      if (data.uFlags & NIF_TIP) {
        const std::wstring tip = data.szTip;
        log_.Write("tray tip " + WideToUtf8(tip));
        const std::wstring attempt = GetText("ReconnectingAttempt");
        const std::wstring before = attempt.substr(0, attempt.find(L"%1"));
        if (!before.empty() && tip.compare(0, before.size(), before) == 0) {
          log_.Write("reconnect attempt " +
                     std::to_string(std::wcstoul(tip.c_str() + before.size(), nullptr, 10)));
        }
      }
      break;
    default:
      break;
  }
  return true;
}

HICON LoggingTraySystem::LoadIconResource(UINT id, bool& owned) {
  HICON icon = SystemTray().LoadIconResource(id, owned);
  if (icon) resources_[icon] = id;
  return icon;
}

void LoggingTraySystem::AllowMessageFromLowerRights(HWND window, UINT message) {
  SystemTray().AllowMessageFromLowerRights(window, message);
  if (message == RegisterWindowMessageW(L"TaskbarCreated")) log_.Write("tray allow TaskbarCreated");
}
