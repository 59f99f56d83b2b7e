#include "vpn/ras_dialer_win.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "vpn/ras_link_watch.h"

static_assert(sizeof(RasEntryRecord) == kRasEntrySize);
static_assert(offsetof(RasEntryRecord, szLocalPhoneNumber) == 38);
static_assert(offsetof(RasEntryRecord, dwfNetProtocols) == 324);
static_assert(offsetof(RasEntryRecord, szDeviceType) == 1892);
static_assert(offsetof(RasEntryRecord, szDeviceName) == 1926);
static_assert(offsetof(RasEntryRecord, dwType) == 3496);
static_assert(offsetof(RasEntryRecord, dwEncryptionType) == 3500);
static_assert(offsetof(RasEntryRecord, dwVpnStrategy) == 4044);
static_assert(offsetof(RasEntryRecord, dwVpnStrategy) == offsetof(RASENTRYW, dwVpnStrategy));

static_assert(offsetof(RasDialParamsRecord, szUserName) == 1034);
static_assert(offsetof(RasDialParamsRecord, szPassword) == 1548);
static_assert(offsetof(RasDialParamsRecord, dwSubEntry) == 2096);
static_assert(offsetof(RasDialParamsRecord, dwCallbackId) == 2100);

static_assert(offsetof(RasConnRecord, hrasconn) == 4);
static_assert(offsetof(RasConnRecord, szEntryName) == 4 + sizeof(HRASCONN));
static_assert(offsetof(RasConnRecord, guidEntry) == offsetof(RASCONNW, guidEntry));

// The program is 32-bit, and these are the sizes it calls with. A 64-bit build (its tests, on
// machines that run no 32-bit programs) has the 8-byte handle and callback value of that system.
#ifdef _WIN64
static_assert(sizeof(RasDialParamsRecord) == 2108);
static_assert(sizeof(RasConnRecord) == 1360);
#else
static_assert(sizeof(RasDialParamsRecord) == kRasDialParamsSize);
static_assert(sizeof(RasConnRecord) == RasDialer::kConnectionRecordSize);
#endif

static_assert(sizeof(RasStatsRecord) == kRasStatsSize);
static_assert(sizeof(RasConnStatusRecord) == kRasConnStatusSize);
static_assert(offsetof(RasStatsRecord, dwBytesRcved) == 8);

static_assert(sizeof(RasPppIpRecord) == RasDialer::kIpProjectionSize);
static_assert(offsetof(RasPppIpRecord, szIpAddress) == 8);

namespace {

constexpr DWORD kNotifierFunction2 = 2;

template <size_t N>
bool CopyField(WCHAR (&field)[N], const std::wstring& text) {
  if (text.size() >= N) return false;
  std::copy(text.begin(), text.end(), field);
  field[text.size()] = L'\0';
  return true;
}

template <size_t N>
std::wstring FieldText(const WCHAR (&field)[N]) {
  return std::wstring(field, wcsnlen(field, N));
}

HRASCONN ToSystem(RasConnectionHandle handle) { return reinterpret_cast<HRASCONN>(handle); }

// The callback id RAS hands back is a number into this table, never an address: the system
// may call after the engine that dialled is gone, and then finds the receiver it holds a
// reference to (which answers 0) or no entry at all.
struct DialReceivers {
  std::mutex mutex;
  std::map<ULONG_PTR, std::shared_ptr<RasDialEvents>> byId;
  ULONG_PTR lastId = 0;
};

DialReceivers& Receivers() {
  static DialReceivers receivers;
  return receivers;
}

ULONG_PTR RegisterReceiver(std::shared_ptr<RasDialEvents> events) {
  DialReceivers& receivers = Receivers();
  std::lock_guard lock(receivers.mutex);
  // Receivers only the table still holds belong to engines that are gone.
  std::erase_if(receivers.byId, [](const auto& entry) { return entry.second.use_count() == 1; });
  const ULONG_PTR id = ++receivers.lastId;
  receivers.byId.emplace(id, std::move(events));
  return id;
}

DWORD WINAPI DialProgress(ULONG_PTR callbackId, DWORD, HRASCONN connection, UINT,
                          RASCONNSTATE connectionState, DWORD error, DWORD) {
  DialReceivers& receivers = Receivers();
  std::shared_ptr<RasDialEvents> events;
  {
    std::lock_guard lock(receivers.mutex);
    const auto found = receivers.byId.find(callbackId);
    if (found == receivers.byId.end()) return 0;
    events = found->second;
  }
  const uint32_t answer = events->OnRasProgress(reinterpret_cast<RasConnectionHandle>(connection),
                                                static_cast<uint32_t>(connectionState), error);
  if (answer == 0) {
    std::lock_guard lock(receivers.mutex);
    receivers.byId.erase(callbackId);
  }
  return answer;
}

}  // namespace

uint32_t RasApiDialer::EnumConnections(uint32_t& bufferBytes,
                                       std::vector<RasConnectionInfo>& connections) {
  connections.clear();
  const size_t records =
      std::max<size_t>(1, (bufferBytes + sizeof(RasConnRecord) - 1) / sizeof(RasConnRecord));
  std::vector<RasConnRecord> buffer(records);
  buffer[0].dwSize = sizeof(RasConnRecord);
  DWORD bytes = static_cast<DWORD>(records * sizeof(RasConnRecord));
  DWORD count = 0;
  const DWORD result =
      RasEnumConnectionsW(reinterpret_cast<LPRASCONNW>(buffer.data()), &bytes, &count);
  bufferBytes = bytes;
  if (result != 0) return result;
  for (size_t i = 0; i < std::min<size_t>(count, records); ++i) {
    connections.push_back({reinterpret_cast<RasConnectionHandle>(buffer[i].hrasconn),
                           FieldText(buffer[i].szEntryName)});
  }
  return 0;
}

uint32_t RasApiDialer::SetEntryProperties(const std::wstring& entryName,
                                          const RasEntryProperties& entry) {
  RasEntryRecord record{};
  record.dwSize = sizeof record;
  record.dwfOptions = entry.options;
  record.dwfNetProtocols = entry.netProtocols;
  record.dwFramingProtocol = entry.framingProtocol;
  record.dwType = entry.entryType;
  record.dwEncryptionType = entry.encryptionType;
  record.dwVpnStrategy = entry.vpnStrategy;
  if (!CopyField(record.szLocalPhoneNumber, entry.localPhoneNumber) ||
      !CopyField(record.szDeviceType, entry.deviceType) ||
      !CopyField(record.szDeviceName, entry.deviceName)) {
    return ERROR_INVALID_PARAMETER;
  }
  return RasSetEntryPropertiesW(nullptr, entryName.c_str(), reinterpret_cast<LPRASENTRYW>(&record),
                                sizeof record, nullptr, 0);
}

uint32_t RasApiDialer::Dial(const RasDialParameters& parameters,
                            std::shared_ptr<RasDialEvents> events,
                            RasConnectionHandle& connection) {
  RasDialParamsRecord record{};
  record.dwSize = sizeof record;
  record.dwCallbackId = events ? RegisterReceiver(std::move(events)) : 0;
  const bool fits = CopyField(record.szEntryName, parameters.entryName) &&
                    CopyField(record.szPhoneNumber, parameters.phoneNumber) &&
                    CopyField(record.szCallbackNumber, parameters.callbackNumber) &&
                    CopyField(record.szUserName, parameters.userName) &&
                    CopyField(record.szPassword, parameters.password) &&
                    CopyField(record.szDomain, parameters.domain);
  DWORD result = ERROR_INVALID_PARAMETER;
  if (fits) {
    HRASCONN handle = nullptr;
    result = RasDialW(nullptr, nullptr, reinterpret_cast<LPRASDIALPARAMSW>(&record),
                      kNotifierFunction2, reinterpret_cast<LPVOID>(&DialProgress), &handle);
    connection = reinterpret_cast<RasConnectionHandle>(handle);
  }
  SecureZeroMemory(record.szPassword, sizeof record.szPassword);
  return result;
}

uint32_t RasApiDialer::HangUp(RasConnectionHandle connection) {
  return RasHangUpW(ToSystem(connection));
}

uint32_t RasApiDialer::GetConnectStatus(RasConnectionHandle connection, RasLinkStatus* status) {
  RasConnStatusRecord record{};
  record.dwSize = sizeof record;
  const DWORD result =
      RasGetConnectStatusW(ToSystem(connection), reinterpret_cast<LPRASCONNSTATUSW>(&record));
  if (result == 0 && status != nullptr) {
    status->state = record.rasconnstate;
    status->error = record.dwError;
  }
  return result;
}

uint32_t RasApiDialer::GetStatistics(RasConnectionHandle connection, uint32_t& bytesSent,
                                     uint32_t& bytesReceived) {
  RasStatsRecord stats{};
  stats.dwSize = sizeof stats;
  const DWORD result =
      RasGetConnectionStatistics(ToSystem(connection), reinterpret_cast<RAS_STATS*>(&stats));
  if (result != 0) return result;
  bytesSent = stats.dwBytesXmited;
  bytesReceived = stats.dwBytesRcved;
  return 0;
}

uint32_t RasApiDialer::GetIpProjection(RasConnectionHandle connection, uint32_t& bufferBytes,
                                       std::wstring& localAddress) {
  // Never smaller than the record read below, whatever size the caller asks for.
  const size_t size = std::max<size_t>(bufferBytes, sizeof(RasPppIpRecord));
  std::vector<std::byte> buffer(size);
  auto* record = reinterpret_cast<RasPppIpRecord*>(buffer.data());
  record->dwSize = static_cast<DWORD>(size);
  DWORD bytes = static_cast<DWORD>(size);
  const DWORD result = RasGetProjectionInfoW(ToSystem(connection), RASP_PppIp, record, &bytes);
  bufferBytes = bytes;
  if (result != 0) return result;
  localAddress = FieldText(record->szIpAddress);
  return 0;
}

std::wstring RasApiDialer::GetErrorString(uint32_t error) {
  WCHAR text[1024] = {};
  if (RasGetErrorStringW(error, text, static_cast<DWORD>(std::size(text))) != 0) return {};
  return FieldText(text);
}

RasApiDialer::~RasApiDialer() {
  if (quit_) SetEvent(quit_.get());
  std::lock_guard lock(watchMutex_);
  for (const auto& watch : watches_) watch->thread.join();
}

uint32_t RasApiDialer::WatchDisconnection(RasConnectionHandle connection,
                                          std::shared_ptr<RasDialEvents> events) {
  if (!quit_ || !events) return ERROR_INVALID_PARAMETER;
  // Without the system's notice (it refused, or there is no event) the status queries alone
  // watch the link, more often.
  UniqueHandle notice(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (notice && RasConnectionNotificationW(ToSystem(connection), notice.get(),
                                           RASCN_Disconnection) != ERROR_SUCCESS) {
    notice.reset();
  }
  std::lock_guard lock(watchMutex_);
  // Watches of connections gone earlier have ended; their threads are joined here.
  std::erase_if(watches_, [](const std::unique_ptr<Watch>& watch) {
    if (!watch->done) return false;
    watch->thread.join();
    return true;
  });
  auto watch = std::make_unique<Watch>();
  Watch* self = watch.get();
  watch->thread = std::thread([this, self, connection, events = std::move(events),
                               notice = std::move(notice)] {
    const bool noticeSet = static_cast<bool>(notice);
    RunRasLinkWatch(
        *this, connection, noticeSet,
        [&](uint32_t milliseconds) {
          const HANDLE handles[] = {quit_.get(), notice.get()};
          const DWORD woken = WaitForMultipleObjects(noticeSet ? 2 : 1, handles, FALSE,
                                                     milliseconds);
          if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return LinkWake::kQuit;
          return woken == WAIT_OBJECT_0 + 1 ? LinkWake::kNotice : LinkWake::kTimeout;
        },
        *events);
    self->done = true;
  });
  watches_.push_back(std::move(watch));
  return ERROR_SUCCESS;
}
