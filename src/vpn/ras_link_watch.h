// The watch of a dial-up link that is up: when it has gone, the connector is told once. The
// system's disconnection notice may never come (a failed RasConnectionNotification, a notice
// lost), so the status is asked as well; and a link the system still lists may have gone all
// the same (listed as disconnected, with the error that took it). The decisions are portable;
// the dial-up adapter supplies the waiting.
#pragma once

#include <cstdint>
#include <functional>

#include "vpn/ras_dialer.h"

// What woke the watch.
enum class LinkWake {
  kNotice,   // the system's disconnection notice
  kTimeout,  // time to ask the status
  kQuit,     // the dialer is going away
};

// Whether the answer of RasGetConnectStatus means the link is gone: any error (the handle no
// longer names a connection, or the system cannot say; a link we cannot see is not kept up)
// or a connection listed as disconnected.
bool RasLinkGone(uint32_t result, const RasLinkStatus& status);

// How often the status is asked: with the notice set as a fallback, without it as the watch.
inline constexpr uint32_t kRasStatusPollMs = 5000;
inline constexpr uint32_t kRasStatusPollWithoutNoticeMs = 2000;

// Runs until the link is gone, then tells `events` once with kRasStateDisconnected, or until
// `wait` answers kQuit. `noticeSet` says whether the system's notice was set; `wait(ms)` waits
// for it (or only for the time without one).
void RunRasLinkWatch(RasDialer& dialer, RasConnectionHandle connection, bool noticeSet,
                     const std::function<LinkWake(uint32_t milliseconds)>& wait,
                     RasDialEvents& events);
