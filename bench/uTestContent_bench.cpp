// The real test's own work per byte of a test file: generating the content it writes, and
// checking a file read back against its expected content. Both must stay well above a fast
// drive's speed, so the speeds the test shows are the drive's.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "realtest/uTestContent.h"

namespace {

constexpr size_t kWriteBlock = 4194304;  // one write of a test file
constexpr size_t kReadBlock = 1048576;   // one read of a verification
constexpr size_t kFileBytes = 64u << 20;

std::vector<uint8_t> FileOf(uint32_t Seed) {
  std::vector<uint8_t> f(kFileBytes);
  TContentStream(Seed).Next(f.data(), f.size());
  return f;
}

}  // namespace

// The generator as a write fills its 4 MiB block.
static void BM_ContentGenerator(benchmark::State& State) {
  std::vector<uint8_t> buf(kWriteBlock);
  uint32_t state = StateFromSeed(NameSeed("E:\\trim_real_test\\file_0.bin"));
  for (auto _ : State) {
    FillRandom(buf.data(), static_cast<int32_t>(buf.size()), state);
    benchmark::DoNotOptimize(buf.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * kWriteBlock));
}
BENCHMARK(BM_ContentGenerator)->Unit(benchmark::kMicrosecond);

// A verification of an intact file, fed in 1 MiB reads: the content generated beside each
// block, the outcome of the two hashes.
static void BM_VerifyIntactFile(benchmark::State& State) {
  const uint32_t seed = NameSeed("E:\\trim_real_test\\file_1.bin");
  const std::vector<uint8_t> file = FileOf(seed);
  TContentCheck check;
  for (auto _ : State) {
    check.Reset(static_cast<int64_t>(file.size()), seed);
    for (size_t at = 0; at < file.size(); at += kReadBlock) check.Feed(file.data() + at, kReadBlock);
    benchmark::DoNotOptimize(check.Finish());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * file.size()));
}
BENCHMARK(BM_VerifyIntactFile)->Unit(benchmark::kMillisecond);

// A file that differs in its first byte: both hash chains run over the whole file.
static void BM_VerifyDamagedFile(benchmark::State& State) {
  const uint32_t seed = NameSeed("E:\\trim_real_test\\file_2.bin");
  std::vector<uint8_t> file = FileOf(seed);
  file[0] ^= 1;
  TContentCheck check;
  for (auto _ : State) {
    check.Reset(static_cast<int64_t>(file.size()), seed);
    for (size_t at = 0; at < file.size(); at += kReadBlock) check.Feed(file.data() + at, kReadBlock);
    benchmark::DoNotOptimize(check.Finish());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * file.size()));
}
BENCHMARK(BM_VerifyDamagedFile)->Unit(benchmark::kMillisecond);

// For comparison: the expected hash and the file's hash computed one after the other.
static void BM_VerifyByTwoSeparateHashes(benchmark::State& State) {
  const uint32_t seed = NameSeed("E:\\trim_real_test\\file_3.bin");
  const std::vector<uint8_t> file = FileOf(seed);
  for (auto _ : State) {
    const uint32_t expected = ExpectedHash(static_cast<int64_t>(file.size()), seed);
    uint32_t actual = kFnvOffsetBasis;
    for (size_t at = 0; at < file.size(); at += kReadBlock)
      actual = Fnv1aUpdate(actual, file.data() + at, kReadBlock);
    benchmark::DoNotOptimize(expected == actual);
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * file.size()));
}
BENCHMARK(BM_VerifyByTwoSeparateHashes)->Unit(benchmark::kMillisecond);

// A file that ends after 4 MiB but is listed at 256 MiB (a file cut short after it was
// written): it fails as soon as it has ended, without the rest of its expected stream.
static void BM_VerifyFileShorterThanListed(benchmark::State& State) {
  const uint32_t seed = NameSeed("E:\\trim_real_test\\file_4.bin");
  std::vector<uint8_t> file(kWriteBlock);
  TContentStream(seed).Next(file.data(), file.size());
  TContentCheck check;
  for (auto _ : State) {
    check.Reset(256 << 20, seed);
    for (size_t at = 0; at < file.size(); at += kReadBlock) check.Feed(file.data() + at, kReadBlock);
    benchmark::DoNotOptimize(check.Finish());
  }
}
BENCHMARK(BM_VerifyFileShorterThanListed)->Unit(benchmark::kMillisecond);
