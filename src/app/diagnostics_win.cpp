#include "app/diagnostics_win.h"

#include "framework/module_version_win.h"

namespace {

// RtlGetVersion (Microsoft Learn, "RtlGetVersion function (wdm.h)"): fills an
// RTL_OSVERSIONINFOW, whose layout is OSVERSIONINFOW's; always STATUS_SUCCESS.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
// IsWow64Process2 (Microsoft Learn): the process's machine, IMAGE_FILE_MACHINE_UNKNOWN when it
// is not under WOW64, and the native machine.
using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

template <typename Fn>
Fn SystemFunction(const wchar_t* module, const char* name) {
  const HMODULE loaded = GetModuleHandleW(module);
  return loaded ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(loaded, name)))
                : nullptr;
}

std::wstring VersionNumbers(const OSVERSIONINFOW& info) {
  std::wstring text = std::to_wstring(info.dwMajorVersion) + L"." +
                      std::to_wstring(info.dwMinorVersion) + L"." +
                      std::to_wstring(info.dwBuildNumber);
  if (info.szCSDVersion[0] != 0) text += L" " + std::wstring(info.szCSDVersion);
  return text;
}

}  // namespace

std::wstring WindowsVersionText() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (const auto rtlGetVersion = SystemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion")) {
    if (rtlGetVersion(&info) == 0) return VersionNumbers(info) + L" (RtlGetVersion)";
  }
  info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(&info)) {
#pragma GCC diagnostic pop
    return VersionNumbers(info) + L" (GetVersionEx, at most what the manifest declares)";
  }
  return L"unknown";
}

std::wstring MachineName(USHORT machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
      return L"x86";
    case IMAGE_FILE_MACHINE_AMD64:
      return L"x64";
    case 0xAA64:  // IMAGE_FILE_MACHINE_ARM64
      return L"ARM64";
    case IMAGE_FILE_MACHINE_ARMNT:
      return L"ARM";
    default:
      return L"machine 0x" + [machine] {
        wchar_t hex[8];
        wsprintfW(hex, L"%04X", machine);
        return std::wstring(hex);
      }();
  }
}

std::wstring ProcessorArchitectureName(WORD architecture) {
  switch (architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      return L"x86";
    case PROCESSOR_ARCHITECTURE_AMD64:
      return L"x64";
    case 12:  // PROCESSOR_ARCHITECTURE_ARM64
      return L"ARM64";
    case PROCESSOR_ARCHITECTURE_ARM:
      return L"ARM";
    default:
      return L"architecture " + std::to_wstring(architecture);
  }
}

std::wstring SystemArchitectureText() {
  if (const auto isWow64Process2 =
          SystemFunction<IsWow64Process2Fn>(L"kernel32.dll", "IsWow64Process2")) {
    USHORT process = 0;
    USHORT native = 0;
    if (isWow64Process2(GetCurrentProcess(), &process, &native)) return MachineName(native);
  }
  SYSTEM_INFO info = {};
  GetNativeSystemInfo(&info);
  return ProcessorArchitectureName(info.wProcessorArchitecture);
}

std::wstring ProcessArchitectureText() {
#if defined(_M_X64) || defined(__x86_64__)
  return L"x64";
#elif defined(_M_ARM64) || defined(__aarch64__)
  return L"ARM64";
#else
  return L"x86";
#endif
}

DiagnosticsFacts GatherDiagnostics(DiagnosticsSources& sources) {
  DiagnosticsFacts facts;
  CModuleVersion version;
  if (version.Load(nullptr)) {
    facts.programVersion = version.GetValue(L"FileVersion");
    facts.buildDate = version.GetValue(L"BuildDate");
  }
  if (facts.programVersion.empty()) facts.programVersion = L"unknown";
  facts.windowsVersion = WindowsVersionText();
  facts.systemArchitecture = SystemArchitectureText();
  facts.processArchitecture = ProcessArchitectureText();
  facts.adapters = sources.adapters.Read();
  std::vector<CatalogEntry> entries;
  const int catalogError = sources.catalog.Entries(entries);
  facts.catalog = DescribeBindCatalog(catalogError, entries, sources.bindModulePath);
  facts.settings = ReadConnectionSettings(sources.settings, sources.loginHosts);
  facts.secrets = SettingsSecrets(sources.settings);
  facts.logKept = sources.log != nullptr;
  if (sources.log) facts.logLines = ReadLogTail(*sources.log, kDiagnosticsLogLines);
  return facts;
}
