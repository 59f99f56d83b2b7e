// What the main window asks of parts of the host that come with later work: the notification
// area icon, the dial-up services, the adapter repairs, the news and what identifies the
// machine. Each has a Windows implementation that does the plain thing for now.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "service/announcements.h"
#include "service/first_answer_race.h"
#include "service/login_exchange.h"
#include "vpn/route_table.h"

// The program's icon in the notification area.
class TrayIcon {
 public:
  virtual ~TrayIcon() = default;
  // An icon resource id: 132 idle, 135 connected, 133/134/136 by traffic.
  virtual void SetIcon(uint32_t iconId) = 0;
  virtual void ShowBalloon(const std::wstring& text) = 0;
  // The tip shown over the icon; empty for the product name.
  virtual void SetTip(const std::wstring& text) = 0;
  // The text and check mark of the menu item `id`.
  virtual void SetMenuItem(uint32_t id, const std::wstring& text, bool checked) = 0;
  // False while the notification area has no icon of ours (it refused it, or has none yet): a
  // window hidden then could not be brought back.
  virtual bool Shown() const = 0;
};

// The system services dial-up networking needs.
class RasServices {
 public:
  virtual ~RasServices() = default;
  // Starts them when they are stopped, so that dialling does not fail for a stopped service.
  virtual void EnsureRasServicesRunning() = 0;
};

// Host settings that break a tunnel once it is up.
class AdapterRepairs {
 public:
  virtual ~AdapterRepairs() = default;
  virtual void FixBindingOrder() = 0;
  // `localAddress` is the address the tunnel received.
  virtual void CheckDhcp(const std::wstring& localAddress) = 0;
};

// What the service is told about this machine.
class MachineIdentity {
 public:
  virtual ~MachineIdentity() = default;
  virtual bool IsWindows2000() = 0;
  // `withBios` false leaves the BIOS value empty without asking for it.
  virtual ClientIdentity Read(bool withBios) = 0;
};
