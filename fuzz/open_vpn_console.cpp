// Arbitrary child output, cut into arbitrary chunks, through the OpenVPN console handler: only
// the configured answers may ever reach the child, each once per line end, the output buffer
// stays within its limit, only the reports the console lines can cause go out, and the lines
// noted for the log are single, bounded lines that never hold an answer given to a prompt.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "fakes/fake_route_table.h"
#include "vpn/open_vpn.h"
#include "vpn/open_vpn_components.h"

namespace {

class CapturingChild : public ConsoleChild {
 public:
  bool Start(const std::wstring&, ConsoleChildEvents&) override { return true; }
  void Stop() override {}
  bool WriteInput(std::string_view bytes) override {
    if (bytes != "alice\n" && bytes != "s3cret\n" && bytes != "pu\n" && bytes != "pp\n") {
      std::abort();
    }
    return true;
  }
  bool WaitForReader(uint32_t) override { return true; }
};

class NoSignal : public ExitSignal {
 public:
  std::wstring Create() override { return L"exit"; }
  void Raise() override {}
  void Clear() override {}
};

class CheckingCallback : public CGeneralVpnCallbackInterface {
 public:
  void OnVpnStateChanged(CGeneralVpn*, const VpnStatus& status) override {
    const uint32_t s = status.state;
    const int32_t e = status.error;
    if (status.localAddress.find(L'/') != std::wstring::npos) std::abort();
    const bool known = (s == 4 && (e == 0 || e == 2 || e == 10)) || (s == 7 && e == 5) || s == 10 ||
                       (s == 8 && e == 0) || (s == 1 && e == 0) ||
                       (s == 5 && e == OPEN_VPN_ERROR_AUTH_FAILED);
    if (!known) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // A LAN host whose table takes every change and keeps none of them.
  static FakeRouteTable table;
  if (!table.countOnly) {
    table.SetLanHost();
    table.countOnly = true;
  }
  static SteadyTickClock clock;
  static CheckingCallback callback;
  SetOpenVpnFolder(L"C:\\K\\openvpn\\");

  COpenVpn vpn(std::make_unique<CapturingChild>(), std::make_unique<NoSignal>(), table, clock);
  vpn.callback = &callback;
  vpn.routeMode = data[0] % 4;
  vpn.serverAddress = L"vpn.example.com";
  vpn.userName = L"alice";
  vpn.password = L"s3cret";
  vpn.SetProxy(1 + data[0] % 2, L"proxy", 8080, L"pu", L"pp");
  vpn.note = [](const std::wstring& line) {
    if (line.size() > 500 || line.find_first_of(L"\r\n") != std::wstring::npos) std::abort();
    if (line.find(L"Enter ") != std::wstring::npos) std::abort();
  };
  vpn.Connect();
  vpn.Flush();
  if (vpn.Status().error != 0) std::abort();

  // The first byte also seeds the cut points; the rest is the output.
  std::string_view output(reinterpret_cast<const char*>(data) + 1, size - 1);
  uint32_t cut = data[0];
  while (!output.empty()) {
    cut = cut * 1103515245u + 12345u;
    const size_t length = std::min<size_t>(output.size(), 1 + (cut >> 16) % 64);
    vpn.OnOutput(output.data(), length);
    vpn.Flush();
    output.remove_prefix(length);
    if (vpn.GetOutput().size() > ConsoleOutputBuffer::kDefaultLimit) std::abort();
  }
  vpn.OnProcessEnded();
  vpn.Flush();
  return 0;
}
