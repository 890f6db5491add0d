// 4 GiB (and 10 GiB) through a simulated volume's files, as the real TRIM test moves it: 512 MiB files of
// xorshift32 content written in unbuffered 4 MiB blocks, read back in unbuffered 1 MiB blocks
// and hashed (FNV-1a). The counters split the host time: the simulated machine's own (inside
// WriteFile and ReadFile) against what the test itself spends generating and hashing, with the
// growth of the process's peak memory over the run (Linux: VmHWM after a reset).
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <string>

#include "platform/sim/SimMachine.h"
#include "platform/sim/files/VolumeFilesTestUtil.h"

namespace {

using namespace plat;
using namespace plat::sim;
using Clock = std::chrono::steady_clock;

uint64_t StatusBytes(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::stoull(line.substr(std::string(key).size())) * 1024;
  return 0;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Arguments: MiB in all, file system (0 NTFS, 1 exFAT, 2 FAT32).
void BM_WriteAndReadBack(benchmark::State& state) {
  const uint64_t total = uint64_t(state.range(0)) << 20;
  const SimFsKind kind = state.range(1) == 0   ? SimFsKind::kNtfs
                         : state.range(1) == 1 ? SimFsKind::kExFat
                                               : SimFsKind::kFat32;
  const uint64_t perFile = std::min<uint64_t>(total, 512ull << 20);
  Clock::duration inWrite{}, inRead{}, generate{}, hash{};
  uint64_t peak = 0, drive = 0;
  for (auto _ : state) {
    ScopedSimMachine m;
    auto disk = m->Storage().AddDisk(1, (total + (512ull << 20)) / 512);
    m->VolumeFiles().AddVolume('E', 1, 1 << 20, total + (256ull << 20), kind);
    Win().CreateDirectoryW("E:\\trim_real_test");
    std::ofstream("/proc/self/clear_refs") << "5";
    const uint64_t before = StatusBytes("VmRSS:");
    volfiles::AlignedBuffer block(4 << 20);
    for (uint64_t at = 0, i = 0; at < total; at += perFile, ++i) {
      const std::string path = "E:\\trim_real_test\\file_" + std::to_string(i) + ".bin";
      HANDLE h = Win().CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS,
                                   FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
      uint32_t seed = static_cast<uint32_t>(100 + i);
      for (uint64_t done = 0; done < perFile; done += block.size) {
        auto t0 = Clock::now();
        volfiles::Fill(block.data, block.size, seed);
        auto t1 = Clock::now();
        DWORD n = 0;
        if (!Win().WriteFile(h, block.data, static_cast<DWORD>(block.size), &n))
          state.SkipWithError("write failed");
        generate += t1 - t0;
        inWrite += Clock::now() - t1;
      }
      Win().CloseHandle(h);
    }
    uint32_t sum = 0;
    for (uint64_t at = 0, i = 0; at < total; at += perFile, ++i) {
      const std::string path = "E:\\trim_real_test\\file_" + std::to_string(i) + ".bin";
      HANDLE h = Win().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                   FILE_FLAG_NO_BUFFERING);
      uint32_t fnv = 2166136261u;
      for (;;) {
        auto t0 = Clock::now();
        DWORD n = 0;
        const bool ok = Win().ReadFile(h, block.data, 1 << 20, &n);
        auto t1 = Clock::now();
        inRead += t1 - t0;
        if (!ok || n == 0) break;
        fnv = volfiles::Fnv(fnv, block.data, n);
        hash += Clock::now() - t1;
      }
      sum ^= fnv;
      Win().CloseHandle(h);
    }
    benchmark::DoNotOptimize(sum);
    peak = StatusBytes("VmHWM:") - before;
    drive = disk->drive.MemoryBytes();
  }
  const double mib = double(total) / 1048576.0 * double(state.iterations());
  state.counters["sim_write_MiBps"] = mib / Seconds(inWrite);
  state.counters["sim_read_MiBps"] = mib / Seconds(inRead);
  state.counters["generate_MiBps"] = mib / Seconds(generate);
  state.counters["hash_MiBps"] = mib / Seconds(hash);
  state.counters["peak_growth_MiB"] = double(peak) / 1048576.0;
  state.counters["drive_MiB"] = double(drive) / 1048576.0;
  state.SetBytesProcessed(static_cast<int64_t>(2 * total * state.iterations()));
}

BENCHMARK(BM_WriteAndReadBack)
    ->Args({4096, 0})
    ->Args({4096, 1})
    ->Args({4096, 2})
    ->Args({10240, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
