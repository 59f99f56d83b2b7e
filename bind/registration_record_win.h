// The module's registration record.
//
// Registering writes the value "ModulePath" (the registered file, REG_SZ) under
// HKLM\SOFTWARE\Kavrin\Bind, so the registration holds for every user of the machine. The client
// runs elevated and normally may write there; when it may not, the record goes to
// HKCU\Software\Kavrin\Bind instead, so a registration still succeeds for the current user.
// A 32-bit process on 64-bit Windows sees the 32-bit view of HKLM\SOFTWARE (WOW6432Node), the
// same view as the client.
#pragma once

#include <windows.h>

#include <string>

// Idempotent: writing an existing record again succeeds.
HRESULT WriteRegistrationRecord(const std::wstring& modulePath);

// Removes the record from both places. Fails with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when
// there was none, and with the system error when a record exists but cannot be removed.
HRESULT RemoveRegistrationRecord();
