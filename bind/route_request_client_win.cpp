#include "route_request_client_win.h"

#include "bind_state_win.h"
#include "vpn/route_request.h"

namespace {

class Pipe {
 public:
  explicit Pipe(HANDLE handle) : handle_(handle) {}
  ~Pipe() {
    if (valid()) CloseHandle(handle_);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The pipe is opened at identification level: whoever answers on it learns who asks, but cannot
// act as the application.
HANDLE OpenRequestPipe(DWORD& error) {
  const DWORD started = GetTickCount();
  for (;;) {
    const HANDLE pipe =
        CreateFileW(kRouteRequestPipeName, kRouteRequestClientAccess, 0, nullptr, OPEN_EXISTING,
                    SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    error = GetLastError();
    if (error != ERROR_PIPE_BUSY) return INVALID_HANDLE_VALUE;
    const DWORD waited = GetTickCount() - started;
    if (waited >= kRouteRequestWaitMs) {
      error = ERROR_SEM_TIMEOUT;
      return INVALID_HANDLE_VALUE;
    }
    // Another client may take the instance that frees up first; then the loop waits again.
    if (!WaitNamedPipeW(kRouteRequestPipeName, kRouteRequestWaitMs - waited)) {
      error = GetLastError();
      if (error != ERROR_SEM_TIMEOUT && error != ERROR_PIPE_BUSY) return INVALID_HANDLE_VALUE;
    }
  }
}

}  // namespace

DWORD RequestHostRoute(uint32_t address, uint8_t& reply) {
  reply = kRouteReplyNoRoute;
  DWORD error = ERROR_SUCCESS;
  Pipe pipe(OpenRequestPipe(error));
  if (!pipe.valid()) return error;
  // As for a steered call: whoever took the name is told nothing.
  const BindState state = ReadPublishedBindState();
  ULONG server = 0;
  if (!state.on || !GetNamedPipeServerProcessId(pipe.get(), &server) ||
      server != state.clientProcessId) {
    return ERROR_ACCESS_DENIED;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) return GetLastError();

  const auto request = BuildRouteRequest(address);
  DWORD written = 0;
  if (!WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), &written,
                 nullptr)) {
    return GetLastError();
  }
  if (written != request.size()) return ERROR_WRITE_FAULT;

  uint8_t answer[2] = {};
  DWORD read = 0;
  if (!ReadFile(pipe.get(), answer, sizeof(answer), &read, nullptr)) {
    const DWORD failed = GetLastError();
    return failed == ERROR_MORE_DATA ? ERROR_INVALID_DATA : failed;
  }
  if (read != 1) return ERROR_INVALID_DATA;
  reply = answer[0];
  return ERROR_SUCCESS;
}

namespace {

// Waits for one overlapped transfer until `deadline`; cancels it (and waits for the cancel, so
// the system no longer writes into `overlapped`) when the time is up.
DWORD FinishTransfer(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD deadline,
                     DWORD& transferred) {
  if (!started) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return error;
    const DWORD now = GetTickCount();
    const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    if (WaitForSingleObject(overlapped.hEvent, left) != WAIT_OBJECT_0) {
      CancelIo(pipe);
      GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
      return ERROR_TIMEOUT;
    }
  }
  if (!GetOverlappedResult(pipe, &overlapped, &transferred, FALSE)) return GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

DWORD RequestHostRouteWithin(uint32_t address, DWORD timeoutMs, DWORD clientProcessId,
                             uint8_t& reply) {
  reply = kRouteReplyNoRoute;
  const DWORD deadline = GetTickCount() + timeoutMs;
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (;;) {
    handle = CreateFileW(kRouteRequestPipeName, kRouteRequestClientAccess, 0, nullptr,
                         OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                         nullptr);
    if (handle != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    if (error != ERROR_PIPE_BUSY) return error;
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(deadline - now) <= 0) return ERROR_TIMEOUT;
    WaitNamedPipeW(kRouteRequestPipeName, deadline - now);
  }
  Pipe pipe(handle);
  ULONG server = 0;
  if (!GetNamedPipeServerProcessId(pipe.get(), &server) || server != clientProcessId) {
    return ERROR_ACCESS_DENIED;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) return GetLastError();
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return GetLastError();
  Pipe eventHolder(event);

  const auto request = BuildRouteRequest(address);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD transferred = 0;
  DWORD error = FinishTransfer(
      pipe.get(), overlapped,
      WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), nullptr,
                &overlapped),
      deadline, transferred);
  if (error != ERROR_SUCCESS) return error;
  if (transferred != request.size()) return ERROR_WRITE_FAULT;

  uint8_t answer[2] = {};
  overlapped = OVERLAPPED{};
  overlapped.hEvent = event;
  ResetEvent(event);
  error = FinishTransfer(pipe.get(), overlapped,
                         ReadFile(pipe.get(), answer, sizeof(answer), nullptr, &overlapped),
                         deadline, transferred);
  if (error == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (error != ERROR_SUCCESS) return error;
  if (transferred != 1) return ERROR_INVALID_DATA;
  reply = answer[0];
  return ERROR_SUCCESS;
}
