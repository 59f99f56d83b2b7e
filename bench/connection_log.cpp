// What the connection log costs the thread that writes to it (the window's): lines of the usual
// length handed over in bursts of 1,000, while the log's own thread writes them to a temporary
// folder and rolls the file over at its limit. 200,000 lines (4,000 in a short run).
//   caller_us_per_line   the mean time one Write took on the calling thread; goal below 100 µs
//   caller_max_ms        the longest single Write
//   disk_s               how long the writer needed for all of them
// Checked: the newest line is the last line of Kavrin.log, which stays within the limit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/connection_log.h"
#include "base/text.h"
#include "bench_check.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const int kLines = BenchCount(200000, 4000);
constexpr int kBurst = 1000;

void BM_ConnectionLogWrite(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / "kv_bench_connection_log";
  double perLineUs = 0;
  double maxMs = 0;
  double diskS = 0;
  for (auto _ : state) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::wstring path = AnsiToWide(dir.string()) + L"/";
    ProgramDataFolder data([path] { return ProgramDataFolder::Location{path, true}; });
    Clock::duration caller{};
    const auto started = Clock::now();
    {
      ConnectionLog log(data);
      for (int i = 0; i < kLines; ++i) {
        const std::wstring text = L"状态 8：已连接，本机地址 10.8.0.6，已设置路由 " +
                                  std::to_wstring(i) + L" 条，服务器 vpn1.example.com";
        const auto before = Clock::now();
        log.Write(text);
        const auto took = Clock::now() - before;
        caller += took;
        maxMs = std::max(maxMs, std::chrono::duration<double, std::milli>(took).count());
        if ((i + 1) % kBurst == 0) log.Flush();
      }
    }
    diskS = std::chrono::duration<double>(Clock::now() - started).count();
    perLineUs = std::chrono::duration<double, std::micro>(caller).count() / kLines;
    std::ifstream file(dir / "Kavrin.log", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    const std::string last = "已设置路由 " + std::to_string(kLines - 1) + " 条";
    if (text.size() > kConnectionLogLimitBytes || text.rfind(last) == std::string::npos) {
      BenchFail(state, "the newest line is not at the end of a log within its limit");
    }
    fs::remove_all(dir);
  }
  state.counters["caller_us_per_line"] = perLineUs;
  state.counters["caller_max_ms"] = maxMs;
  state.counters["disk_s"] = diskS;
}
BENCHMARK(BM_ConnectionLogWrite)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
