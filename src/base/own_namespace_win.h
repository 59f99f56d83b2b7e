// The program's private object namespace ("Kavrin\..."): a namespace whose boundary is the
// administrators, so only a process running as an administrator can create it, and whose
// descriptor lets only administrators and the system create objects in it; everyone else (low
// integrity and application packages included) may open it and look objects up. Names in it
// cannot be taken first by an ordinary user, as any name in "Global\" can.
//
// The calls exist from Vista on and are looked up at run time (Wine has none of them); where
// they are missing the callers fall back to the global name and check its owner instead.
#pragma once

#include <windows.h>

#include <string>

inline constexpr wchar_t kOwnNamespacePrefix[] = L"Kavrin";

class OwnNamespace {
 public:
  enum class State {
    kCreated,      // made by this process, which holds it
    kOpened,       // an administrator's process made it; opened
    kUnsupported,  // the system has no private namespaces
    kFailed,       // neither made nor opened (not an administrator, and nobody made it)
  };

  // Makes the namespace (`create`, for an elevated process) or opens the one that exists.
  explicit OwnNamespace(bool create);
  ~OwnNamespace();
  OwnNamespace(const OwnNamespace&) = delete;
  OwnNamespace& operator=(const OwnNamespace&) = delete;

  State state() const { return state_; }
  bool usable() const { return state_ == State::kCreated || state_ == State::kOpened; }
  // `name` inside the namespace ("Kavrin\name").
  static std::wstring Name(const wchar_t* name) {
    return std::wstring(kOwnNamespacePrefix) + L"\\" + name;
  }

 private:
  State state_ = State::kUnsupported;
  HANDLE handle_ = nullptr;
  bool created_ = false;
};

// True when the kernel object `object` is owned by the administrators or the system: made by an
// elevated process or a service, not by an ordinary user who took its name first.
bool OwnedByAdministratorsOrSystem(HANDLE object);
