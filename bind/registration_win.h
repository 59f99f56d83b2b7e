// What registering the module does: it puts the module into the socket layer's provider
// catalog (see policy/bind_catalog.h), so that every program opening a TCP or UDP socket loads
// it. A 32-bit module on 64-bit Windows also has KavrinBind64.dll, beside it, do the same in the
// 64-bit catalog, which only a 64-bit process can change: it runs the system's 64-bit regsvr32
// on that file and waits for it. Either both catalogs end with our set or neither does.
#pragma once

#include <windows.h>

#include <string>

inline constexpr wchar_t kBindModule64File[] = L"KavrinBind64.dll";

// `modulePath` is this module's full path.
HRESULT RegisterBindModule(const std::wstring& modulePath);

// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when neither catalog held anything of ours.
HRESULT UnregisterBindModule(const std::wstring& modulePath);
