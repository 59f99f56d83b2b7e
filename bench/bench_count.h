// The short count every benchmark program takes: with KAVRIN_BENCH_SHORT set (and not "0") it
// runs the same cases with small counts, seconds in all, so the test gate can run it to see that
// it still finishes, stays correct and prints its figures. Without it, the full-length run.
#pragma once

#include <cstdlib>
#include <cstring>

inline bool BenchShort() {
  const char* value = std::getenv("KAVRIN_BENCH_SHORT");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

// `full` normally, `quick` in a short run.
template <typename T>
T BenchCount(T full, T quick) {
  return BenchShort() ? quick : full;
}
