// OpenVPN tunnels: `openvpn.exe` from the component folder runs as a hidden console child; its
// credential prompts are answered on standard input and its console lines become engine states.
//
// Threads: Connect, Disconnect and GetStatistics run on the owner's thread. The console handler
// (OnOutput) and OnProcessEnded run on the redirector's reader thread; they only hand the
// output or the end over to the engine's worker and return, so the child's console is drained
// however long route work takes. The child is started, answered, asked to leave and waited for
// on the worker.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vpn/console_child.h"
#include "vpn/console_redirector.h"
#include "vpn/general_vpn.h"

enum OpenVpnError : int32_t {
  OPEN_VPN_ERROR_EXEC = 9,         // the child could not be started
  OPEN_VPN_ERROR_NO_ADAPTER = 10,  // the child found no TAP adapter
  OPEN_VPN_ERROR_TLS_ERROR = 11,   // has a text; nothing raises it
  // A server address, proxy host or credential the child cannot be given safely: a line end
  // would answer prompts nobody asked, a blank, a quote or a leading "-" would add command-line
  // options.
  OPEN_VPN_ERROR_INVALID_SETTING = 12,
  // The server refused the user name or password ("AUTH_FAILED"), as RAS 691 says for dial-up.
  OPEN_VPN_ERROR_AUTH_FAILED = 13,
  // The child ended while the tunnel was meant to be up.
  OPEN_VPN_ERROR_CHILD_ENDED = 14,
};

// The lines of `chunk` worth a place in the connection log (the connection's steps, its
// failures, the child's restarts and end), completing the line `partial` holds from earlier
// chunks; an unfinished line stays in `partial`. Lines that may carry a secret (the options the
// server pushes, tokens, prompts) are never among them.
std::vector<std::string> SignificantConsoleLines(std::string& partial, std::string_view chunk);

// The named event the child watches ("--service"); signalling it makes the child exit. Each
// run's event is this prefix followed by random digits: a fixed name could be opened or taken
// first by anyone in the session, who could then end the tunnel or keep it from starting.
inline constexpr wchar_t kOpenVpnExitEventPrefix[] = L"KAVRIN_OPENVPN_EXIT_";

// The exit event as the connector reaches it.
class ExitSignal {
 public:
  virtual ~ExitSignal() = default;
  // Makes a fresh event for the next child (not signalled) that only administrators and the
  // system may open, holds it, and returns its name; empty when none could be made.
  virtual std::wstring Create() = 0;
  // Signals the event Create made.
  virtual void Raise() = 0;
  // Closes it, so a signal nobody consumed cannot end the next child.
  virtual void Clear() = 0;
};

class COpenVpn : public CGeneralVpn, public CConsoleRedirector {
 public:
  // How long the cleanup lets the child take to leave on its own (removing the routes it
  // added) before it is ended.
  static constexpr uint32_t kExitWaitMs = 10000;
  // Output not yet taken by the worker beyond this is dropped from the oldest end, as the
  // output buffer itself does.
  static constexpr size_t kMaxPendingOutput = 256 * 1024;

  // The child and the exit signal belong to this engine; the route table and clock must
  // outlive it.
  COpenVpn(std::unique_ptr<ConsoleChild> child, std::unique_ptr<ExitSignal> exitSignal,
           RouteTable& routeTable, TickClock& clock,
           std::unique_ptr<CVpnRouteRequestBaseServer> routeServer = nullptr);
  // Lets a cleanup already queued (Disconnect) run first, which gives the child its time to
  // leave and take back its routes; then ends a child still running. Does not restore routes
  // itself (the owner disconnects first).
  ~COpenVpn() override;

  // Network packet marks ("W" sent, "R" received) the child printed since the connection was
  // complete; OPEN_VPN_ERROR_CHILD_ENDED once the child has ended on its own.
  int32_t GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) override;
  // The child gives no detail numbers.
  std::wstring GetErrorDetailText(int32_t detail) override;
  std::wstring GetErrorText(int32_t code) override;
  // Advice for the refused password, the missing adapter, a child that would not start, and a
  // failure after the child reported a TLS error.
  std::wstring ErrorAdvice(int32_t code, int32_t detail) override;

  // The child's command line for the current settings and the exit event made last.
  std::wstring BuildCommandLine() const;

  // The console handler: one chunk of the child's output, copied and queued. Public so
  // recorded output can be replayed without a child.
  void OnOutput(const char* data, size_t length) override;
  void OnProcessEnded() override;

  // As learned from the child's output so far; read it after Flush.
  std::wstring TunnelGateway() const { return tunnelGateway_; }

  // Written by the reader thread, read by the owner's.
  std::atomic<uint32_t> sentCount = 0;
  std::atomic<uint32_t> receivedCount = 0;

 protected:
  // Starts the child in the component folder (OpenVpnFolder()). A host without a default
  // route still connects. OPEN_VPN_ERROR_EXEC (also when no exit event could be made) or
  // OPEN_VPN_ERROR_INVALID_SETTING on failure.
  int32_t StartTunnel() override;
  // Asks the child to exit through the exit event, gives it kExitWaitMs, ends it if it is
  // still there.
  void StopTunnel() override;
  // Removes what the child added to the table (its --redirect-gateway and pushed routes) and
  // did not take back itself.
  void AfterRestore() override;

 private:
  // The output queued since the worker last took it.
  void TakePendingOutput();
  // False when a value would reach the child's command line or standard input unsafely.
  bool SettingsAreSafe() const;
  // OnOutput's body, inside the strand.
  void HandleOutput(const char* data, size_t length);
  // Reads the status lines of the whole output; false when the handler must stop for this
  // chunk.
  bool ReadStatusLines();
  void CountPacketMarks();

  const std::unique_ptr<ExitSignal> exitSignal_;
  // The worker's: the console line not finished yet, for the log.
  std::string noteLine_;
  // The child reported a TLS failure during this run.
  std::atomic<bool> tlsFailed_ = false;
  std::atomic<bool> childEnded_ = false;
  // The event of the child started last.
  std::wstring exitEventName_;
  std::mutex pendingMutex_;
  std::string pendingOutput_;
};
