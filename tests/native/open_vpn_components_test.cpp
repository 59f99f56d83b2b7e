#include "vpn/open_vpn_components.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

class ScriptedComponents : public OpenVpnComponents {
 public:
  bool CheckOpenVpnComponents(const std::wstring&) override {
    calls.push_back("check");
    return complete;
  }
  bool HasTapAdapter() override {
    calls.push_back("has");
    return installed;
  }
  bool InstallTapAdapter() override {
    calls.push_back("install");
    installed = installWorks;
    return true;
  }
  bool complete = true;
  bool installed = false;
  bool installWorks = true;
  std::vector<std::string> calls;
};

TEST(OpenVpnComponentsTest, PreparationChecksFilesThenAdapterWithOneInstallAttempt) {
  struct Case {
    const char* name;
    bool complete, installed, installWorks, result;
    std::vector<std::string> calls, messages;
  };
  const Case cases[] = {
      {"files missing",
       false,
       false,
       true,
       false,
       {"check"},
       {"VpnAppWithoutOpenVPNPleaseDownload"}},
      {"adapter present", true, true, true, true, {"check", "has"}, {}},
      {"installed now",
       true,
       false,
       true,
       true,
       {"check", "has", "install", "has"},
       {"InstallOpenVPNTapTip"}},
      {"install fails",
       true,
       false,
       false,
       false,
       {"check", "has", "install", "has"},
       {"InstallOpenVPNTapTip", "CannotInstallOpenVPN"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedComponents components;
    components.complete = c.complete;
    components.installed = c.installed;
    components.installWorks = c.installWorks;
    std::vector<std::string> messages;
    EXPECT_EQ(PrepareOpenVpnComponents(components, L"C:\\Kavrin\\",
                                       [&](const char* key) { messages.emplace_back(key); }),
              c.result);
    EXPECT_EQ(components.calls, c.calls);
    EXPECT_EQ(messages, c.messages);
  }
}

}  // namespace
