// The plain implementations the main window uses until the service restart, the adapter
// repairs, the news and the online update have their own.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "app/main_window_ports.h"
#include "config/private_profile.h"
#include "service/login_exchange.h"

class NoRasServiceCheck : public RasServices {
 public:
  void EnsureRasServicesRunning() override {}
};

class NoAdapterRepairs : public AdapterRepairs {
 public:
  void FixBindingOrder() override {}
  void CheckDhcp(const std::wstring&) override {}
};

// Every client may go on: no update is ever required.
class NoUpdateRequired : public OnlineUpdateCheck {
 public:
  int Check(const std::wstring&) override { return kContinue; }
};

// Shows the client address of a fresh answer and keeps the news lines blank.
class ClientAddressAnnouncements : public Announcements {
 public:
  using TextSink = std::function<void(const std::wstring&)>;
  using SlotSink =
      std::function<void(int slot, const std::wstring& caption, const std::wstring& link)>;

  ClientAddressAnnouncements(PrivateProfile& profile, std::wstring file, TextSink showClientIp,
                             SlotSink showSlot)
      : profile_(profile),
        file_(std::move(file)),
        showClientIp_(std::move(showClientIp)),
        showSlot_(std::move(showSlot)) {}

  void ShowAnnouncements(bool storedOnly) override;

 private:
  PrivateProfile& profile_;
  std::wstring file_;
  TextSink showClientIp_;
  SlotSink showSlot_;
};
