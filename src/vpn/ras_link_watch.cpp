#include "vpn/ras_link_watch.h"

bool RasLinkGone(uint32_t result, const RasLinkStatus& status) {
  return result != 0 || status.state == kRasStateDisconnected;
}

void RunRasLinkWatch(RasDialer& dialer, RasConnectionHandle connection, bool noticeSet,
                     const std::function<LinkWake(uint32_t milliseconds)>& wait,
                     RasDialEvents& events) {
  const uint32_t poll = noticeSet ? kRasStatusPollMs : kRasStatusPollWithoutNoticeMs;
  for (;;) {
    const LinkWake woken = wait(poll);
    if (woken == LinkWake::kQuit) return;
    RasLinkStatus status;
    if (woken == LinkWake::kNotice || RasLinkGone(dialer.GetConnectStatus(connection, &status),
                                                  status)) {
      events.OnRasProgress(connection, kRasStateDisconnected, status.error);
      return;
    }
  }
}
