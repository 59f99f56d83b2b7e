// The main of every native benchmark program: Google Benchmark's own, ending with 1 when a case
// failed its correctness check (BenchFail).
#include <atomic>

#include "bench_check.h"

namespace {

std::atomic<bool> failed{false};

}  // namespace

void BenchFail(benchmark::State& state, const char* why) {
  failed = true;
  state.SkipWithError(why);
}

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return failed ? 1 : 0;
}
