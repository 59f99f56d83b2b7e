#include "vpn/open_vpn_win.h"

#include <gtest/gtest.h>
#include <windows.h>
// After <windows.h>.
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/blocked_operation_runner_win.h"
#include "base/clock.h"
#include "base/unique_handle_win.h"
#include "config/text_table.h"
#include "fakes/fake_route_table.h"
#include "vpn/open_vpn.h"
#include "vpn/exit_event_win.h"
#include "vpn/open_vpn_components_win.h"
#include "vpn/route_modification.h"

namespace {

namespace fs = std::filesystem;

bool WaitUntil(const std::function<bool()>& condition) {
  for (int waited = 0; waited < 15000 && !condition(); waited += 20) Sleep(20);
  return condition();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A program folder whose component folder holds the stand-ins built beside this test program.
class ProgramLayout {
 public:
  ProgramLayout() {
    static int serial = 0;
    root = fs::temp_directory_path() / ("kavrin-ovpn-" + std::to_string(GetCurrentProcessId()) +
                                        "-" + std::to_string(++serial));
    fs::create_directories(root / "openvpn");
    wchar_t self[MAX_PATH] = {};
    const fs::path built =
        fs::path(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH))).parent_path();
    for (const char* program : {"openvpn.exe", "tapinstall.exe"}) {
      fs::copy_file(built / program, root / "openvpn" / program);
    }
    for (const char* file : {"ca.crt", "tap_kavrin.inf", "tap_kavrin.sys"}) {
      WriteText(root / "openvpn" / file, "dummy\n");
    }
    folder = (root / "openvpn").wstring() + L"\\";
  }
  ~ProgramLayout() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  void Configure(const std::string& lines) { WriteText(folder + L"openvpn_standin.txt", lines); }
  void InstallDriver() { WriteText(folder + L"tap_kavrin.installed", ""); }
  std::string Log() {
    std::ifstream log(fs::path(folder + L"openvpn_standin.log"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(log), {});
  }

  fs::path root;
  std::wstring folder;
};

using Report = std::pair<uint32_t, int32_t>;

// Repeats of the same report (each chunk repeats "Peer Connection Initiated") are kept once.
class Reports : public CGeneralVpnCallbackInterface {
 public:
  void OnVpnStateChanged(CGeneralVpn*, const VpnStatus& status) override {
    std::lock_guard lock(mutex_);
    const Report report(status.state, status.error);
    if (list_.empty() || list_.back() != report) list_.push_back(report);
  }
  std::vector<Report> List() {
    std::lock_guard lock(mutex_);
    return list_;
  }

 private:
  std::mutex mutex_;
  std::vector<Report> list_;
};

class OpenVpnWinTest : public ::testing::Test {
 protected:
  OpenVpnWinTest() {
    BuildTextTable();
    SetOpenVpnFolder(layout_.folder);
    // A host with one default route and the tunnel's adapter, taking every change.
    routes_.SetLanHost();
    routes_.countOnly = true;
    vpn_ = MakeSystemOpenVpn(routes_, SystemTickClock());
    vpn_->callback = &reports_;
    vpn_->routeMode = RouteModeListedRoutes;
    vpn_->serverAddress = L"203.0.113.9";
    vpn_->userName = L"alice";
    vpn_->password = L"s3cret";
    layout_.Configure("user=alice\npassword=s3cret\n");
  }
  ~OpenVpnWinTest() override {
    vpn_->callback = nullptr;
    vpn_.reset();
  }

  ProgramLayout layout_;
  FakeRouteTable routes_;
  Reports reports_;
  std::unique_ptr<COpenVpn> vpn_;
};

TEST_F(OpenVpnWinTest, ComponentChecksFindTheFilesAndInstallTheAdapter) {
  SystemOpenVpnComponents components;
  EXPECT_TRUE(components.CheckOpenVpnComponents(layout_.root.wstring() + L"\\"));
  EXPECT_EQ(OpenVpnFolder(), layout_.folder);
  EXPECT_EQ(components.HasTapAdapter(), TapAdapterProbe::kAbsent);
  EXPECT_TRUE(components.InstallTapAdapter());
  EXPECT_EQ(components.HasTapAdapter(), TapAdapterProbe::kPresent);
}

bool MutexExists(const wchar_t* name) {
  UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name));
  return mutex.get() != nullptr;
}

// From a thread of its own, sends `window` a message every 50 ms while the stand-in holding
// `hangingMutex` hangs, and counts the answers.
class AnswerWatch {
 public:
  AnswerWatch(HWND window, const wchar_t* hangingMutex)
      : thread_([this, window, hangingMutex] {
          while (!done_) {
            if (MutexExists(hangingMutex)) {
              ++whileHanging;
              DWORD_PTR result = 0;
              if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 500, &result)) {
                ++answered;
              }
            }
            Sleep(50);
          }
        }) {}
  ~AnswerWatch() {
    done_ = true;
    thread_.join();
  }
  std::atomic<int> whileHanging = 0;
  std::atomic<int> answered = 0;

 private:
  std::atomic<bool> done_ = false;
  std::thread thread_;
};

// The policy step as the policy dialog runs it: each outside program behind the blocked-operation
// dialog, over a window of this thread.
TEST_F(OpenVpnWinTest, HungListingAndInstallerAreEndedAtTheirBoundWhileTheWindowAnswers) {
  constexpr uint32_t kBoundMs = 2000;
  SystemOpenVpnComponents system({kBoundMs, kBoundMs});
  HWND owner = CreateWindowExW(0, L"STATIC", L"policy", WS_POPUP, 0, 0, 100, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  DialogBlockedOperationRunner runner(owner);
  BlockedOpenVpnComponents components(system, runner);
  struct Case {
    const char* name;
    std::string configuration;
    bool installerHangs;
    const wchar_t* hanging;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"listing",
       "adapters=hang\n",
       false,
       L"KavrinStandinHanging_openvpn",
       {"VpnAppWithoutOpenVPNPleaseDownload"}},
      {"installer",
       "",
       true,
       L"KavrinStandinHanging_tapinstall",
       {"InstallOpenVPNTapTip", "CannotInstallOpenVPN"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    layout_.Configure(c.configuration);
    if (c.installerHangs) WriteText(layout_.folder + L"tapinstall_standin_hang", "");
    std::vector<std::string> messages;
    const auto begin = std::chrono::steady_clock::now();
    {
      AnswerWatch watch(owner, c.hanging);
      EXPECT_FALSE(PrepareOpenVpnComponents(components, layout_.root.wstring() + L"\\",
                                            [&](const char* key) { messages.emplace_back(key); }));
      EXPECT_GT(watch.whileHanging.load(), 0) << "the stand-in never hung";
      EXPECT_GT(watch.answered.load(), 0) << "the window did not answer while it hung";
    }
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, std::chrono::milliseconds(kBoundMs));
    EXPECT_LT(took, std::chrono::milliseconds(kBoundMs + 10000));
    EXPECT_EQ(messages, c.messages);
    EXPECT_TRUE(WaitUntil([&] { return !MutexExists(c.hanging); })) << "still running";
  }
  DestroyWindow(owner);
}

TEST_F(OpenVpnWinTest, FullConnectionCountsPacketsAndEndsThroughTheExitEvent) {
  layout_.InstallDriver();
  layout_.Configure("user=alice\npassword=s3cret\nproxy_user=pu\nproxy_password=pp\n");
  vpn_->SetProxy(1, L"127.0.0.1", 8080, L"pu", L"pp");
  ASSERT_EQ(vpn_->Connect(), 0);
  ASSERT_TRUE(WaitUntil([&] { return vpn_->Status().state == GENERAL_VPN_STATE_ALL_DONE; }))
      << layout_.Log();
  EXPECT_EQ(reports_.List(), (std::vector<Report>{{4, 0}, {10, 0}, {8, 0}}));
  EXPECT_EQ(vpn_->GetLocalAddress(), L"10.8.0.6");
  EXPECT_EQ(vpn_->TunnelGateway(), L"10.8.0.5");

  uint32_t sent = 0;
  uint32_t received = 0;
  int32_t detail = 0;
  ASSERT_TRUE(
      WaitUntil([&] { return vpn_->GetStatistics(sent, received, detail) == 0 && sent > 2; }));
  const uint32_t sentBefore = sent;
  ASSERT_TRUE(WaitUntil(
      [&] { return vpn_->GetStatistics(sent, received, detail) == 0 && sent > sentBefore; }));
  EXPECT_GT(received, 0u);

  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(vpn_->Disconnect(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1900));
  // Disconnect returns at once; the worker restores and reports.
  EXPECT_TRUE(
      WaitUntil([&] { return vpn_->Status().state == GENERAL_VPN_STATE_DISCONNECTED; }));
  EXPECT_TRUE(vpn_->WaitForReader(0));
  const std::string log = layout_.Log();
  EXPECT_NE(log.find("proxy-user pu\nproxy-password pp\nuser alice\npassword s3cret\nexit event"),
            std::string::npos)
      << log;
}

TEST_F(OpenVpnWinTest, ChildThatDiesAtItsPromptEndsDisconnected) {
  layout_.Configure("behaviour=die_at_prompt\n");
  ASSERT_EQ(vpn_->Connect(), 0);
  ASSERT_TRUE(WaitUntil([&] {
    return reports_.List() == std::vector<Report>{{1, 0}};
  })) << layout_.Log();
  EXPECT_TRUE(vpn_->WaitForReader(5000));

  fs::remove(layout_.root / "openvpn" / "openvpn.exe");
  EXPECT_EQ(vpn_->Connect(), 0);
  vpn_->Flush();
  EXPECT_EQ(vpn_->Status().error, OPEN_VPN_ERROR_EXEC);
}

}  // namespace

namespace {

// The exit event's access list as the system keeps it: (trustee, mask) per entry.
std::vector<std::pair<std::wstring, ACCESS_MASK>> EventAccess(HANDLE event) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::vector<std::pair<std::wstring, ACCESS_MASK>> entries;
  if (GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return entries;
  }
  UniqueLocal hold(descriptor);
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    wchar_t* sid = nullptr;
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !ConvertSidToStringSidW(&allowed->SidStart, &sid)) {
      entries.emplace_back(L"?", 0);
      continue;
    }
    entries.emplace_back(sid, allowed->Mask);
    LocalFree(sid);
  }
  return entries;
}

}  // namespace

// Someone in the session made an event under the name first (they could signal it, or leave it
// signalled so the child refuses to start): it is passed over. The event we hold is ours alone.
TEST(PrivateExitEventTest, ANameTakenFirstIsPassedOverAndOursOpensOnlyForAdministrators) {
  const std::wstring taken = L"kavrin-taken-" + std::to_wstring(GetCurrentProcessId());
  UniqueHandle squatter(CreateEventW(nullptr, TRUE, TRUE, taken.c_str()));
  ASSERT_TRUE(squatter);
  const std::wstring fresh = PrivateExitEvent::RandomName();
  std::vector<std::wstring> names = {taken, fresh};
  PrivateExitEvent event([&] {
    std::wstring next = names.front();
    names.erase(names.begin());
    return next;
  });
  ASSERT_EQ(event.Create(), fresh);

  UniqueHandle seen(OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE, fresh.c_str()));
  ASSERT_TRUE(seen);
  const std::vector<std::pair<std::wstring, ACCESS_MASK>> expected = {
      {L"S-1-5-32-544", EVENT_ALL_ACCESS}, {L"S-1-5-18", EVENT_ALL_ACCESS}};
  EXPECT_EQ(EventAccess(seen.get()), expected);
  EXPECT_EQ(WaitForSingleObject(seen.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  event.Raise();
  EXPECT_EQ(WaitForSingleObject(seen.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
  event.Clear();
  seen.reset();
  EXPECT_FALSE(UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, fresh.c_str())));

  // Every name it is offered is taken: no event, so no child.
  PrivateExitEvent blocked([&] { return taken; });
  EXPECT_TRUE(blocked.Create().empty());

  // The names nobody can guess: the prefix and 128 random bits, new for every child.
  const std::wstring other = PrivateExitEvent::RandomName();
  EXPECT_NE(other, fresh);
  EXPECT_EQ(other.rfind(kOpenVpnExitEventPrefix, 0), 0u);
  EXPECT_EQ(other.size(), std::wstring(kOpenVpnExitEventPrefix).size() + 32);
}
