// The news lines and the client address the service's announcement answer carries. The answer
// stays on disk as the announcement file, so the next start shows the last news before any
// host has answered.
#pragma once

#include <functional>
#include <string>

#include "config/memory_overlay_profile.h"
#include "service/login_exchange.h"

// The news lines and the client address, from the announcement file.
class Announcements {
 public:
  virtual ~Announcements() = default;
  // `storedOnly`: what an earlier run kept, without the update check or the client address.
  virtual void ShowAnnouncements(bool storedOnly) = 0;
  // The announcement file could not take the fresh answer: it is read from `answer` instead.
  virtual void HoldAnswer(std::string answer) = 0;
};

// Where the news goes on the main window.
struct AnnouncementSinks {
  // The status line; with `showBox` also an OK box.
  std::function<void(const std::wstring& text, bool showBox)> setStatus;
  std::function<void(const std::wstring& address)> showClientIp;
  // Slot 0 to 3; an empty caption and link blank the slot.
  std::function<void(int slot, const std::wstring& caption, const std::wstring& link)> showSlot;
};

// "[YYYY-MM-DD] headline", the date local; "[] headline" when the time cannot be converted.
std::wstring AnnouncementCaption(const std::wstring& headline, int64_t datetimeGmt);

class AnnouncementBoard : public Announcements {
 public:
  // The answer is read through `profile` (a held one from memory) and handed to `update`.
  AnnouncementBoard(MemoryOverlayProfile& profile, std::wstring file, OnlineUpdateCheck& update,
                    AnnouncementSinks sinks)
      : profile_(profile), file_(std::move(file)), update_(update), sinks_(std::move(sinks)) {}

  // Not stored-only: a fresh answer, which first passes the update check and then shows the
  // client address. Either way each of the four slots shows the headline of its own index.
  void ShowAnnouncements(bool storedOnly) override;
  void HoldAnswer(std::string answer) override { profile_.Hold(file_, std::move(answer)); }

 private:
  MemoryOverlayProfile& profile_;
  std::wstring file_;
  OnlineUpdateCheck& update_;
  AnnouncementSinks sinks_;
};
