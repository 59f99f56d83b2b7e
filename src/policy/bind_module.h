// The binding module as the client sees it: a separate file, KavrinBind.dll, that the socket
// layer loads into every process once it is registered, and that the client registers, looks
// for, starts and stops.
#pragma once

#include <cstdint>
#include <string>

inline constexpr wchar_t kBindModuleFile[] = L"KavrinBind.dll";
// The module expects this as the first argument of its start entry point.
inline constexpr uint32_t kBindStartCount = 8;

class BindModule {
 public:
  virtual ~BindModule() = default;

  // Loads the module file and calls its registration entry point (`install` true) or its
  // unregistration entry point (false). Returns the entry point's result, 0 = success, or 1 when
  // the file cannot be loaded or lacks the entry point. The module stays loaded afterwards.
  virtual int Register(bool install) = 0;

  // Whether a module of that file name is loaded in this process; never loads it.
  virtual bool IsLoaded(const std::wstring& moduleFile) = 0;

  // Whether the socket catalog this process sees holds the module's whole set of entries, for
  // this module file (a registration for a moved or other copy does not count). Reads only.
  virtual bool IsRegistered() = 0;

  // Call the module's start and stop entry points, only in a module that is already loaded.
  // False when the module or the entry point is absent.
  virtual bool Start(uint32_t count, uint32_t localAddress) = 0;
  virtual bool Stop() = 0;
};
