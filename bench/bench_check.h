// A native benchmark's own correctness check (every route restored, every byte downloaded)
// failed: the case is reported as an error and the program ends with 1 (bench_main.cpp), so the
// test gate sees it. A case that cannot run here (a tool not installed) calls SkipWithError alone.
#pragma once

#include <benchmark/benchmark.h>

#include "bench_count.h"

void BenchFail(benchmark::State& state, const char* why);

// For ->Apply: a case timed over as many rounds as the library picks runs once in a short run.
inline void OnceWhenShort(benchmark::internal::Benchmark* b) {
  if (BenchShort()) b->Iterations(1);
}
