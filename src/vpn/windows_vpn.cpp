#include "vpn/windows_vpn.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "config/text_table.h"
#include "vpn/error_advice.h"

namespace {

constexpr uint32_t kErrorInvalidParameter = 87;
// Dial-up port errors that a restart of the system cures.
constexpr uint32_t kRasErrorPortNotAvailable = 633;
constexpr uint32_t kRasErrorPortHardwareFailure = 692;
constexpr int kMaxEnumCalls = 5;

constexpr uint32_t kNetProtocolIp = 4;
constexpr uint32_t kFramingPpp = 1;
constexpr uint32_t kEntryTypeVpn = 2;
constexpr uint32_t kEncryptionOptional = 3;
constexpr uint32_t kVpnStrategyPptpOnly = 1;
constexpr uint32_t kVpnStrategyL2tpOnly = 3;

const std::map<int32_t, std::wstring>& OwnErrorTexts() {
  static const std::map<int32_t, std::wstring> texts = {
      {WINDOWS_VPN_ERROR_CREATE, GetText("WINDOWS_VPN_ERROR_CREATE")},
      {WINDOWS_VPN_ERROR_DIAL, GetText("WINDOWS_VPN_ERROR_DIAL")},
  };
  return texts;
}

}  // namespace

class CWindowsVpn::ProgressReceiver final : public RasDialEvents {
 public:
  explicit ProgressReceiver(CWindowsVpn* engine) : engine_(engine) {}
  uint32_t OnRasProgress(RasConnectionHandle connection, uint32_t connectionState,
                         uint32_t error) override {
    std::lock_guard lock(mutex_);
    return engine_ ? engine_->OnRasProgress(connection, connectionState, error) : 0;
  }
  // Waits for a call in progress; none reaches the engine afterwards.
  void Detach() {
    std::lock_guard lock(mutex_);
    engine_ = nullptr;
  }

 private:
  std::mutex mutex_;
  CWindowsVpn* engine_;
};

CWindowsVpn::CWindowsVpn(uint32_t type, RasDialer& dialer, RouteTable& routeTable, TickClock& clock,
                         std::unique_ptr<CVpnRouteRequestBaseServer> server)
    : CGeneralVpn(routeTable, clock, std::move(server)),
      tunnelType(type),
      dialer_(dialer),
      receiver_(std::make_shared<ProgressReceiver>(this)) {}

CWindowsVpn::~CWindowsVpn() {
  receiver_->Detach();
  StopWorker();
}

RasConnectionHandle CWindowsVpn::FindExistingConnection() {
  uint32_t bytes = RasDialer::kConnectionRecordSize;
  std::vector<RasConnectionInfo> connections;
  uint32_t result = kRasErrorBufferTooSmall;
  // More connections may appear between two calls; give up rather than chase them forever.
  for (int call = 0; call < kMaxEnumCalls && result == kRasErrorBufferTooSmall; ++call) {
    connections.clear();
    result = dialer_.EnumConnections(bytes, connections);
  }
  if (result != 0) return 0;
  RasConnectionHandle found = 0;
  for (const RasConnectionInfo& connection : connections) {
    if (connection.entryName == kEntryName) found = connection.handle;
  }
  return found;
}

int32_t CWindowsVpn::StartTunnel() {
  // Progress that comes before Dial has returned is queued behind this event.
  if (rasConnection == 0) rasConnection = FindExistingConnection();
  if (rasConnection != 0) {
    StoreError(GENERAL_VPN_ERROR_ALREADY_CONNECTED, 0);
    return GENERAL_VPN_ERROR_ALREADY_CONNECTED;
  }
  if (const int32_t result = Prepare(); result != 0) return result;

  if (tunnelType != kWindowsVpnTunnelPptp && tunnelType != kWindowsVpnTunnelL2tp) {
    // Not a code of ours, but the owner must still see a failure in the error.
    StoreError(GENERAL_VPN_ERROR_INTERNAL, kErrorInvalidParameter);
    return kErrorInvalidParameter;
  }
  RasEntryProperties entry;
  const bool encrypted = useMppe != 0 && tunnelType == kWindowsVpnTunnelPptp;
  entry.options = encrypted ? kEntryOptionsEncrypted : kEntryOptionsPlain;
  if (RouteStrategy().TunnelIsDefaultGateway()) entry.options |= kEntryOptionRemoteDefaultGateway;
  entry.localPhoneNumber = serverAddress;
  entry.netProtocols = kNetProtocolIp;
  entry.framingProtocol = kFramingPpp;
  entry.deviceType = L"vpn";
  entry.deviceName = kEntryName;
  entry.entryType = kEntryTypeVpn;
  entry.encryptionType = kEncryptionOptional;
  entry.vpnStrategy =
      tunnelType == kWindowsVpnTunnelPptp ? kVpnStrategyPptpOnly : kVpnStrategyL2tpOnly;

  StoreState(GENERAL_VPN_STATE_PREPARE, GENERAL_VPN_ERROR_SUCCESS, 0);

  // A cut-off server name would dial some other host; refuse it as the system refuses a bad
  // entry.
  const uint32_t written = serverAddress.size() > kMaxServerAddress
                               ? kErrorInvalidParameter
                               : dialer_.SetEntryProperties(kEntryName, entry);
  if (written != 0) {
    StoreError(WINDOWS_VPN_ERROR_CREATE, static_cast<int32_t>(written));
    return WINDOWS_VPN_ERROR_CREATE;
  }

  RasDialParameters parameters;
  parameters.entryName = kEntryName;
  parameters.phoneNumber = serverAddress;
  parameters.callbackNumber = L"*";
  parameters.userName = userName;
  parameters.password = password;
  const bool fits = userName.size() <= kMaxCredential && password.size() <= kMaxCredential;
  RasConnectionHandle handle = 0;
  const uint32_t dialled = fits ? dialer_.Dial(parameters, receiver_, handle) : kErrorInvalidParameter;
  rasConnection = handle;
  if (dialled != 0) {
    StoreError(WINDOWS_VPN_ERROR_DIAL, static_cast<int32_t>(dialled));
    return WINDOWS_VPN_ERROR_DIAL;
  }
  return GENERAL_VPN_ERROR_SUCCESS;
}

void CWindowsVpn::StopTunnel() {
  hungUp_ = rasConnection.exchange(0);
  if (hungUp_ == 0) return;
  ChangeState(GENERAL_VPN_STATE_DISCONNECT, GENERAL_VPN_ERROR_SUCCESS, 0);
  dialer_.HangUp(hungUp_);
}

void CWindowsVpn::AfterRestore() {
  if (hungUp_ == 0) return;
  // The system documents waiting until it no longer knows the handle: a hang-up still in
  // progress keeps the port, and the entry dialled again would find its old connection.
  const uint32_t start = clock().Ticks();
  while (dialer_.GetConnectStatus(hungUp_) != kRasErrorInvalidHandle &&
         clock().Ticks() - start < kHangUpWaitMs) {
    clock().Sleep(kHangUpPollMs);
  }
  hungUp_ = 0;
}

int32_t CWindowsVpn::GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) {
  uint32_t bytesSent = 0;
  uint32_t bytesReceived = 0;
  const RasConnectionHandle connection = rasConnection;
  // Nothing dialled yet (Connect is still queued): nothing sent.
  const uint32_t result =
      connection == 0 ? 0 : dialer_.GetStatistics(connection, bytesSent, bytesReceived);
  if (result != 0) {
    errorDetail = static_cast<int32_t>(result);
    return GENERAL_VPN_ERROR_INTERNAL;
  }
  sent = bytesSent;
  received = bytesReceived;
  errorDetail = 0;
  return 0;
}

std::wstring CWindowsVpn::GetErrorDetailText(int32_t detail) {
  const uint32_t number = static_cast<uint32_t>(detail);
  std::wstring text = dialer_.GetErrorString(number);
  if (number == kRasErrorPortNotAvailable || number == kRasErrorPortHardwareFailure) {
    text += GetText("PleaseRebootSystem");
  }
  return text;
}

std::wstring CWindowsVpn::ErrorAdvice(int32_t, int32_t detail) { return RasErrorAdvice(detail); }

std::wstring CWindowsVpn::GetErrorText(int32_t code) {
  const auto& texts = OwnErrorTexts();
  const auto found = texts.find(code);
  return found != texts.end() ? found->second : CGeneralVpn::GetErrorText(code);
}

uint32_t CWindowsVpn::ReadLocalAddress(RasConnectionHandle connection, std::wstring& address) {
  // The first query learns the size this system's projection record has; the second reads it.
  uint32_t bytes = RasDialer::kIpProjectionSize;
  dialer_.GetIpProjection(connection, bytes, address);
  bytes = std::max(bytes, RasDialer::kIpProjectionSize);
  return dialer_.GetIpProjection(connection, bytes, address);
}

uint32_t CWindowsVpn::OnRasProgress(RasConnectionHandle connection, uint32_t connectionState,
                                    uint32_t rasError) {
  if (Stopping()) return 0;
  Post([this, connection, connectionState, rasError] {
    HandleProgress(connection, connectionState, rasError);
  });
  return 1;
}

void CWindowsVpn::HandleProgress(RasConnectionHandle connection, uint32_t connectionState,
                                 uint32_t rasError) {
  const bool failed = rasError != 0;
  const int32_t code = failed ? GENERAL_VPN_ERROR_INTERNAL : GENERAL_VPN_ERROR_SUCCESS;
  const int32_t detail = static_cast<int32_t>(rasError);
  switch (connectionState) {
    case kRasStateConnectDevice:
      ChangeState(GENERAL_VPN_STATE_CONNECT, code, detail);
      break;
    case kRasStateAuthenticate:
      ChangeState(GENERAL_VPN_STATE_AUTHENTICATE, code, detail);
      break;
    case kRasStateAuthenticated:
      ChangeState(GENERAL_VPN_STATE_AUTHENTICATED, code, detail);
      break;
    case kRasStateConnected: {
      if (failed) {
        ChangeState(GENERAL_VPN_STATE_CONNECTED, code, detail);
        break;
      }
      std::wstring address;
      if (const uint32_t result = ReadLocalAddress(connection, address); result != 0) {
        // A link without an address can carry no routes; left alone it would sit there with
        // nothing reported. The owner hangs it up on this error.
        ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_INTERNAL,
                    static_cast<int32_t>(result));
        break;
      }
      localAddress_ = address;
      // A link that goes later is reported as DISCONNECTED through the same receiver; without
      // the watch the owner's statistics still find out.
      dialer_.WatchDisconnection(connection, receiver_);
      ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
      break;
    }
    case kRasStateDisconnected:
      ChangeState(GENERAL_VPN_STATE_DISCONNECTED, code, detail);
      break;
    default:
      if (failed) ChangeState(CurrentState(), GENERAL_VPN_ERROR_INTERNAL, detail);
      break;
  }
}
