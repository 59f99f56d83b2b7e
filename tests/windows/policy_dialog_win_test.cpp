#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "app/blocked_operation_runner_win.h"
#include "base/socket.h"
#include "base/text.h"
#include "config/data_protection_win.h"
#include "config/settings_store.h"
#include "config/text_table.h"
#include "framework/dpi_win.h"
#include "framework/user_registry_profile_win.h"
#include "policy/bind_module_win.h"
#include "policy/dlg_vpn_policy_win.h"
#include "policy/icmp_echo_probe_win.h"
#include "policy/speed_cell.h"

namespace {

// Writes a login response into the temporary folder; returns its path.
std::wstring WriteResponse(const wchar_t* name, const char* body) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + name;
  std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << body;
  return path;
}

// No RasMan parameters key: the L2TP preparation has nothing to do and asks nothing.
class NoMachineRegistry : public RegistryKeyFactory {
 public:
  class MissingKey : public RegistryKey {
   public:
    explicit MissingKey(int& opened) : opened_(opened) {}
    int32_t Open(const std::wstring&) override {
      ++opened_;
      return registry::kErrorFileNotFound;
    }
    void Close() override {}
    int32_t QueryValue(const std::wstring&, uint32_t&, std::vector<uint8_t>&) override {
      return registry::kErrorFileNotFound;
    }
    int32_t SetValue(const std::wstring&, uint32_t, const std::vector<uint8_t>&) override {
      return registry::kErrorFileNotFound;
    }
    int32_t EnumSubKey(uint32_t, std::wstring&) override { return registry::kErrorNoMoreItems; }

   private:
    int& opened_;
  };
  std::unique_ptr<RegistryKey> NewKey() override { return std::make_unique<MissingKey>(opened); }
  int opened = 0;
};

// The dialog's ports as the tests give them: Windows XP's version, the system's echo probe.
CDlgVpnPolicy::Ports TestPorts(SettingsStore& settings, BindModule& bindModule,
                               RegistryKeyFactory& machine, BlockedOperationRunner& restarter,
                               SpeedTest::Options speedTest) {
  return {.profile = SystemPrivateProfile(),
          .settings = settings,
          .bindModule = bindModule,
          .registry = machine,
          .restarter = restarter,
          .osMajorVersion = 5,
          .echoProbe = &IcmpEchoProbe::Create,
          .speedTest = speedTest};
}

// Answers 48-byte requests on 127.0.0.1 through Winsock.
class LoopbackTimeService {
 public:
  LoopbackTimeService() {
    SocketLibraryStartup();
    socket_ = OpenUdpSocket();
    ok_ = BindIpv4(socket_, ParseIpv4OrNone("127.0.0.1"), 0, &port_);
    if (ok_) thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackTimeService() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    CloseSocket(socket_);
    SocketLibraryCleanup();
  }
  bool ok() const { return ok_; }
  uint16_t port() const { return port_; }

 private:
  void Serve() {
    char buffer[256];
    while (!stop_) {
      if (WaitReadableFor(socket_, 50) <= 0) continue;
      uint32_t from = 0;
      uint16_t port = 0;
      if (ReceiveFromIpv4(socket_, buffer, sizeof buffer, &from, &port) != 48) continue;
      char answer[48] = {0x1C};
      SendToIpv4(socket_, answer, sizeof answer, from, port);
    }
  }
  SocketHandle socket_ = kNoSocket;
  uint16_t port_ = 0;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

CDlgVpnPolicy* g_dialog = nullptr;
DWORD g_started = 0;
std::wstring g_speed_cell;

bool Final(int32_t value) { return value >= 0 || value == kSpeedNoAnswer; }

// Waits for both servers' measurements, notes the speed cell of server 101, then presses OK
// (or gives up with Cancel).
void CALLBACK WatchSpeedTest(HWND, UINT, UINT_PTR timer, DWORD) {
  const auto& servers = g_dialog->controller()->servers();
  bool done = true;
  for (const auto& [id, server] : servers) {
    done = done && Final(server.echoSpeed) && Final(server.ntpSpeed);
  }
  const bool late = GetTickCount() - g_started > 15000;
  if (!done && !late) return;
  ::KillTimer(nullptr, timer);
  HWND list = GetDlgItem(GetDlgItem(g_dialog->hwnd(), CDlgVpnPolicy::kRegionTabsId),
                         CDlgVpnPolicy::kServerListId);
  wchar_t text[64] = {};
  LVITEMW get = {};
  get.iSubItem = 2;
  get.pszText = text;
  get.cchTextMax = 63;
  SendMessageW(list, LVM_GETITEMTEXTW, servers.at(101).listRow, reinterpret_cast<LPARAM>(&get));
  g_speed_cell = text;
  PostMessageW(g_dialog->hwnd(), WM_COMMAND, late ? IDCANCEL : IDOK, 0);
}

}  // namespace

TEST(PolicyDialogWin, MeasuresLoopbackServersAndOkReturnsTheThreeResults) {
  BuildTextTable();
  LoopbackTimeService timeService;
  ASSERT_TRUE(timeService.ok());

  const std::wstring response = WriteResponse(
      L"kv_policy_dialog_test.ini",
      "[VPN]\r\nAuthResult=OK\r\nMagicTag=VpnServerResponse\r\n[Routes]\r\n"
      "Title0=Overseas\r\nComment0=foreign sites\r\n[Servers]\r\n"
      "ServerId0=101\r\nTitle0=Tokyo\r\nServerHost0=127.0.0.1\r\nProtocols0=pptp,l2tp\r\n"
      "Categories0=china\r\nLoad0=0.35\r\n"
      "ServerId1=102\r\nTitle1=Nowhere\r\nServerHost1=no-such-host.invalid\r\n"
      "Protocols1=pptp\r\nCategories1=China\r\n");
  CUserRegistryProfile registry(L"Kavrin", L"KavrinPolicyDialogTest");
  DpapiDataProtection protection;
  SettingsStore settings(registry, protection);
  settings.SetLastVpnRouteIndex(0);
  settings.SetLastVpnServerId(101);
  settings.SetLastVpnTabGroupIndex(0);
  settings.SetVpnType(2);
  SystemBindModule bindModule;
  NoMachineRegistry machine;
  DialogBlockedOperationRunner restarter;
  SpeedTest::Options options;
  options.ntpPort = timeService.port();
  options.idleSleepMs = 20;

  {
    CDlgVpnPolicy dialog(ReadServiceAnswer(SystemPrivateProfile(), response, L""),
                         TestPorts(settings, bindModule, machine, restarter, options));
    g_dialog = &dialog;
    g_started = GetTickCount();
    ::SetTimer(nullptr, 0, 50, WatchSpeedTest);
    ASSERT_EQ(dialog.DoModal(nullptr), IDOK) << "the measurements did not finish in time";

    const PolicyChoice& choice = dialog.choice();
    EXPECT_EQ(choice.routes, RouteSetChoice::ServiceSet(0));
    EXPECT_EQ(choice.server.serverId, 101);
    EXPECT_EQ(choice.tunnelType, 2);
    EXPECT_EQ(machine.opened, 1) << "L2TP was prepared";

    const auto& servers = dialog.controller()->servers();
    EXPECT_GE(servers.at(101).ntpSpeed, 0);
    EXPECT_LT(servers.at(101).ntpSpeed, 1000);
    EXPECT_EQ(servers.at(102).echoSpeed, kSpeedNoAnswer);
    EXPECT_EQ(servers.at(102).ntpSpeed, kSpeedNoAnswer);
    EXPECT_TRUE(!g_speed_cell.empty() && g_speed_cell[0] >= L'0' && g_speed_cell[0] <= L'9')
        << WideToUtf8(g_speed_cell);
  }
  EXPECT_EQ(settings.GetLastVpnServerId(), 101);
  EXPECT_EQ(settings.GetVpnType(), 2);
  DeleteFileW(response.c_str());
}

namespace {

std::vector<int> g_focus_path;
RECT g_dialog_rect = {};

// Notes where the dialog stands, then presses Tab once per tick and notes where the focus went.
void CALLBACK WalkTabOrder(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = g_dialog->hwnd();
  if (g_focus_path.empty()) GetWindowRect(dialog, &g_dialog_rect);
  g_focus_path.push_back(GetDlgCtrlID(GetFocus()));
  if (g_focus_path.size() > 8) {
    ::KillTimer(nullptr, timer);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
}

}  // namespace

TEST(PolicyDialogWin, CentresOnItsOwnerInsideTheWorkAreaAndTabReachesEveryControl) {
  BuildTextTable();
  const std::wstring response = WriteResponse(
      L"kv_policy_dialog_keys.ini",
      "[VPN]\r\nAuthResult=OK\r\nMagicTag=VpnServerResponse\r\n[Servers]\r\n"
      "ServerId0=101\r\nTitle0=Tokyo\r\nServerHost0=127.0.0.1\r\nProtocols0=pptp,l2tp\r\n"
      "Categories0=china\r\n");
  CUserRegistryProfile registry(L"Kavrin", L"KavrinPolicyDialogKeysTest");
  DpapiDataProtection protection;
  SettingsStore settings(registry, protection);
  settings.SetLastVpnServerId(101);
  SystemBindModule bindModule;
  NoMachineRegistry machine;
  DialogBlockedOperationRunner restarter;

  // An owner standing at the right edge of its monitor's work area.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, work.right - 200,
                               work.top + 40, 327, 464, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  {
    CDlgVpnPolicy dialog(ReadServiceAnswer(SystemPrivateProfile(), response, L""),
                         TestPorts(settings, bindModule, machine, restarter, {}));
    g_dialog = &dialog;
    g_focus_path.clear();
    ::SetTimer(nullptr, 0, 50, WalkTabOrder);
    EXPECT_EQ(dialog.DoModal(owner), IDCANCEL);
  }
  DestroyWindow(owner);
  DeleteFileW(response.c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Kavrin\\KavrinPolicyDialogKeysTest");

  EXPECT_EQ(g_dialog_rect.right, work.right) << "kept whole inside the work area";
  EXPECT_EQ(g_dialog_rect.right - g_dialog_rect.left,
            LayoutPolicyDialog(WindowDpi(owner), false, false).window.width);
  EXPECT_EQ((g_dialog_rect.top + g_dialog_rect.bottom) / 2, work.top + 40 + 464 / 2)
      << "centred on the owner";
  // Route list, both type buttons, server list, retest, OK, Cancel, and round again; the
  // hidden application list is passed over.
  EXPECT_EQ(g_focus_path,
            (std::vector<int>{CDlgVpnPolicy::kRouteListId, CDlgVpnPolicy::kPptpId,
                              CDlgVpnPolicy::kL2tpId, CDlgVpnPolicy::kServerListId,
                              CDlgVpnPolicy::kRetestId, IDOK, IDCANCEL,
                              CDlgVpnPolicy::kRouteListId, CDlgVpnPolicy::kPptpId}));
}

TEST(PolicyDialogWin, IcmpEchoReachesLoopbackWithItsBody) {
  std::unique_ptr<EchoProbe> probe = IcmpEchoProbe::Create();
  ASSERT_NE(probe, nullptr);
  uint32_t roundTrip = 0;
  SocketLibraryStartup();
  EXPECT_TRUE(EchoOnce(probe.get(), L"127.0.0.1", &roundTrip));
  EXPECT_LT(roundTrip, 1000u);
  SocketLibraryCleanup();
}
