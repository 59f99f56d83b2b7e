// Tells a window when the host's IPv4 routes or interfaces change, so route mode 1 can see its
// default route move. NotifyRouteChange2 and NotifyIpInterfaceChange (Vista on) are looked up
// at run time; without them NotifyAddrChange, which tells of address changes only, on a thread
// of the watch's own. Changes come in bursts (a route list of 10,000 rows is 10,000 changes), so
// one message stands for all that came until the window took it: the queue never fills with
// them and crowds out the engine's reports. The window decides what the changes mean.
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

  // A change: posts the message unless one is still waiting, with the watch as its lParam.
  void NoteChange();
  // The window has taken the message posted with `lParam`; the next change posts again.
  static void Taken(LPARAM lParam);

 private:
  static void WINAPI OnChange(void* context, void* row, int type);
  void WatchAddresses();

  HWND window_ = nullptr;
  std::atomic<bool> posted_ = false;
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
