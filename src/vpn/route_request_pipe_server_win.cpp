#include "vpn/route_request_pipe_server_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "base/unique_handle_win.h"

namespace {

// The bound applications run at every integrity level, sandboxed ones included: everyone and
// all application packages may exchange messages (0x12019B: generic read and write without
// FILE_CREATE_PIPE_INSTANCE), low integrity through the label; instances, the access list and
// the owner are the administrators' and the system's. "AC" is unknown before Windows 8; the
// list without it is the same for every other client.
constexpr const wchar_t* kPipeSecurity[] = {
    L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;WD)(A;;0x12019b;;;AC)S:(ML;;NW;;;LW)",
    L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;WD)S:(ML;;NW;;;LW)",
};
constexpr wchar_t kLowIntegrityLabel[] = L"S:(ML;;NW;;;LW)";

DWORD SaturatingAdd(DWORD a, DWORD b) {
  const DWORD most = std::numeric_limits<DWORD>::max();
  return a > most - b ? most : a + b;
}

void ClosePipe(CVpnRouteRequestPipeServer::PipeInstance& instance) {
  if (instance.pipe == nullptr || instance.pipe == INVALID_HANDLE_VALUE) return;
  if (instance.pendingIo) {
    // The system writes into the overlapped block until the cancelled I/O completes; the record
    // must outlive that. Every I/O was issued on this thread, so CancelIo reaches it.
    CancelIo(instance.pipe);
    DWORD ignored = 0;
    GetOverlappedResult(instance.pipe, &instance.overlapped, &ignored, TRUE);
    instance.pendingIo = FALSE;
  }
  DisconnectNamedPipe(instance.pipe);
  CloseHandle(instance.pipe);
  instance.pipe = INVALID_HANDLE_VALUE;
}

}  // namespace

CVpnRouteRequestPipeServer::CVpnRouteRequestPipeServer(RouteTable& routeTable, TickClock& clock,
                                                       std::wstring pipeName)
    : CVpnRouteRequestBaseServer(routeTable, clock),
      clock_(clock),
      pipeName_(std::move(pipeName)) {
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  events.push_back(stopEvent);
}

CVpnRouteRequestPipeServer::~CVpnRouteRequestPipeServer() {
  Stop();
  CloseAllInstances();
  if (firstPipe_ != INVALID_HANDLE_VALUE) CloseHandle(firstPipe_);
  if (stopEvent) CloseHandle(stopEvent);
}

void CVpnRouteRequestPipeServer::Stop() {
  if (IsRunning() && stopEvent) SetEvent(stopEvent);
  CVpnRouteRequestBaseServer::Stop();
}

bool CVpnRouteRequestPipeServer::Start(const RouteRow& tunnelRoute) {
  if (IsRunning() || stopEvent == nullptr) return false;
  ResetEvent(stopEvent);
  activeCount = 1;
  listening_ = false;
  idleCheckDone_ = false;
  // Made here rather than on the thread so a name someone else holds fails Start itself.
  firstPipe_ = CreatePipeInstance(true);
  if (firstPipe_ == INVALID_HANDLE_VALUE) return false;
  if (CVpnRouteRequestBaseServer::Start(tunnelRoute)) return true;
  const DWORD error = GetLastError();
  CloseHandle(firstPipe_);
  firstPipe_ = INVALID_HANDLE_VALUE;
  SetLastError(error);
  return false;
}

// Written only while the thread is not running; starting the thread publishes it.
void CVpnRouteRequestPipeServer::LearnTunnelServer() {
  if (IsRunning()) return;
  tunnelServer_ = tunnelServerLookup ? tunnelServerLookup() : 0;
}

void CVpnRouteRequestPipeServer::Run() {
  for (;;) {
    // Before the wait: dropping a connection reorders the table the wait's answer points into.
    DropIdleConnections();
    bool retry = false;
    if (!listening_) retry = !EnsureListener() && activeCount < kMaxWaitHandles;
    // Besides the stop event, a listening instance is always among the active ones; more than
    // those two means a client is connected.
    const bool clients = activeCount > (listening_ ? 2u : 1u);
    DWORD timeout = retry ? kRetryListenMs : INFINITE;
    if (clients) timeout = std::min(timeout, kIdleCheckMs);
    const DWORD result = WaitForMultipleObjects(activeCount, events.data(), FALSE, timeout);
    if (result == WAIT_TIMEOUT) continue;
    if (result >= WAIT_OBJECT_0 + activeCount) break;  // a failed wait or an abandoned handle
    const DWORD index = result - WAIT_OBJECT_0;
    if (index == 0) break;
    OnEvent(index);
  }
  CloseAllInstances();
}

void CVpnRouteRequestPipeServer::DropIdleConnections() {
  const uint32_t now = clock_.Ticks();
  // Looking at every instance costs a call into the system per client; under load that is
  // once per request, so the look is taken at most every kIdleCheckMs.
  if (idleCheckDone_ && uint32_t(now - lastIdleCheckTick_) < kIdleCheckMs) return;
  idleCheckDone_ = true;
  lastIdleCheckTick_ = now;
  // From the end: dropping one moves the last active instance into its place.
  for (DWORD index = activeCount; index-- > 1;) {
    const PipeInstance& instance = *instances.at(events[index]);
    if (instance.state == kConnecting) continue;
    // A request that came in while the thread waited for a grant (which may take seconds) is
    // waiting to be taken on, not idle.
    if (WaitForSingleObject(events[index], 0) == WAIT_OBJECT_0) continue;
    if (uint32_t(now - instance.lastActivityTick) > kIdleConnectionMs) DisconnectAndReuse(index);
  }
}

bool CVpnRouteRequestPipeServer::EnsureListener() {
  for (;;) {
    switch (CreateListeningInstance()) {
      case Creation::kPending:
        listening_ = true;
        return true;
      case Creation::kConnected:
        continue;  // that client is served; the next one still needs an instance
      case Creation::kFailed:
      case Creation::kLimit:
        return false;
    }
  }
}

CVpnRouteRequestPipeServer::Creation CVpnRouteRequestPipeServer::CreateListeningInstance() {
  if (activeCount >= kMaxWaitHandles) return Creation::kLimit;
  HANDLE event = nullptr;
  PipeInstance* instance = nullptr;
  if (events.size() > activeCount) {
    event = events[activeCount];
    instance = instances.at(event).get();
    std::memset(instance, 0, sizeof(*instance));
  } else {
    event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (event == nullptr) return Creation::kFailed;
    auto record = std::make_unique<PipeInstance>();
    std::memset(record.get(), 0, sizeof(PipeInstance));
    instance = record.get();
    instances.emplace(event, std::move(record));
    events.push_back(event);
  }
  const DWORD index = activeCount++;
  instance->creationTick = clock_.Ticks();
  instance->overlapped.hEvent = event;

  if (firstPipe_ != INVALID_HANDLE_VALUE) {
    instance->pipe = firstPipe_;
    firstPipe_ = INVALID_HANDLE_VALUE;
  } else {
    // With none of our instances left the name could have been taken in between.
    instance->pipe = CreatePipeInstance(!AnyPipeOpen());
  }
  if (instance->pipe == INVALID_HANDLE_VALUE) {
    RemoveInstance(index);
    return Creation::kFailed;
  }
  BOOL connected = ConnectNamedPipe(instance->pipe, &instance->overlapped);
  DWORD error = connected ? ERROR_PIPE_CONNECTED : GetLastError();
  if (error == ERROR_NO_DATA && DisconnectNamedPipe(instance->pipe)) {
    // A client came and went before the instance listened (the first one is made in Start):
    // the same instance listens again rather than leave the name without one.
    connected = ConnectNamedPipe(instance->pipe, &instance->overlapped);
    error = connected ? ERROR_PIPE_CONNECTED : GetLastError();
  }
  if (error == ERROR_PIPE_CONNECTED) {
    // The client came between creation and connect: its request is read in the next pass.
    SetEvent(event);
    instance->state = kReading;
    instance->lastActivityTick = clock_.Ticks();
    return Creation::kConnected;
  }
  if (error == ERROR_IO_PENDING) {
    instance->pendingIo = TRUE;
    instance->state = kConnecting;
    return Creation::kPending;
  }
  RemoveInstance(index);
  return Creation::kFailed;
}

HANDLE CVpnRouteRequestPipeServer::CreatePipeInstance(bool first) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  for (const wchar_t* text : kPipeSecurity) {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &converted,
                                                             nullptr)) {
      break;
    }
    converted = nullptr;
  }
  // Without its access list the pipe would be anyone's to change: better none at all.
  if (converted == nullptr) return INVALID_HANDLE_VALUE;
  UniqueLocal descriptor(converted);
  // Not inheritable: a child the program starts has no business with the server's pipe ends.
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), converted, FALSE};

  const DWORD openMode =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  const DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
  if (rejectRemote_) {
    const HANDLE pipe = CreateNamedPipeInstance(pipeName_.c_str(), openMode,
                                                pipeMode | PIPE_REJECT_REMOTE_CLIENTS, &attributes);
    if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) return pipe;
    rejectRemote_ = false;
  }
  return CreateNamedPipeInstance(pipeName_.c_str(), openMode, pipeMode, &attributes);
}

HANDLE CVpnRouteRequestPipeServer::CreateNamedPipeInstance(const wchar_t* name, DWORD openMode,
                                                           DWORD pipeMode,
                                                           SECURITY_ATTRIBUTES* attributes) {
  return CreateNamedPipeW(name, openMode, pipeMode, kMaxInstances, kBufferSize, kBufferSize,
                          kClientTimeoutMs, attributes);
}

bool CVpnRouteRequestPipeServer::AnyPipeOpen() const {
  for (const auto& [event, instance] : instances) {
    if (instance->pipe != nullptr && instance->pipe != INVALID_HANDLE_VALUE) return true;
  }
  return false;
}

void CVpnRouteRequestPipeServer::OnEvent(DWORD index) {
  PipeInstance& instance = *instances.at(events[index]);
  if (instance.pendingIo) {
    DWORD transferred = 0;
    const BOOL ok =
        GetOverlappedResult(instance.pipe, &instance.overlapped, &transferred, FALSE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (!ok && error == ERROR_IO_INCOMPLETE) {
      // Woken while the I/O still runs: wait for its completion, which sets the event again.
      ResetEvent(instance.overlapped.hEvent);
      if (HasOverlappedIoCompleted(&instance.overlapped)) SetEvent(instance.overlapped.hEvent);
      return;
    }
    instance.pendingIo = FALSE;
    switch (instance.state) {
      case kConnecting:
        listening_ = false;
        if (!ok) {
          DisconnectAndReuse(index);
          return;
        }
        instance.state = kReading;
        instance.lastActivityTick = clock_.Ticks();
            break;
      case kReading:
        if (!ok && error == ERROR_MORE_DATA) {
          instance.earlierBytes = SaturatingAdd(instance.earlierBytes, transferred);
          break;  // read on to the end of the message
        }
        if (!ok) {
          DisconnectAndReuse(index);
          return;
        }
        instance.bytesRead = SaturatingAdd(instance.earlierBytes, transferred);
        instance.earlierBytes = 0;
        instance.state = kWriting;
        break;
      case kWriting:
        if (!ok || transferred != instance.bytesToWrite ||
            instance.implausibleMessages >= kMaxImplausibleMessages) {
          DisconnectAndReuse(index);
          return;
        }
        instance.state = kReading;
        break;
    }
  }
  if (instance.state == kReading) {
    StartRead(index);
  } else if (instance.state == kWriting) {
    StartWrite(index);
  }
}

// A read or write that completes at once leaves the event set (set again here, whatever the
// system did), so the next pass of the wait takes the instance on: one request per pass keeps a
// busy client from starving the others.
void CVpnRouteRequestPipeServer::StartRead(DWORD index) {
  PipeInstance& instance = *instances.at(events[index]);
  DWORD transferred = 0;
  if (ReadFile(instance.pipe, instance.request, kBufferSize, &transferred,
               &instance.overlapped)) {
    // An empty message counts as a message: it is malformed and answered 0.
    instance.pendingIo = FALSE;
    instance.bytesRead = SaturatingAdd(instance.earlierBytes, transferred);
    instance.earlierBytes = 0;
    instance.state = kWriting;
    SetEvent(instance.overlapped.hEvent);
    return;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    instance.pendingIo = TRUE;
    return;
  }
  if (error == ERROR_MORE_DATA) {
    instance.pendingIo = FALSE;
    instance.earlierBytes = SaturatingAdd(instance.earlierBytes, transferred);
    SetEvent(instance.overlapped.hEvent);
    return;
  }
  DisconnectAndReuse(index);
}

void CVpnRouteRequestPipeServer::StartWrite(DWORD index) {
  PipeInstance& instance = *instances.at(events[index]);
  // Only the buffer's worth is looked at; a longer message is malformed whatever it holds.
  const size_t size = std::min<size_t>(instance.bytesRead, kBufferSize);
  instance.reply = AnswerRouteRequest(*this, instance.request, size, tunnelServer_);
  if (instance.bytesRead > kBufferSize || !IsPlausibleRouteRequest(instance.request, size)) {
    ++instance.implausibleMessages;
  }
  // Answered now, before the reply goes out: once it is written the client may read it and go
  // on before this thread runs again, and its idle time counts from its answer either way.
  instance.lastActivityTick = clock_.Ticks();
  instance.bytesToWrite = 1;
  DWORD transferred = 0;
  if (WriteFile(instance.pipe, &instance.reply, instance.bytesToWrite, &transferred,
                &instance.overlapped)) {
    if (transferred != instance.bytesToWrite ||
        instance.implausibleMessages >= kMaxImplausibleMessages) {
      DisconnectAndReuse(index);
      return;
    }
    instance.pendingIo = FALSE;
    instance.state = kReading;
    SetEvent(instance.overlapped.hEvent);
    return;
  }
  if (GetLastError() == ERROR_IO_PENDING) {
    instance.pendingIo = TRUE;
    return;
  }
  DisconnectAndReuse(index);
}

void CVpnRouteRequestPipeServer::DisconnectAndReuse(DWORD index) {
  PipeInstance& instance = *instances.at(events[index]);
  ClosePipe(instance);
  instance.spareSinceTick = clock_.Ticks();
  std::swap(events[index], events[activeCount - 1]);
  --activeCount;
  FreeIdleSpares();
}

void CVpnRouteRequestPipeServer::FreeIdleSpares() {
  const uint32_t now = clock_.Ticks();
  for (size_t index = events.size(); index-- > activeCount;) {
    const PipeInstance& spare = *instances.at(events[index]);
    if (uint32_t(now - spare.spareSinceTick) > kSpareIdleMs) {
      RemoveInstance(static_cast<DWORD>(index));
    }
  }
}

void CVpnRouteRequestPipeServer::RemoveInstance(DWORD index) {
  const HANDLE event = events[index];
  if (const auto found = instances.find(event); found != instances.end()) {
    ClosePipe(*found->second);
    instances.erase(found);
  }
  CloseHandle(event);
  events.erase(events.begin() + index);
  if (index < activeCount) --activeCount;
}

void CVpnRouteRequestPipeServer::CloseAllInstances() {
  for (size_t index = 1; index < events.size(); ++index) {
    if (const auto found = instances.find(events[index]); found != instances.end()) {
      ClosePipe(*found->second);
    }
    CloseHandle(events[index]);
  }
  instances.clear();
  events.resize(1);
  activeCount = 1;
  listening_ = false;
}

std::unique_ptr<CVpnRouteRequestBaseServer> MakeEngineRouteServer(RouteTable& routes,
                                                                  TickClock& clock,
                                                                  const CGeneralVpn& engine) {
  auto server = std::make_unique<CVpnRouteRequestPipeServer>(routes, clock);
  // The engine owns the server and outlives every Start.
  server->tunnelServerLookup = [&engine] { return TunnelServerAddress(engine.serverAddress); };
  return server;
}

DWORD SetLowIntegrityLabel(const std::wstring& path) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLowIntegrityLabel, SDDL_REVISION_1,
                                                            &converted, nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  UniqueLocal descriptor(converted);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL label = nullptr;
  if (!GetSecurityDescriptorSacl(converted, &present, &label, &defaulted) || !present ||
      label == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                               LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, label);
}
