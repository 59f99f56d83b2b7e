#include "app/interim_ports.h"

#include "config/text_table.h"
#include "service/server_response.h"

void ClientAddressAnnouncements::ShowAnnouncements(bool storedOnly) {
  if (storedOnly) return;
  const AccountState state = ReadAccountState(profile_, file_, GetText("UnknownClientIP"));
  showClientIp_(state.client_ip);
  for (int slot = 0; slot < kAnnouncementSlots; ++slot) showSlot_(slot, L"", L"");
}
