#include "config/program_settings.h"

#include "base/text.h"
#include "config/profile_access.h"

ProgramSettings::ProgramSettings(PrivateProfile& profile, const std::wstring& executablePath)
    : profile_(profile), file_(executablePath + L".ini") {}

std::vector<std::wstring> ProgramSettings::LoginHosts(const std::wstring& builtIn) const {
  const std::wstring list = ReadProfileText(profile_, file_, L"Main", L"LoginHosts", builtIn);
  std::vector<std::wstring> hosts;
  for (const auto& item : SplitText(list, L';')) {
    std::wstring host = TrimText(item);
    if (!host.empty()) hosts.push_back(std::move(host));
  }
  return hosts;
}

std::wstring ProgramSettings::ForceOnlineUpdateTest() const {
  return ReadProfileText(profile_, file_, L"Main", L"ForceOnlineUpdateTest", std::wstring());
}
