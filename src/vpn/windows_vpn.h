// PPTP and L2TP tunnels through the system's dial-up networking: one phonebook entry named
// "Kavrin", dialled asynchronously, its progress turned into engine states.
#pragma once

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

class CWindowsVpn : public CGeneralVpn, public RasDialEvents {
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

  // `tunnelType` is WindowsVpnTunnelPptp or WindowsVpnTunnelL2tp. The dialer, route table and
  // clock must outlive the engine.
  CWindowsVpn(uint32_t tunnelType, RasDialer& dialer, RouteTable& routeTable, TickClock& clock,
              std::unique_ptr<CVpnRouteRequestBaseServer> routeServer = nullptr);
  // Does not hang up: the owner disconnects first.
  ~CWindowsVpn() override = default;

  // Refuses (GENERAL_VPN_ERROR_ALREADY_CONNECTED) while a connection of ours exists, even
  // one left by an earlier run, which the next Disconnect then hangs up. Otherwise writes the
  // phonebook entry and starts dialling: 0 means reports will follow.
  int32_t Connect() override;
  // Starts the hang-up without waiting for it, then the common cleanup.
  int32_t Disconnect() override;
  int32_t GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) override;
  // The system's dial-up error text, with the reboot advice for the port errors a restart
  // cures.
  std::wstring GetErrorDetailText(int32_t detail) override;
  std::wstring GetErrorText(int32_t code) override;

  // The progress handler, on the dial-up networking's thread. A connected tunnel whose address
  // cannot be read is reported as an internal error, so the owner hangs it up.
  uint32_t OnRasProgress(RasConnectionHandle connection, uint32_t connectionState,
                         uint32_t rasError) override;

  // Written by Connect and cleared by Disconnect, both on the owner's thread.
  RasConnectionHandle rasConnection = 0;
  const uint32_t tunnelType;

 private:
  RasConnectionHandle FindExistingConnection();
  // 0 with `address` set, or the error of the repeated projection query.
  uint32_t ReadLocalAddress(RasConnectionHandle connection, std::wstring& address);

  RasDialer& dialer_;
};
