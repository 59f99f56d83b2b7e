// Host settings that break a tunnel, repaired by the program:
//
// - the binding order: Windows 2000, XP and Server 2003 keep the dial-up WAN binding behind the
//   LAN adapters in TCP/IP's binding list, so it is moved to the front once a tunnel is up;
// - DHCP switched on for the very address a dial-up tunnel received: that interface gets DHCP
//   switched off, the user is told, and the connection is stopped so it can be made again.
//   The owner does not ask for it for OpenVPN, whose TAP adapter gets that address by DHCP
//   from its own driver;
// - stopped dial-up services, started before each connection.
//
// The registry is reached through RegistryKey (config/machine_registry.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_ports.h"
#include "base/clock.h"
#include "config/machine_registry.h"
#include "vpn/system_services.h"

inline constexpr wchar_t kTcpipLinkageKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Linkage";
inline constexpr wchar_t kTcpipInterfacesKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
inline constexpr wchar_t kWanBinding[] = L"\\Device\\NdisWanIp";

// ---- the repairs --------------------------------------------------------------------------------

class RegistryAdapterRepairs : public AdapterRepairs {
 public:
  // `osMajorVersion` is 0 when unknown. `onDhcpSwitchedOff` runs for every interface whose
  // DHCP was switched off: it tells the user and stops the connection.
  RegistryAdapterRepairs(RegistryKeyFactory& registry, uint32_t osMajorVersion,
                         std::function<void()> onDhcpSwitchedOff)
      : registry_(registry),
        osMajorVersion_(osMajorVersion),
        onDhcpSwitchedOff_(std::move(onDhcpSwitchedOff)) {}

  // Only Windows 2000, XP and Server 2003 (major version 5) need it and get it.
  void FixBindingOrder() override;
  void CheckDhcp(const std::wstring& localAddress) override;

 private:
  RegistryKeyFactory& registry_;
  uint32_t osMajorVersion_;
  std::function<void()> onDhcpSwitchedOff_;
};

// Starts the dial-up services before a connection when they are not running.
class DialUpServiceStarter : public RasServices {
 public:
  DialUpServiceStarter(ServiceControl& control, TickClock& clock)
      : control_(control), clock_(clock) {}
  void EnsureRasServicesRunning() override { ::EnsureRasServicesRunning(control_, clock_); }

 private:
  ServiceControl& control_;
  TickClock& clock_;
};
