// Free runs of a 512 MiB cluster bitmap (16 TB at 4 KiB clusters): the first half fragmented
// (runs of 1 to 64 clusters), the second half in long runs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/uBitmapScan.h"

static void BM_FreeRunsOf512MiBBitmap(benchmark::State& State) {
  const uint64_t Bytes = 512ull << 20;
  std::vector<uint8_t> Bits(Bytes, 0);
  std::mt19937_64 Rng(1);
  const uint64_t Clusters = Bytes * 8;
  uint64_t C = 0;
  bool Used = true;
  while (C < Clusters) {
    const uint64_t Len = C < Clusters / 2 ? 1 + Rng() % 64 : 1 + Rng() % 1000000;
    if (Used)
      for (uint64_t k = C; k < C + Len && k < Clusters; ++k)
        Bits[k >> 3] = static_cast<uint8_t>(Bits[k >> 3] | (1u << (k & 7)));
    C += Len;
    Used = !Used;
  }
  uint64_t Runs = 0;
  for (auto _ : State) {
    TFreeRunScanner Scanner;
    Runs = 0;
    auto Emit = [&](uint64_t, uint64_t) { ++Runs; };
    Scanner.Scan(Bits.data(), Bytes, 0, Clusters, 0, Emit);
    Scanner.Finish(Emit);
    benchmark::DoNotOptimize(Runs);
  }
  State.counters["runs"] = static_cast<double>(Runs);
}
BENCHMARK(BM_FreeRunsOf512MiBBitmap)->Unit(benchmark::kMillisecond)->Iterations(3);
