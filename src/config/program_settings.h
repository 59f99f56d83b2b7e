// The program's own settings file beside the executable (its full path plus ".ini"), which the
// program only reads. Its section "Main" may override the login hosts and force the update.
#pragma once

#include <string>
#include <vector>

#include "config/private_profile.h"

class ProgramSettings {
 public:
  ProgramSettings(PrivateProfile& profile, const std::wstring& executablePath);

  const std::wstring& file() const { return file_; }

  // Login base addresses: "LoginHosts" or else `builtIn`, a ';'-separated list; items are
  // trimmed and empty ones dropped.
  std::vector<std::wstring> LoginHosts(const std::wstring& builtIn) const;
  // "setup", "green", any other text, or empty when the update is not forced.
  std::wstring ForceOnlineUpdateTest() const;

 private:
  PrivateProfile& profile_;
  std::wstring file_;
};
