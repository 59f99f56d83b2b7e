#include "app/route_change_watch_win.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include "framework/module_win.h"

namespace {

// The callbacks' own row and notification types are not read; only that a change came.
using ChangeCallback = void(WINAPI*)(void* context, void* row, int type);
using NotifyFn = DWORD(WINAPI*)(USHORT family, ChangeCallback callback, void* context,
                                BOOLEAN initialNotification, HANDLE* notice);

}  // namespace

void WINAPI RouteChangeWatch::OnChange(void* context, void*, int) {
  static_cast<RouteChangeWatch*>(context)->NoteChange();
}

void RouteChangeWatch::NoteChange() {
  if (posted_.exchange(true)) return;
  // A message that could not be posted is not waiting: the next change tries again.
  if (!PostMessageW(window_, message_, 0, reinterpret_cast<LPARAM>(this))) posted_ = false;
}

void RouteChangeWatch::Taken(LPARAM lParam) {
  if (lParam != 0) reinterpret_cast<RouteChangeWatch*>(lParam)->posted_ = false;
}

bool RouteChangeWatch::Start(HWND window, UINT message) {
  Stop();
  posted_ = false;
  window_ = window;
  message_ = message;
  module_ = LoadSystemModule(L"iphlpapi.dll");
  if (module_) {
    const auto routes =
        reinterpret_cast<NotifyFn>(GetProcAddress(module_.get(), "NotifyRouteChange2"));
    const auto interfaces =
        reinterpret_cast<NotifyFn>(GetProcAddress(module_.get(), "NotifyIpInterfaceChange"));
    cancel_ = reinterpret_cast<CancelFn>(GetProcAddress(module_.get(), "CancelMibChangeNotify2"));
    if (routes && interfaces && cancel_ &&
        routes(AF_INET, &RouteChangeWatch::OnChange, this, FALSE, &routeNotice_) == NO_ERROR) {
      if (interfaces(AF_INET, &RouteChangeWatch::OnChange, this, FALSE, &interfaceNotice_) !=
          NO_ERROR) {
        interfaceNotice_ = nullptr;
      }
      return true;
    }
    routeNotice_ = nullptr;
    cancel_ = nullptr;
  }
  quit_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!addressChanged_) addressChanged_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!quit_ || !addressChanged_) return false;
  addresses_ = std::thread([this] { WatchAddresses(); });
  return true;
}

void RouteChangeWatch::WatchAddresses() {
  for (;;) {
    addressRequest_ = {};
    addressRequest_.hEvent = addressChanged_.get();
    HANDLE ignored = nullptr;
    if (NotifyAddrChange(&ignored, &addressRequest_) != ERROR_IO_PENDING) return;
    const HANDLE handles[] = {addressChanged_.get(), quit_.get()};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
      // Windows 2000 has no way to cancel; its request then ends with the process.
      using CancelIpFn = BOOL(WINAPI*)(OVERLAPPED*);
      const auto cancel = module_ ? reinterpret_cast<CancelIpFn>(
                                        GetProcAddress(module_.get(), "CancelIPChangeNotify"))
                                  : nullptr;
      if (cancel && cancel(&addressRequest_)) WaitForSingleObject(addressChanged_.get(), 1000);
      return;
    }
    NoteChange();
  }
}

void RouteChangeWatch::Stop() {
  // Cancelling waits for a callback under way; ours only posts, so it never waits long.
  if (cancel_) {
    if (routeNotice_) cancel_(routeNotice_);
    if (interfaceNotice_) cancel_(interfaceNotice_);
  }
  routeNotice_ = interfaceNotice_ = nullptr;
  cancel_ = nullptr;
  if (addresses_.joinable()) {
    SetEvent(quit_.get());
    addresses_.join();
  }
}
