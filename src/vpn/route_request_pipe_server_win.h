// The route-request server on its named pipe: one thread multiplexes every connection with
// overlapped I/O and a single wait on at most 63 handles (the stop event and 62 pipe
// instances). One instance always listens while the limit allows; a connection that ends
// leaves its instance as a spare for the next client, and spares idle for more than a second
// are freed. A connection that asks nothing for three seconds is dropped, and so is one that
// keeps sending what the binding module never sends.
//
// The pipe is ours alone: its first instance is made with FILE_FLAG_FIRST_PIPE_INSTANCE in
// Start, so when someone else holds the name first Start fails (the engine reports it) instead
// of serving beside them, and its access list lets everyone (application packages and low
// integrity included) exchange messages but only the administrators and the system create
// instances or change its security.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vpn/general_vpn.h"
#include "vpn/route_request.h"
#include "vpn/vpn_route_request_base_server.h"

class CVpnRouteRequestPipeServer : public CVpnRouteRequestBaseServer {
 public:
  // stopEvent and 62 instances.
  static constexpr DWORD kMaxWaitHandles = 63;
  static constexpr DWORD kBufferSize = 4096;
  static constexpr DWORD kMaxInstances = 255;
  static constexpr DWORD kClientTimeoutMs = 5000;
  static constexpr uint32_t kSpareIdleMs = 1000;
  // A client sends its request right after connecting and the next one soon after the reply
  // (the module holds a connection for one exchange); one that keeps an instance longer only
  // takes it from others.
  static constexpr uint32_t kIdleConnectionMs = 3000;
  // A connection that has sent this many messages the binding module never sends (malformed, or
  // for an address it never steers) is dropped after its reply: one process writing junk every
  // few seconds would otherwise hold an instance for good, and with enough of them every one.
  static constexpr DWORD kMaxImplausibleMessages = 3;
  // How often connections are looked at for idleness while any is open.
  static constexpr DWORD kIdleCheckMs = 500;
  // How soon a listening instance that could not be created is tried again.
  static constexpr DWORD kRetryListenMs = 1000;

  enum InstanceState : DWORD { kConnecting = 0, kReading = 1, kWriting = 2 };

  // Zero-filled when created and when reused.
  struct PipeInstance {
    OVERLAPPED overlapped;
    HANDLE pipe;
    uint8_t request[kBufferSize];
    DWORD bytesRead;
    uint8_t reply;
    DWORD bytesToWrite;
    DWORD state;
    BOOL pendingIo;
    uint32_t creationTick;
    // A message longer than the buffer is read on in pieces; these are the bytes before the
    // current piece.
    DWORD earlierBytes;
    uint32_t spareSinceTick;
    // When the client connected or was last answered.
    uint32_t lastActivityTick;
    DWORD implausibleMessages;
  };

  CVpnRouteRequestPipeServer(RouteTable& routeTable, TickClock& clock,
                             std::wstring pipeName = kRouteRequestPipeName);
  ~CVpnRouteRequestPipeServer() override;

  // Signals the thread and waits until it has closed every instance.
  void Stop() override;
  // False when already running, the stop event or thread could not be made, or the pipe's first
  // instance could not be created (ERROR_ACCESS_DENIED when another process holds the name).
  bool Start(const RouteRow& tunnelRoute) override;

  void LearnTunnelServer() override;

  // Asked by LearnTunnelServer: the tunnel's server address (network byte order, 0 unknown),
  // which never gets a route into the tunnel.
  std::function<uint32_t()> tunnelServerLookup;

  // The server thread alone touches these while it runs. `events[0]` is `stopEvent`; then the
  // `activeCount - 1` active instances; the rest are spares.
  std::map<HANDLE, std::unique_ptr<PipeInstance>> instances;
  std::vector<HANDLE> events;
  DWORD activeCount = 1;
  HANDLE stopEvent = nullptr;

 protected:
  void Run() override;
  // CreateNamedPipeW with the server's buffer sizes, instance limit and time-out.
  virtual HANDLE CreateNamedPipeInstance(const wchar_t* name, DWORD openMode, DWORD pipeMode,
                                         SECURITY_ATTRIBUTES* attributes);

 private:
  enum class Creation { kConnected, kPending, kFailed, kLimit };

  Creation CreateListeningInstance();
  // Creates listening instances until one waits for a client. False when none could be made.
  bool EnsureListener();
  // The first instance of the name carries FILE_FLAG_FIRST_PIPE_INSTANCE: the call fails when
  // the name is someone else's.
  HANDLE CreatePipeInstance(bool first);
  bool AnyPipeOpen() const;
  void DropIdleConnections();
  void OnEvent(DWORD index);
  void StartRead(DWORD index);
  void StartWrite(DWORD index);
  void DisconnectAndReuse(DWORD index);
  void FreeIdleSpares();
  // Closes the instance at `index` for good and takes it out of both tables.
  void RemoveInstance(DWORD index);
  void CloseAllInstances();

  TickClock& clock_;
  // When the idle connections were last looked at (DropIdleConnections).
  bool idleCheckDone_ = false;
  uint32_t lastIdleCheckTick_ = 0;
  std::wstring pipeName_;
  uint32_t tunnelServer_ = 0;
  bool listening_ = false;
  // Made by Start and taken up by the thread as its first listening instance.
  HANDLE firstPipe_ = INVALID_HANDLE_VALUE;
  // Systems before Vista refuse the flag that keeps remote clients out; they get pipes without.
  bool rejectRemote_ = true;
};

// The server an engine embeds: on the program's pipe, and never routing the engine's own server
// (its address as the engine holds it at Connect) into the tunnel.
std::unique_ptr<CVpnRouteRequestBaseServer> MakeEngineRouteServer(RouteTable& routes,
                                                                  TickClock& clock,
                                                                  const CGeneralVpn& engine);

// Gives the file or folder at `path` the low mandatory integrity label (no write-up), so low
// integrity processes can use it. 0 or a system error number; 87 when the label cannot be
// built.
DWORD SetLowIntegrityLabel(const std::wstring& path);
