// RasDialer through rasapi32, with the fixed record layouts the oldest supported system
// accepts. The system headers describe newer, larger records that older systems refuse, so
// the records are declared here and checked against the sizes the calls are made with.
#pragma once

// clang-format off
#include <windows.h>
#include <ras.h>
// clang-format on

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/unique_handle_win.h"
#include "vpn/ras_dialer.h"

// Packed to 4 bytes, as the system headers declare these records: the same layout for a 32-bit
// build, and handles at 4-byte offsets for a 64-bit one.
#pragma pack(push, 4)

struct RasEntryRecord {
  DWORD dwSize;
  DWORD dwfOptions;
  DWORD dwCountryID;
  DWORD dwCountryCode;
  WCHAR szAreaCode[11];
  WCHAR szLocalPhoneNumber[129];
  DWORD dwAlternateOffset;
  DWORD ipaddr[5];  // address, DNS, alternate DNS, WINS, alternate WINS
  DWORD dwFrameSize;
  DWORD dwfNetProtocols;
  DWORD dwFramingProtocol;
  WCHAR szScript[MAX_PATH];
  WCHAR szAutodialDll[MAX_PATH];
  WCHAR szAutodialFunc[MAX_PATH];
  WCHAR szDeviceType[17];
  WCHAR szDeviceName[129];
  WCHAR szX25PadType[33];
  WCHAR szX25Address[201];
  WCHAR szX25Facilities[201];
  WCHAR szX25UserData[201];
  DWORD dwChannels;
  DWORD dwReserved1;
  DWORD dwReserved2;
  DWORD dwSubEntries;
  DWORD dwDialMode;
  DWORD dwDialExtraPercent;
  DWORD dwDialExtraSampleSeconds;
  DWORD dwHangUpExtraPercent;
  DWORD dwHangUpExtraSampleSeconds;
  DWORD dwIdleDisconnectSeconds;
  DWORD dwType;
  DWORD dwEncryptionType;
  DWORD dwCustomAuthKey;
  GUID guidId;
  WCHAR szCustomDialDll[MAX_PATH];
  DWORD dwVpnStrategy;
};

struct RasDialParamsRecord {
  DWORD dwSize;
  WCHAR szEntryName[257];
  WCHAR szPhoneNumber[129];
  WCHAR szCallbackNumber[129];
  WCHAR szUserName[257];
  WCHAR szPassword[257];
  WCHAR szDomain[16];
  DWORD dwSubEntry;
  ULONG_PTR dwCallbackId;
};

struct RasConnRecord {
  DWORD dwSize;
  HRASCONN hrasconn;
  WCHAR szEntryName[257];
  WCHAR szDeviceType[17];
  WCHAR szDeviceName[129];
  WCHAR szPhonebook[MAX_PATH];
  DWORD dwSubEntry;
  GUID guidEntry;
};

struct RasStatsRecord {
  DWORD dwSize;
  DWORD dwBytesXmited;
  DWORD dwBytesRcved;
  DWORD dwFramesXmited;
  DWORD dwFramesRcved;
  DWORD dwCrcErr;
  DWORD dwTimeoutErr;
  DWORD dwAlignmentErr;
  DWORD dwHardwareOverrunErr;
  DWORD dwFramingErr;
  DWORD dwBufferOverrunErr;
  DWORD dwCompressionRatioIn;
  DWORD dwCompressionRatioOut;
  DWORD dwBps;
  DWORD dwConnectDuration;
};

struct RasPppIpRecord {
  DWORD dwSize;
  DWORD dwError;
  WCHAR szIpAddress[16];
  WCHAR szServerIpAddress[16];
  DWORD dwOptions;
  DWORD dwServerOptions;
};

#pragma pack(pop)

inline constexpr DWORD kRasEntrySize = 4048;
inline constexpr DWORD kRasDialParamsSize = 2104;
inline constexpr DWORD kRasStatsSize = 60;

// RASCONNSTATUSW as the oldest supported system has it (newer headers add fields).
struct RasConnStatusRecord {
  DWORD dwSize;
  DWORD rasconnstate;
  DWORD dwError;
  WCHAR szDeviceType[17];
  WCHAR szDeviceName[129];
};
inline constexpr DWORD kRasConnStatusSize = 304;

class RasApiDialer final : public RasDialer {
 public:
  RasApiDialer() = default;
  // Ends the disconnection watches still waiting.
  ~RasApiDialer() override;

  uint32_t EnumConnections(uint32_t& bufferBytes,
                           std::vector<RasConnectionInfo>& connections) override;
  // Texts longer than their fields are refused with ERROR_INVALID_PARAMETER, never cut.
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
  // RasConnectionNotification with RASCN_Disconnection, and RasGetConnectStatus every few
  // seconds in case the notice never comes.
  uint32_t WatchDisconnection(RasConnectionHandle connection,
                              std::shared_ptr<RasDialEvents> events) override;

 private:
  struct Watch {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  std::mutex watchMutex_;
  std::vector<std::unique_ptr<Watch>> watches_;
  UniqueHandle quit_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};
