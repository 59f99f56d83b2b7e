// A stand-in for the client's route-request pipe: answers every message with one chosen byte and
// keeps the messages it got. `hold` keeps each answer back until Release, so a test can tell
// whether a caller waited for it. Test code only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "vpn/route_request.h"

class FakeRouteServer {
 public:
  explicit FakeRouteServer(uint8_t reply, bool hold = false)
      : reply_(reply), released_(CreateEventW(nullptr, TRUE, !hold, nullptr)) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Serve(); });
    WaitForSingleObject(ready_, 5000);
  }
  ~FakeRouteServer() {
    stopping_ = true;
    SetEvent(released_);
    // Wakes the server's wait for a client.
    const HANDLE pipe = CreateFileW(kRouteRequestPipeName, GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    thread_.join();
    CloseHandle(released_);
    CloseHandle(ready_);
  }

  void Release() { SetEvent(released_); }

  std::vector<std::vector<uint8_t>> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // Waits up to `ms` for at least `count` requests.
  bool WaitForRequests(size_t count, DWORD ms) {
    const DWORD start = GetTickCount();
    while (Requests().size() < count) {
      if (GetTickCount() - start > ms) return false;
      Sleep(10);
    }
    return true;
  }

 private:
  static HANDLE NewInstance() {
    return CreateNamedPipeW(kRouteRequestPipeName, PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, PIPE_UNLIMITED_INSTANCES,
                            4096, 4096, 0, nullptr);
  }

  void Serve() {
    HANDLE pipe = NewInstance();
    SetEvent(ready_);
    while (pipe != INVALID_HANDLE_VALUE) {
      if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
        uint8_t message[64];
        DWORD read = 0;
        while (!stopping_ && ReadFile(pipe, message, sizeof(message), &read, nullptr)) {
          {
            std::lock_guard lock(mutex_);
            requests_.emplace_back(message, message + read);
          }
          WaitForSingleObject(released_, INFINITE);
          DWORD written = 0;
          WriteFile(pipe, &reply_, 1, &written, nullptr);
        }
      }
      // The next instance is there before this one goes, so no caller finds the pipe missing.
      const HANDLE next = stopping_ ? INVALID_HANDLE_VALUE : NewInstance();
      DisconnectNamedPipe(pipe);
      CloseHandle(pipe);
      pipe = next;
    }
  }

  const uint8_t reply_;
  const HANDLE released_;
  HANDLE ready_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> requests_;
  std::thread thread_;
};
