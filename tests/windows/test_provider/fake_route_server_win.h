// A stand-in for the client's route-request pipe, served by a child process of the test program
// (the module talks only to a pipe whose server is the published client process, and never
// steers the client's own process): answers every message with one chosen byte and keeps the
// messages it got. `hold` keeps each answer back until Release, so a test can tell whether a
// caller waited for it. The child is this same program, which serves before its main runs when
// the environment asks it to. Test code only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "vpn/route_request.h"

class FakeRouteServer {
 public:
  explicit FakeRouteServer(uint8_t reply, bool hold = false) {
    static int count = 0;
    const std::wstring id =
        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++count);
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    requests_ = std::wstring(folder) + L"kavrin_route_requests_" + id + L".bin";
    DeleteFileW(requests_.c_str());
    const std::wstring release = L"Local\\KavrinFakeRouteRelease_" + id;
    const std::wstring ready = L"Local\\KavrinFakeRouteReady_" + id;
    released_ = CreateEventW(nullptr, TRUE, !hold, release.c_str());
    const HANDLE readyEvent = CreateEventW(nullptr, TRUE, FALSE, ready.c_str());
    const std::wstring request = std::to_wstring(reply) + L"|" + requests_ + L"|" + release +
                                 L"|" + ready;
    SetEnvironmentVariableW(kVariable, request.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      child_ = process.hProcess;
      processId_ = process.dwProcessId;
      const HANDLE waits[] = {readyEvent, child_};
      WaitForMultipleObjects(2, waits, FALSE, 10000);
    }
    SetEnvironmentVariableW(kVariable, nullptr);
    CloseHandle(readyEvent);
  }
  ~FakeRouteServer() {
    if (child_ != nullptr) {
      TerminateProcess(child_, 0);
      WaitForSingleObject(child_, 5000);
      CloseHandle(child_);
    }
    CloseHandle(released_);
    DeleteFileW(requests_.c_str());
  }
  FakeRouteServer(const FakeRouteServer&) = delete;
  FakeRouteServer& operator=(const FakeRouteServer&) = delete;

  // The serving process: what the client publishes as its own.
  DWORD ProcessId() const { return processId_; }
  void Release() { SetEvent(released_); }

  std::vector<std::vector<uint8_t>> Requests() const {
    std::vector<std::vector<uint8_t>> requests;
    const HANDLE file = CreateFileW(requests_.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return requests;
    uint8_t bytes[4096];
    DWORD read = 0;
    ReadFile(file, bytes, sizeof(bytes), &read, nullptr);
    CloseHandle(file);
    for (DWORD at = 0; at < read && at + 1 + bytes[at] <= read; at += 1 + bytes[at]) {
      requests.emplace_back(bytes + at + 1, bytes + at + 1 + bytes[at]);
    }
    return requests;
  }
  // Waits up to `ms` for at least `count` requests.
  bool WaitForRequests(size_t count, DWORD ms) const {
    const DWORD start = GetTickCount();
    while (Requests().size() < count) {
      if (GetTickCount() - start > ms) return false;
      Sleep(10);
    }
    return true;
  }

  // In the child: serves until it is ended, and never returns. False in any other process.
  static bool ServeIfAsked() {
    wchar_t request[1024] = {};
    const DWORD length = GetEnvironmentVariableW(kVariable, request, 1024);
    if (length == 0 || length >= 1024) return false;
    std::vector<std::wstring> parts;
    std::wstring part;
    for (const wchar_t* c = request; *c != 0; ++c) {
      if (*c == L'|') {
        parts.push_back(part);
        part.clear();
      } else {
        part.push_back(*c);
      }
    }
    parts.push_back(part);
    if (parts.size() != 4) ExitProcess(2);
    const uint8_t reply = static_cast<uint8_t>(std::wcstoul(parts[0].c_str(), nullptr, 10));
    const HANDLE released = OpenEventW(SYNCHRONIZE, FALSE, parts[2].c_str());
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, parts[3].c_str());
    Session& session = TheSession();
    session.reply = reply;
    session.released = released;
    session.requests = parts[1];
    bool first = true;
    // Each caller on a thread of its own, so one held reply does not keep the next caller out.
    for (;;) {
      const HANDLE pipe = NewInstance();
      if (pipe == INVALID_HANDLE_VALUE) break;
      if (first) SetEvent(ready);
      first = false;
      if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        CloseHandle(pipe);
        continue;
      }
      const HANDLE thread = CreateThread(nullptr, 0, &Serve, pipe, 0, nullptr);
      if (thread != nullptr) CloseHandle(thread);
    }
    ExitProcess(0);
  }

 private:
  static constexpr wchar_t kVariable[] = L"KAVRIN_FAKE_ROUTE_SERVER";

  struct Session {
    uint8_t reply = 0;
    HANDLE released = nullptr;
    std::wstring requests;
    SRWLOCK lock = SRWLOCK_INIT;
  };
  static Session& TheSession() {
    static Session session;
    return session;
  }

  static DWORD WINAPI Serve(void* parameter) {
    const HANDLE pipe = parameter;
    Session& session = TheSession();
    uint8_t message[64];
    DWORD read = 0;
    while (ReadFile(pipe, message, sizeof(message), &read, nullptr)) {
      AcquireSRWLockExclusive(&session.lock);
      Append(session.requests, message, read);
      ReleaseSRWLockExclusive(&session.lock);
      WaitForSingleObject(session.released, INFINITE);
      DWORD written = 0;
      WriteFile(pipe, &session.reply, 1, &written, nullptr);
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    return 0;
  }

  static HANDLE NewInstance() {
    return CreateNamedPipeW(kRouteRequestPipeName, PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, PIPE_UNLIMITED_INSTANCES,
                            4096, 4096, 0, nullptr);
  }

  static void Append(const std::wstring& path, const uint8_t* bytes, DWORD length) {
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    uint8_t record[65];
    record[0] = static_cast<uint8_t>(length > 64 ? 64 : length);
    std::memcpy(record + 1, bytes, record[0]);
    DWORD written = 0;
    WriteFile(file, record, record[0] + 1u, &written, nullptr);
    CloseHandle(file);
  }

  std::wstring requests_;
  HANDLE released_ = nullptr;
  HANDLE child_ = nullptr;
  DWORD processId_ = 0;
};

// Every program that uses the stand-in becomes it when started as its child.
inline const bool kFakeRouteServerChild = FakeRouteServer::ServeIfAsked();
