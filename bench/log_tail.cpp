// The log window's refresh, once a second while it is open: the last 300 lines of a log whose
// two files are both full (about 1 MiB each), read from real files. The figures are the time per
// refresh and how much of the 2 MiB it reads.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/log_tail.h"
#include "base/text.h"
#include "bench_check.h"

namespace {

// Counts what the folder's files hand out.
class CountingLogFiles : public LogFiles {
 public:
  explicit CountingLogFiles(std::unique_ptr<LogFiles> files) : files_(std::move(files)) {}
  std::optional<LogFileEnd> ReadEnd(const std::wstring& name, size_t maxBytes) override {
    std::optional<LogFileEnd> end = files_->ReadEnd(name, maxBytes);
    if (end) bytes += end->bytes.size();
    return end;
  }
  uint64_t bytes = 0;

 private:
  std::unique_ptr<LogFiles> files_;
};

void WriteFull(const std::filesystem::path& file, int first) {
  std::ofstream out(file, std::ios::binary);
  std::string line;
  for (int i = first; out.tellp() < static_cast<std::streamoff>(kConnectionLogLimitBytes) - 200;
       ++i) {
    line = "2026-12-09 10:00:00 连接 vpn1.example.com（L2TP）第 " + std::to_string(i) +
           " 步：正在验证用户名和密码\r\n";
    out << line;
  }
}

void BM_LogWindowRefresh(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kv_bench_log_tail";
  std::filesystem::create_directories(dir);
  WriteFull(dir / "Kavrin.log.1", 0);
  WriteFull(dir / "Kavrin.log", 1000000);
  CountingLogFiles files(FolderLogFiles(Utf8ToWide((dir / "").string())));
  int64_t refreshes = 0;
  for (auto _ : state) {
    const std::vector<std::wstring> lines = ReadLogTail(files, 300);
    if (lines.size() != 300 || lines.back().find(L"正在验证") == std::wstring::npos) {
      BenchFail(state, "the last 300 lines were not read");
    }
    ++refreshes;
  }
  state.counters["bytes_read_per_refresh"] = double(files.bytes) / double(refreshes);
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_LogWindowRefresh)->Apply(OnceWhenShort)->Unit(benchmark::kMicrosecond);
