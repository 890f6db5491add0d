// A full-device dry run of a 4 TB disk (7,814,037,168 sectors, about 119,000 ranges) on the
// simulated machine: the planning, and the whole run through the worker thread with the main
// thread served by the benchmark's own thread. Sizes are in quarters of the disk, so 1, 2 and 4
// show whether the cost grows with the ranges alone. Wall time is the figure that counts; the
// CPU time is the whole process's, worker and main thread together.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "device/uAtaPassThrough.h"
#include "engine/TrimRunTestUtil.h"
#include "engine/uTrimPlanner.h"

namespace {

constexpr uint64_t k4TbBytes = 4000787030016ull;
constexpr uint8_t kProtocolDma = 6;  // what the run asks for

TDiskInfo QuarterDisk(int64_t Quarters) {
  TDiskInfo d = RunTestDisk();
  d.SizeBytes = k4TbBytes / 4 * static_cast<uint64_t>(Quarters);
  return d;
}

// Seconds per unit of work, from the wall time when the benchmark uses real time.
benchmark::Counter PerUnit(double Units) {
  return benchmark::Counter(Units, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

TTrimRangeArray FullPlan(const TDiskInfo& Disk, TLogger* Log) {
  TTrimRangeArray ranges;
  std::string msg;
  TTrimPlanner(Log).GeneratePlan(Disk, TTrimMode::tmFullDevice, ranges, msg);
  return ranges;
}

void BM_PlanFullDevice(benchmark::State& State) {
  TRunFixture f;
  const TDiskInfo disk = QuarterDisk(State.range(0));
  size_t ranges = 0;
  for (auto _ : State) {
    const TTrimRangeArray plan = FullPlan(disk, &f.log);
    ranges = plan.size();
    benchmark::DoNotOptimize(plan.data());
  }
  State.counters["ranges"] = static_cast<double>(ranges);
  State.counters["per_range"] = PerUnit(ranges);
}

// Arguments: quarters of the disk, entries per batch, 1 to log to the simulated file system
// or 0 for no log at all.
void BM_DryRunFullDevice(benchmark::State& State) {
  TRunFixture f;
  const TDiskInfo disk = QuarterDisk(State.range(0));
  const TTrimRangeArray plan = FullPlan(disk, nullptr);
  TTrimExecOptions options;
  options.BatchEntries = static_cast<int32_t>(State.range(1));
  TLogger* log = State.range(2) ? &f.log : nullptr;
  TRunStats stats;
  uint64_t progressCalls = 0;
  for (auto _ : State) {
    auto* run = new TTrimExecutionThread(
        disk, plan, TTrimMode::tmFullDevice, options, TRunMode::rmDryRun, log,
        [&](uint32_t, uint32_t, const std::string&) { ++progressCalls; }, [&](const TRunStats& s) { stats = s; });
    TThreadLink link = run->Link();
    run->Start();
    if (!link.WaitFor()) {
      State.SkipWithError("the run's thread could not be waited for");
      return;
    }
    if (stats.FailedBatches != 0 || stats.SucceededBatches != stats.PlannedBatches) {
      State.SkipWithError("the dry run did not pass every batch");
      return;
    }
  }
  const double batches = static_cast<double>(stats.PlannedBatches);
  State.counters["ranges"] = static_cast<double>(plan.size());
  State.counters["batches"] = batches;
  State.counters["per_batch"] = PerUnit(batches);
  State.counters["per_range"] = PerUnit(plan.size());
  benchmark::DoNotOptimize(progressCalls);
}

// The checks of every batch alone, on this thread, with no hand-over to the main thread: what
// the run costs apart from its progress calls.
void BM_DryRunBatchChecksOnly(benchmark::State& State) {
  const TTrimRangeArray plan = FullPlan(QuarterDisk(State.range(0)), nullptr);
  const int32_t perBatch = static_cast<int32_t>(State.range(1));
  const int32_t count = static_cast<int32_t>(plan.size());
  TByteArray payload;
  std::array<uint8_t, 16> cdb{};
  int64_t batches = 0;
  for (auto _ : State) {
    batches = 0;
    for (int32_t first = 0; first < count; first += perBatch, ++batches) {
      const int32_t entries = std::min(perBatch, count - first);
      bool ok = TAtaPassThroughEngine::BuildDsmPayload(payload, plan, first, entries);
      const auto sectors = static_cast<uint16_t>(payload.size() / 512);
      ok = ok && TAtaPassThroughEngine::BuildPt16DsmCdb(sectors, cdb, kProtocolDma, true, true);
      TAtaCdbValidationResult r;
      ok = ok && TAtaPassThroughEngine::ValidatePt16DsmCdb(cdb, static_cast<uint32_t>(payload.size()), r);
      if (!ok) {
        State.SkipWithError("a batch did not pass its checks");
        return;
      }
    }
    benchmark::DoNotOptimize(payload.data());
  }
  State.counters["batches"] = static_cast<double>(batches);
  State.counters["per_batch"] = PerUnit(static_cast<double>(batches));
  State.counters["per_range"] = PerUnit(static_cast<double>(plan.size()));
}

}  // namespace

BENCHMARK(BM_PlanFullDevice)
    ->ArgName("quarters")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_DryRunFullDevice)
    ->ArgNames({"quarters", "entries", "log"})
    ->ArgsProduct({{1, 2, 4}, {32, 256}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_DryRunBatchChecksOnly)
    ->ArgNames({"quarters", "entries"})
    ->ArgsProduct({{1, 2, 4}, {32, 256}})
    ->Unit(benchmark::kMillisecond);
