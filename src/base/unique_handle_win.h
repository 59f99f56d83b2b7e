// Owning wrappers for every kind of system handle the program holds.
//
// Each kind is one traits struct (what counts as empty, how to free it) plugged into one
// move-only template, so a handle is released exactly once on every path out of a scope.
#pragma once

// Includes <windows.h>; SOCKET needs it.
#include <winsock2.h>

#include <utility>

template <typename Traits>
class UniqueHandleT {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandleT() noexcept = default;
  explicit UniqueHandleT(Handle handle) noexcept : handle_(handle) {}
  UniqueHandleT(UniqueHandleT&& other) noexcept : handle_(other.release()) {}
  UniqueHandleT& operator=(UniqueHandleT&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandleT(const UniqueHandleT&) = delete;
  UniqueHandleT& operator=(const UniqueHandleT&) = delete;
  ~UniqueHandleT() { reset(); }

  Handle get() const noexcept { return handle_; }
  bool valid() const noexcept { return !Traits::IsEmpty(handle_); }
  explicit operator bool() const noexcept { return valid(); }

  Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }
  void reset(Handle handle = Traits::Empty()) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (!Traits::IsEmpty(old)) Traits::Close(old);
  }
  // For APIs that return the handle through an out parameter; frees what was held first.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Empty();
};

namespace handle_traits {

// CreateFile reports failure with INVALID_HANDLE_VALUE, most other calls with null; a kernel
// handle holder has to treat both as "nothing to close".
struct Kernel {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct RegKey {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::RegCloseKey(h); }
};

struct Socket {
  using Handle = SOCKET;
  static Handle Empty() { return INVALID_SOCKET; }
  static bool IsEmpty(Handle h) { return h == INVALID_SOCKET; }
  static void Close(Handle h) { ::closesocket(h); }
};

struct Module {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};

template <typename GdiHandle>
struct GdiObject {
  using Handle = GdiHandle;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};

struct Icon {
  using Handle = HICON;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::DestroyIcon(h); }
};

struct Menu {
  using Handle = HMENU;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::DestroyMenu(h); }
};

struct MemoryDc {
  using Handle = HDC;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::DeleteDC(h); }
};

struct LocalMemory {
  using Handle = HLOCAL;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  static void Close(Handle h) { ::LocalFree(h); }
};

}  // namespace handle_traits

using UniqueHandle = UniqueHandleT<handle_traits::Kernel>;
using UniqueRegKey = UniqueHandleT<handle_traits::RegKey>;
using UniqueSocket = UniqueHandleT<handle_traits::Socket>;
using UniqueModule = UniqueHandleT<handle_traits::Module>;
using UniqueGdiObject = UniqueHandleT<handle_traits::GdiObject<HGDIOBJ>>;
using UniqueBitmap = UniqueHandleT<handle_traits::GdiObject<HBITMAP>>;
using UniqueFont = UniqueHandleT<handle_traits::GdiObject<HFONT>>;
using UniqueBrush = UniqueHandleT<handle_traits::GdiObject<HBRUSH>>;
using UniquePen = UniqueHandleT<handle_traits::GdiObject<HPEN>>;
using UniqueRegion = UniqueHandleT<handle_traits::GdiObject<HRGN>>;
using UniqueIcon = UniqueHandleT<handle_traits::Icon>;
using UniqueMenu = UniqueHandleT<handle_traits::Menu>;
using UniqueMemoryDc = UniqueHandleT<handle_traits::MemoryDc>;
using UniqueLocal = UniqueHandleT<handle_traits::LocalMemory>;

// Selects an object into a device context and puts the previous one back on scope exit, so a
// GDI object is never deleted while still selected.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), previous_(dc && object ? ::SelectObject(dc, object) : nullptr) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A window's device context from GetDC, released with the window it came from.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  HDC get() const noexcept { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};
