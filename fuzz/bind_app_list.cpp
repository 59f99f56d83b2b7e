// The binding module's reading of the application list file, which any local user's tools may
// have written, and the matching of a program path against it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bind/app_list_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto latin1 = [](std::string_view ansi) {
    std::wstring text;
    for (const char c : ansi) text.push_back(static_cast<unsigned char>(c));
    return text;
  };
  const auto apps = ReadBoundApps(bytes, latin1);
  for (const auto& app : apps) {
    // A normalised path is a fixed point, so a listed program always finds its own entry.
    if (NormalizeProgramPath(app.program) != app.program) __builtin_trap();
    if (app.active && !FindBoundApp(apps, app.program)) __builtin_trap();
  }
  FindBoundApp(apps, NormalizeProgramPath(latin1(bytes.substr(0, 512))));
  return 0;
}
