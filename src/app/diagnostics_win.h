// Gathers the diagnostics (diagnostics.h) from the running system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/diagnostics.h"
#include "app/log_tail.h"
#include "config/settings_store.h"
#include "policy/bind_catalog.h"
#include "service/adapter_list.h"

struct DiagnosticsSources {
  SettingsStore& settings;
  // The login hosts in use (the program's settings file, else the built-in list).
  std::vector<std::wstring> loginHosts;
  // The data folder's log; null when the folder is not the program's own.
  LogFiles* log = nullptr;
  // KavrinBind.dll beside the program, as the catalog would hold it.
  std::wstring bindModulePath;
  AdapterList& adapters;
  SocketCatalog& catalog;
};

DiagnosticsFacts GatherDiagnostics(DiagnosticsSources& sources);

// "10.0.19045 (RtlGetVersion)": read from ntdll, which answers the truth whatever the program's
// manifest declares (GetVersionEx answers what the manifest declares at most). Falls back to
// GetVersionExW, and says so.
std::wstring WindowsVersionText();
// The machine's architecture: IsWow64Process2 (Windows 10 1511 on) gives it even to a 32-bit
// process under emulation on ARM64; before that GetNativeSystemInfo.
std::wstring SystemArchitectureText();
// This process's own: what it was built for.
std::wstring ProcessArchitectureText();
// The name of an IMAGE_FILE_MACHINE_* or PROCESSOR_ARCHITECTURE_* value.
std::wstring MachineName(USHORT imageFileMachine);
std::wstring ProcessorArchitectureName(WORD processorArchitecture);
