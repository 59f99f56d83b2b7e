// The system's dial-up networking, as the dial-up connector reaches it. Results are 0 or a
// dial-up (RAS) or system error number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The system's connection handle; 0 when there is none.
using RasConnectionHandle = std::uintptr_t;

inline constexpr uint32_t kRasErrorBufferTooSmall = 603;
// What the system answers about a connection handle that no longer names a connection.
inline constexpr uint32_t kRasErrorInvalidHandle = 6;

// Connection states the progress function is told about.
inline constexpr uint32_t kRasStateConnectDevice = 2;
inline constexpr uint32_t kRasStateAuthenticate = 5;
inline constexpr uint32_t kRasStateAuthenticated = 14;
inline constexpr uint32_t kRasStateConnected = 0x2000;
inline constexpr uint32_t kRasStateDisconnected = 0x2001;

// What the status query says of a connection the system still knows.
struct RasLinkStatus {
  uint32_t state = kRasStateConnected;
  // The error that ended it, when `state` is kRasStateDisconnected.
  uint32_t error = 0;
};

struct RasConnectionInfo {
  RasConnectionHandle handle;
  std::wstring entryName;
};

// The phonebook entry fields we set; the adapter leaves every other field 0.
struct RasEntryProperties {
  uint32_t options = 0;
  std::wstring localPhoneNumber;
  uint32_t netProtocols = 0;
  uint32_t framingProtocol = 0;
  std::wstring deviceType;
  std::wstring deviceName;
  uint32_t entryType = 0;
  uint32_t encryptionType = 0;
  uint32_t vpnStrategy = 0;
};

struct RasDialParameters {
  std::wstring entryName;
  std::wstring phoneNumber;
  std::wstring callbackNumber;
  std::wstring userName;
  std::wstring password;
  std::wstring domain;
};

// Receives the dialling progress, on a thread of the dial-up networking, at any moment: also
// while Dial has not returned yet and after HangUp.
class RasDialEvents {
 public:
  virtual ~RasDialEvents() = default;
  // Non-zero keeps the notifications coming, 0 stops them; the value is what the progress
  // function returns.
  virtual uint32_t OnRasProgress(RasConnectionHandle connection, uint32_t connectionState,
                                 uint32_t error) = 0;
};

class RasDialer {
 public:
  // Fixed record sizes of the system calls (the layouts of the oldest system we support); the
  // sizes callers reason about when growing buffers.
  static constexpr uint32_t kConnectionRecordSize = 1356;
  static constexpr uint32_t kIpProjectionSize = 80;

  virtual ~RasDialer() = default;

  // Lists the active connections into a buffer of `bufferBytes`. When that is too small the
  // answer is kRasErrorBufferTooSmall with `bufferBytes` set to the size needed.
  virtual uint32_t EnumConnections(uint32_t& bufferBytes,
                                   std::vector<RasConnectionInfo>& connections) = 0;
  // Writes entry `entryName` of the default phonebook.
  virtual uint32_t SetEntryProperties(const std::wstring& entryName,
                                      const RasEntryProperties& entry) = 0;
  // Dials asynchronously; progress goes to `events` on the system's thread, which keeps it
  // for as long as it may still call (the engine may be gone by then). `connection` may be
  // filled even when the call fails, and must then be hung up.
  virtual uint32_t Dial(const RasDialParameters& parameters, std::shared_ptr<RasDialEvents> events,
                        RasConnectionHandle& connection) = 0;
  // Starts the hang-up without waiting for it to finish.
  virtual uint32_t HangUp(RasConnectionHandle connection) = 0;
  // 0 while `connection` still exists in the system (also while it is being hung up, and when
  // it is listed as disconnected: `status` says so); kRasErrorInvalidHandle once it is gone.
  virtual uint32_t GetConnectStatus(RasConnectionHandle connection,
                                    RasLinkStatus* status = nullptr) = 0;
  virtual uint32_t GetStatistics(RasConnectionHandle connection, uint32_t& bytesSent,
                                 uint32_t& bytesReceived) = 0;
  // The PPP IP projection into a buffer of `bufferBytes` (never fewer than
  // kIpProjectionSize). Whatever the result, `bufferBytes` comes back as the size the system
  // reported; `localAddress` is set on success only.
  virtual uint32_t GetIpProjection(RasConnectionHandle connection, uint32_t& bufferBytes,
                                   std::wstring& localAddress) = 0;
  // The system's text for a dial-up error number; empty when it has none.
  virtual std::wstring GetErrorString(uint32_t error) = 0;
  // Watches `connection` until it is gone (RunRasLinkWatch: the system's disconnection notice,
  // or the status query no longer finding it or finding it disconnected), then tells `events`
  // once with kRasStateDisconnected, from a thread of its own, at any moment: also after
  // HangUp. 0 when the watch is set, with or without the system's notice.
  virtual uint32_t WatchDisconnection(RasConnectionHandle connection,
                                      std::shared_ptr<RasDialEvents> events) = 0;
};
