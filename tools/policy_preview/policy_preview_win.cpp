// Opens the policy dialog over a response file, for screenshots and checks by eye under Wine.
//   policy_preview.exe [--ok-after MS] [--ntp-port PORT] [response.ini]
// Without a file it writes one with the service simulator's demo servers (127.0.0.1 to .3) next
// to itself. A small time service answers on PORT (12300) of those addresses, so the speed test
// has something to measure. --ok-after selects the first server row and presses OK after MS.
// Prints the dialog's results and every server's measurements.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/blocked_operation_runner_win.h"
#include "base/socket.h"
#include "base/text.h"
#include "config/data_protection_win.h"
#include "config/machine_registry_win.h"
#include "config/route_set_code.h"
#include "config/settings_store.h"
#include "config/text_table.h"
#include "framework/user_registry_profile_win.h"
#include "policy/bind_module_win.h"
#include "policy/dlg_vpn_policy_win.h"
#include "policy/icmp_echo_probe_win.h"
#include "service/server_response.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_startup_win.h"

namespace {

constexpr char kDemoResponse[] =
    "[VPN]\r\nAuthResult=OK\r\nMagicTag=VpnServerResponse\r\n"
    "[Routes]\r\n"
    "Title0=海外网站加速\r\nComment0=只有海外地址走 VPN\r\nRouteId0=overseas\r\n"
    "Title1=全局加速\r\nComment1=所有流量走 VPN\r\nRouteId1=global\r\n"
    "[Servers]\r\n"
    "ServerId0=101\r\nTitle0=东京 1\r\nComment0=日本\r\nLoad0=0.35\r\nServerHost0=127.0.0.1\r\n"
    "Protocols0=pptp,l2tp,openvpn\r\nPPTPUseMPPE0=1\r\nCategories0=asia\r\n"
    "ServerId1=102\r\nTitle1=香港 2\r\nComment1=中国香港\r\nLoad1=0.8\r\nServerHost1=127.0.0.2\r\n"
    "Protocols1=pptp\r\nPPTPUseMPPE1=0\r\nCategories1=china,asia\r\n"
    "ServerId2=201\r\nTitle2=洛杉矶\r\nComment2=美国西部\r\nLoad2=0.12\r\nServerHost2=127.0.0.3\r\n"
    "Protocols2=l2tp,openvpn\r\nPPTPUseMPPE2=1\r\nCategories2=usa\r\n"
    "ServerId3=103\r\nTitle3=上海 3\r\nComment3=电信 / 联通\r\nLoad3=0.57\r\n"
    "ServerHost3=no-such-host.invalid\r\nProtocols3=pptp,l2tp\r\nCategories3=China\r\n";

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

// Answers every 48-byte request on each address, from that address.
class DemoTimeService {
 public:
  explicit DemoTimeService(uint16_t port) {
    SocketLibraryStartup();
    for (const char* address : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
      SocketHandle socket = OpenUdpSocket();
      if (socket != kNoSocket && BindIpv4(socket, ParseIpv4OrNone(address), port, nullptr)) {
        sockets_.push_back(socket);
      } else {
        CloseSocket(socket);
      }
    }
    for (SocketHandle socket : sockets_) threads_.emplace_back([this, socket] { Serve(socket); });
  }
  ~DemoTimeService() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
    for (SocketHandle socket : sockets_) CloseSocket(socket);
    SocketLibraryCleanup();
  }

 private:
  void Serve(SocketHandle socket) {
    char buffer[512];
    while (!stop_) {
      if (WaitReadableFor(socket, 100) <= 0) continue;
      uint32_t from = 0;
      uint16_t port = 0;
      if (ReceiveFromIpv4(socket, buffer, sizeof buffer, &from, &port) != 48) continue;
      char answer[48] = {0x1C};
      SendToIpv4(socket, answer, sizeof answer, from, port);
    }
  }
  std::vector<SocketHandle> sockets_;
  std::vector<std::thread> threads_;
  std::atomic<bool> stop_{false};
};

HWND g_dialog = nullptr;

void CALLBACK PressOk(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  HWND dialog = g_dialog;
  HWND tabs = GetDlgItem(dialog, CDlgVpnPolicy::kRegionTabsId);
  HWND list = GetDlgItem(tabs, CDlgVpnPolicy::kServerListId);
  LVITEMW state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

class CPreviewDialog : public CDlgVpnPolicy {
 public:
  using CDlgVpnPolicy::CDlgVpnPolicy;
  UINT okAfter = 0;

 protected:
  bool OnInitDialog() override {
    const bool result = CDlgVpnPolicy::OnInitDialog();
    g_dialog = hwnd();
    if (okAfter) ::SetTimer(nullptr, 0, okAfter, PressOk);
    return result;
  }
};

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  UINT okAfter = 0;
  uint16_t ntpPort = 12300;
  std::wstring response;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--ok-after" && i + 1 < argc) {
      okAfter = static_cast<UINT>(_wtoi(argv[++i]));
    } else if (arg == L"--ntp-port" && i + 1 < argc) {
      ntpPort = static_cast<uint16_t>(_wtoi(argv[++i]));
    } else {
      response = arg;
    }
  }
  if (response.empty()) {
    response = ProgramFolder() + L"\\policy_preview_response.ini";
    std::ofstream out(response.c_str(), std::ios::binary | std::ios::trunc);
    out << kDemoResponse;
  }

  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  BuildTextTable();
  RegisterStartupSkinFromFolder(CSkinRegistry::Instance(), ProgramFolder() + L"\\..\\..\\res\\art");

  DemoTimeService timeService(ntpPort);
  CUserRegistryProfile registry(L"Kavrin", L"KavrinPolicyPreview");
  DpapiDataProtection protection;
  SettingsStore settings(registry, protection);
  SystemBindModule bindModule;
  LocalMachineRegistry machine;
  DialogBlockedOperationRunner restarter;
  SpeedTest::Options speedOptions;
  speedOptions.ntpPort = ntpPort;

  CPreviewDialog dialog(
      ReadServiceAnswer(SystemPrivateProfile(), response, L""),
      CDlgVpnPolicy::Ports{.profile = SystemPrivateProfile(),
                           .settings = settings,
                           .bindModule = bindModule,
                           .registry = machine,
                           .restarter = restarter,
                           .osMajorVersion = OperatingSystemMajorVersion(),
                           .echoProbe = &IcmpEchoProbe::Create,
                           .speedTest = speedOptions});
  dialog.okAfter = okAfter;
  const INT_PTR code = dialog.DoModal(nullptr);
  std::printf("dialog=%s\n", code == IDOK ? "ok" : (code == IDCANCEL ? "cancel" : "failed"));
  if (code == IDOK) {
    const PolicyChoice& choice = dialog.choice();
    std::printf("route_set=%d server=%d host=%s tunnel=%d\n", RouteSetCode(choice.routes),
                choice.server.serverId, WideToUtf8(choice.server.serverHost).c_str(),
                choice.tunnelType);
  }
  for (const auto& [id, server] : dialog.controller()->servers()) {
    std::printf("server %d echo=%d ntp=%d row=%d\n", id, server.echoSpeed, server.ntpSpeed,
                server.listRow);
  }
  std::fflush(stdout);
  return code == IDOK ? 0 : 1;
}
