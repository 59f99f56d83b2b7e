// The route list the engine benchmarks apply: `count` distinct /24 networks under 10.0.0.0/8.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::wstring> BenchRouteSet(size_t count) {
  std::vector<std::wstring> lines;
  for (size_t i = 0; i < count; ++i) {
    lines.push_back(L"10." + std::to_wstring(i / 256) + L"." + std::to_wstring(i % 256) +
                    L".0 mask 255.255.255.0");
  }
  return lines;
}
