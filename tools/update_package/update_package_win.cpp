// Test stand-in for an update package (the installer the service offers): records how it was
// started and exits. See README.md.
#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

constexpr wchar_t kLogName[] = L"update_package.log";

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n < MAX_PATH ? n : 0);
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

}  // namespace

int main() {
  const std::wstring self = ModulePath();
  const std::wstring log = self.substr(0, self.find_last_of(L"\\/") + 1) + kLogName;
  FILE* out = _wfopen(log.c_str(), L"ab");
  if (!out) return 1;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::string record = "started " + Utf8(self) + "\n";
  record += "command line " + Utf8(GetCommandLineW()) + "\n";
  record += "arguments " + std::to_string(argc > 0 ? argc - 1 : 0) + "\n";
  for (int i = 1; argv && i < argc; ++i) record += "argument " + Utf8(argv[i]) + "\n";
  if (argv) LocalFree(argv);
  std::fwrite(record.data(), 1, record.size(), out);
  std::fclose(out);
  return 0;
}
