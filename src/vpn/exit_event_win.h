// The OpenVPN child's exit event on Windows: a fresh, unguessable name for every child, made by
// the client before the child starts, with an access list for the administrators and the system.
#pragma once

#include <functional>
#include <string>

#include "base/unique_handle_win.h"
#include "vpn/open_vpn.h"

class PrivateExitEvent final : public ExitSignal {
 public:
  // A candidate name per call; the default draws kOpenVpnExitEventPrefix and 32 random hex
  // digits from the system's generator.
  using NameSource = std::function<std::wstring()>;
  static std::wstring RandomName();

  explicit PrivateExitEvent(NameSource names = RandomName);

  // A name that exists already (whoever made it, on purpose or by chance) is passed over: its
  // maker could signal it, and it keeps the descriptor it was made with. A few tries, then
  // nothing.
  std::wstring Create() override;
  void Raise() override;
  void Clear() override;

  static constexpr int kTries = 4;

 private:
  NameSource names_;
  UniqueHandle event_;
};
