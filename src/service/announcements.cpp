#include "service/announcements.h"

#include <filesystem>
#include <system_error>

#include "base/file_path.h"
#include "config/text_table.h"
#include "service/online_update.h"
#include "service/server_response.h"

std::wstring AnnouncementCaption(const std::wstring& headline, int64_t datetimeGmt) {
  return L"[" + FormatLocalDate(datetimeGmt) + L"] " + headline;
}

void AnnouncementBoard::ShowAnnouncements(bool storedOnly) {
  if (!storedOnly) {
    const ServiceAnswer answer = ReadServiceAnswer(profile_, file_, GetText("UnknownClientIP"));
    const int update = update_.Check(answer);
    if (update == OnlineUpdateCheck::kUpdateStarted) {
      // The program is closing for the update; its news must not outlive it.
      std::error_code ignored;
      std::filesystem::remove(FileSystemPath(file_), ignored);
      return;
    }
    if (update != OnlineUpdateCheck::kContinue) {
      sinks_.setStatus(GetText("NetworkOrServerErrorToLogin"), true);
      return;
    }
    sinks_.showClientIp(answer.account.clientIp);
  }
  const auto entries = ReadAnnouncements(profile_, file_);
  for (int slot = 0; slot < kAnnouncementSlots; ++slot) {
    const AnnouncementEntry& entry = entries[slot];
    if (entry.title.empty()) {
      sinks_.showSlot(slot, L"", L"");
      continue;
    }
    // A link that is no web address stays dead rather than reaching the shell.
    sinks_.showSlot(slot, AnnouncementCaption(entry.title, entry.datetimeGmt),
                    IsWebAddress(entry.url) ? entry.url : L"");
  }
}
