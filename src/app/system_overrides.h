// What a build of the program may put in place of the system's pieces (the simulated network of
// the end-to-end tests). Null means the system's own; what is given must outlive the run.
#pragma once

class BindModule;
class DnsGuard;
class Ipv6RouteTable;
class RasDialer;
class RouteTable;
class TrafficGuard;
class TraySystem;

struct SystemOverrides {
  RasDialer* dialer = nullptr;
  RouteTable* routes = nullptr;
  Ipv6RouteTable* ipv6Routes = nullptr;
  DnsGuard* dnsGuard = nullptr;
  TrafficGuard* trafficGuard = nullptr;
  // The notification area; the shell's when null.
  TraySystem* traySystem = nullptr;
  // The binding module as the main window starts and stops it; the system's when null.
  BindModule* bind = nullptr;
};
