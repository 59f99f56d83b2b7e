#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/text.h"
#include "config/native_private_profile.h"
#include "config/program_data_folder.h"
#include "config/program_settings.h"
#include "config/route_set_code.h"
#include "config/settings_store.h"
#include "fakes/fake_data_protection.h"
#include "fakes/fake_registry_profile.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  FakeRegistryProfile registry_;
  FakeDataProtection protection_;
  SettingsStore store_{registry_, protection_};
};

TEST_F(SettingsStoreTest, EmptyProfileGivesTheDefaults) {
  EXPECT_TRUE(store_.GetSavePassword());
  EXPECT_EQ(store_.GetUsername(), L"");
  EXPECT_EQ(store_.LoadPassword(), std::nullopt);
  EXPECT_EQ(store_.GetLastVpnRouteIndex(), kRouteSetAllTraffic);
  EXPECT_EQ(store_.GetLastVpnTabGroupIndex(), 0u);
  EXPECT_EQ(store_.GetLastVpnServerId(), -1);
  EXPECT_EQ(store_.GetVpnType(), 1);
  EXPECT_FALSE(store_.GetTipHideAfterConnection());
  const ProxySettings proxy = store_.GetProxy();
  EXPECT_EQ(proxy.type, 0u);
  EXPECT_EQ(proxy.server, L"");
  EXPECT_EQ(proxy.port, 0u);
  EXPECT_EQ(proxy.username, L"");
  EXPECT_EQ(proxy.password, L"");
  EXPECT_EQ(registry_.size(), 0u) << "reading must not write";
}

TEST_F(SettingsStoreTest, NegativeChoicesSurviveTheDwordRoundTrip) {
  store_.SetLastVpnRouteIndex(kRouteSetApplications);
  store_.SetLastVpnServerId(-1);
  EXPECT_EQ(registry_.Get(L"Main", L"LastVpnRouteIndex"),
            FakeRegistryProfile::Value(static_cast<uint32_t>(kRouteSetApplications)));
  EXPECT_EQ(store_.GetLastVpnRouteIndex(), kRouteSetApplications);
  EXPECT_EQ(store_.GetLastVpnServerId(), -1);
}

TEST_F(SettingsStoreTest, MainWindowPositionKeepsNegativeCoordinatesAndIgnoresForeignValues) {
  EXPECT_EQ(store_.GetMainWindowPosition(), std::nullopt);
  store_.SetMainWindowPosition(-1600, 120);
  EXPECT_EQ(store_.GetMainWindowPosition(), std::make_pair(-1600, 120));
  registry_.Put(L"Main", L"WindowPosition", std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(store_.GetMainWindowPosition(), std::nullopt);
}

TEST_F(SettingsStoreTest, SavedCredentialsComeBackAndForgettingRemovesBoth) {
  store_.SaveCredentials(L"alice", L"密码pw");
  const auto blob = registry_.Get(L"Main", L"Password");
  ASSERT_TRUE(blob.has_value());
  EXPECT_EQ(std::get<std::vector<uint8_t>>(*blob), *protection_.Protect(L"密码pw"));
  EXPECT_EQ(store_.GetUsername(), L"alice");
  EXPECT_EQ(store_.LoadPassword(), L"密码pw");

  store_.ForgetCredentials();
  EXPECT_FALSE(registry_.Has(L"Main", L"Username"));
  EXPECT_FALSE(registry_.Has(L"Main", L"Password"));
  EXPECT_EQ(store_.GetUsername(), L"");
  EXPECT_EQ(store_.LoadPassword(), std::nullopt);
}

TEST_F(SettingsStoreTest, FailedProtectionLeavesNoStalePassword) {
  store_.SaveCredentials(L"alice", L"old");
  protection_.setFailProtect(true);
  store_.SaveCredentials(L"bob", L"new");
  EXPECT_EQ(store_.GetUsername(), L"bob");
  EXPECT_FALSE(registry_.Has(L"Main", L"Password"));
  EXPECT_EQ(store_.LoadPassword(), std::nullopt);
}

TEST_F(SettingsStoreTest, UnreadablePasswordBlobGivesNoPassword) {
  registry_.Put(L"Main", L"Password", std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(store_.LoadPassword(), std::nullopt);
  registry_.Put(L"Main", L"Password", std::vector<uint8_t>{});
  EXPECT_EQ(store_.LoadPassword(), std::nullopt);
  store_.SaveCredentials(L"alice", L"pw");
  protection_.setFailUnprotect(true);
  EXPECT_EQ(store_.LoadPassword(), std::nullopt);
}

class ProgramSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kavrin_settings_test_" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir_);
    exe_ = Utf8ToWide((dir_ / "Kavrin.exe").string());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void WriteSettings(const std::string& text) {
    std::ofstream(dir_ / "Kavrin.exe.ini", std::ios::binary) << text;
  }

  std::filesystem::path dir_;
  std::wstring exe_;
  NativePrivateProfile profile_;
};

TEST_F(ProgramSettingsTest, BuiltInHostsApplyWithoutASettingsFile) {
  const ProgramSettings settings(profile_, exe_);
  EXPECT_EQ(settings.file(), exe_ + L".ini");
  EXPECT_EQ(settings.LoginHosts(L" http://a.example/ ;;http://b.example/;  ; "),
            (std::vector<std::wstring>{L"http://a.example/", L"http://b.example/"}));
  EXPECT_EQ(settings.ForceOnlineUpdateTest(), L"");
}

TEST_F(ProgramSettingsTest, SettingsFileOverridesHostsAndForcesTheUpdate) {
  WriteSettings(
      "[Main]\r\nLoginHosts=http://x.example/ ; http://y.example/\r\n"
      "ForceOnlineUpdateTest=green\r\n");
  const ProgramSettings settings(profile_, exe_);
  EXPECT_EQ(settings.LoginHosts(L"http://a.example/"),
            (std::vector<std::wstring>{L"http://x.example/", L"http://y.example/"}));
  EXPECT_EQ(settings.ForceOnlineUpdateTest(), L"green");
}

TEST(ProgramDataFolderTest, LocatesOnceForAllThreads) {
  std::atomic<int> calls{0};
  ProgramDataFolder folder([&] {
    ++calls;
    return ProgramDataFolder::Location{L"/data/Kavrin/", false};
  });
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { folder.Path(); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(folder.FilePath(L"Kavrin.ini"), L"/data/Kavrin/Kavrin.ini");
  EXPECT_FALSE(folder.Owned());
  EXPECT_EQ(calls, 1);
}

}  // namespace
