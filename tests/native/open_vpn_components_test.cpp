#include "vpn/open_vpn_components.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_open_vpn_components.h"

namespace {

TEST(OpenVpnComponentsTest, CheckStopsAtTheFirstMissingFile) {
  std::vector<std::wstring> asked;
  const bool complete = CheckOpenVpnComponentFiles(L"C:\\Kavrin\\", [&](const std::wstring& path) {
    asked.push_back(path);
    return path.ends_with(L"openvpn.exe");
  });
  EXPECT_FALSE(complete);
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"C:\\Kavrin\\openvpn\\openvpn.exe",
                                              L"C:\\Kavrin\\openvpn\\ca.crt"}));
  EXPECT_EQ(OpenVpnFolder(), L"C:\\Kavrin\\openvpn\\");
}

TEST(OpenVpnComponentsTest, PreparationChecksFilesThenAdapterWithOneInstallAttempt) {
  using enum TapAdapterProbe;
  struct Case {
    const char* name;
    bool filesPresent;
    TapAdapterProbe adapter, afterInstall;
    bool result;
    std::vector<std::string> calls, messages;
  };
  const std::string download = "VpnAppWithoutOpenVPNPleaseDownload";
  const std::string tip = "InstallOpenVPNTapTip";
  const std::string cannot = "CannotInstallOpenVPN";
  const std::vector<std::string> installed = {"check", "has", "install", "has"};
  const Case cases[] = {
      {"files missing", false, kAbsent, kPresent, false, {"check"}, {download}},
      {"adapter present", true, kPresent, kPresent, true, {"check", "has"}, {}},
      {"installed now", true, kAbsent, kPresent, true, installed, {tip}},
      {"install fails", true, kAbsent, kAbsent, false, installed, {tip, cannot}},
      // openvpn.exe hangs: installing a driver would not help.
      {"listing hangs", true, kTimedOut, kPresent, false, {"check", "has"}, {download}},
      {"listing hangs after install", true, kAbsent, kTimedOut, false, installed, {tip, cannot}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeOpenVpnComponents components;
    components.filesPresent = c.filesPresent;
    components.adapter = c.adapter;
    components.afterInstall = c.afterInstall;
    std::vector<std::string> messages;
    EXPECT_EQ(PrepareOpenVpnComponents(components, L"C:\\Kavrin\\",
                                       [&](const char* key) { messages.emplace_back(key); }),
              c.result);
    EXPECT_EQ(components.calls, c.calls);
    EXPECT_EQ(messages, c.messages);
  }
}

}  // namespace
