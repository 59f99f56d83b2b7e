// Tells a window when the host's IPv4 routes or interfaces change, so route mode 1 can see its
// default route move. NotifyRouteChange2 and NotifyIpInterfaceChange (Vista on) are looked up
// at run time; without them NotifyAddrChange, which tells of address changes only, on a thread
// of the watch's own. Every change posts one message; the window decides what it means.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

#include "base/unique_handle_win.h"

class RouteChangeWatch {
 public:
  RouteChangeWatch() = default;
  ~RouteChangeWatch() { Stop(); }
  RouteChangeWatch(const RouteChangeWatch&) = delete;
  RouteChangeWatch& operator=(const RouteChangeWatch&) = delete;

  // Posts `message` to `window` at every change from now on. False when the system offers no
  // way to watch.
  bool Start(HWND window, UINT message);
  // Waits for a notification being delivered, then none comes any more.
  void Stop();

 private:
  static void WINAPI OnChange(void* context, void* row, int type);
  void WatchAddresses();

  HWND window_ = nullptr;
  UINT message_ = 0;
  UniqueModule module_;
  using CancelFn = DWORD(WINAPI*)(HANDLE);
  CancelFn cancel_ = nullptr;
  HANDLE routeNotice_ = nullptr;
  HANDLE interfaceNotice_ = nullptr;
  // The fallback's thread and what ends it, and its request, which the system may still complete
  // where it cannot be cancelled (Windows 2000), so it lives as long as the watch.
  UniqueHandle quit_;
  UniqueHandle addressChanged_;
  OVERLAPPED addressRequest_{};
  std::thread addresses_;
};
