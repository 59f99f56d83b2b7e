// PPTP and L2TP tunnels through the system's dial-up networking: one phonebook entry named
// "Kavrin", dialled asynchronously, its progress turned into engine states.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "vpn/general_vpn.h"
#include "vpn/ras_dialer.h"

enum WindowsVpnError : int32_t {
  WINDOWS_VPN_ERROR_CREATE = 9,  // the phonebook entry could not be written
  WINDOWS_VPN_ERROR_DIAL = 10,   // dialling could not be started
};

enum WindowsVpnTunnelType : uint32_t {
  kWindowsVpnTunnelPptp = 1,
  kWindowsVpnTunnelL2tp = 2,
};

class CWindowsVpn : public CGeneralVpn {
 public:
  static constexpr const wchar_t* kEntryName = L"Kavrin";
  // Longest texts the entry and dial parameter fields hold.
  static constexpr size_t kMaxServerAddress = 128;
  static constexpr size_t kMaxCredential = 256;

  // Option words of the phonebook entry: PPTP with MPPE demands encryption and MS-CHAP v2;
  // everything else offers the wider set of authentication protocols without encryption.
  static constexpr uint32_t kEntryOptionsEncrypted = 0x25141800;
  static constexpr uint32_t kEntryOptionsPlain = 0x3d140000;
  static constexpr uint32_t kEntryOptionRemoteDefaultGateway = 0x10;

  // How long the cleanup waits at most for the system to let a hung-up connection go, and how
  // often it asks.
  static constexpr uint32_t kHangUpWaitMs = 30000;
  static constexpr uint32_t kHangUpPollMs = 50;

  // `tunnelType` is WindowsVpnTunnelPptp or WindowsVpnTunnelL2tp. The dialer, route table and
  // clock must outlive the engine.
  CWindowsVpn(uint32_t tunnelType, RasDialer& dialer, RouteTable& routeTable, TickClock& clock,
              std::unique_ptr<CVpnRouteRequestBaseServer> routeServer = nullptr);
  // Does not hang up: the owner disconnects first. The system may still call the progress
  // function afterwards; it reaches a receiver that answers 0.
  ~CWindowsVpn() override;

  int32_t GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) override;
  // The system's dial-up error text, with the reboot advice for the port errors a restart
  // cures.
  std::wstring GetErrorDetailText(int32_t detail) override;
  std::wstring GetErrorText(int32_t code) override;
  // The advice for the dial-up error in `detail`.
  std::wstring ErrorAdvice(int32_t code, int32_t detail) override;

  // The progress function, on the dial-up networking's thread: queues the progress for the
  // worker and returns, 1 to hear more, 0 once Disconnect has begun. A connected tunnel whose
  // address cannot be read is reported as an internal error, so the owner hangs it up.
  uint32_t OnRasProgress(RasConnectionHandle connection, uint32_t connectionState,
                         uint32_t rasError);

  // Written on the worker by the connection and the cleanup; read by GetStatistics.
  std::atomic<RasConnectionHandle> rasConnection = 0;
  const uint32_t tunnelType;

 protected:
  // Refuses (GENERAL_VPN_ERROR_ALREADY_CONNECTED) while a connection of ours exists, even
  // one left by an earlier run, which the cleanup then hangs up. Otherwise writes the
  // phonebook entry and starts dialling.
  int32_t StartTunnel() override;
  // Reports DISCONNECT and starts the hang-up.
  void StopTunnel() override;
  // Waits until the system says the hung-up connection is gone, so the entry is not dialled
  // again, nor the engine deleted, while it still exists.
  void AfterRestore() override;

 private:
  class ProgressReceiver;

  void HandleProgress(RasConnectionHandle connection, uint32_t connectionState, uint32_t rasError);
  RasConnectionHandle FindExistingConnection();
  // 0 with `address` set, or the error of the repeated projection query.
  uint32_t ReadLocalAddress(RasConnectionHandle connection, std::wstring& address);

  RasDialer& dialer_;
  // Held by the system for as long as it may call; answers 0 once the engine is gone.
  const std::shared_ptr<ProgressReceiver> receiver_;
  // On the worker: the connection the cleanup hung up.
  RasConnectionHandle hungUp_ = 0;
};
