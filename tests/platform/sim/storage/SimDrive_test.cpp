// The drive's storage and its time: pages that follow every write, trim and zero byte for byte
// (checked against a plain byte array), generated content that costs no memory, and transfers
// that take their time on the virtual clock by the drive's speed profile.
#include "platform/sim/storage/SimDrive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

// n bytes of the stream that starts after state x (the writer's generator: words least
// significant byte first).
std::vector<uint8_t> Stream(uint32_t& x, size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; i += 4) {
    x = XorShift32(x);
    std::memcpy(&b[i], &x, std::min<size_t>(4, n - i));
  }
  return b;
}

TEST(SimPageStore, JumpsAheadAsManyStepsAsItWouldWalk) {
  uint32_t x = 0x12345678;
  for (uint64_t steps = 0; steps < 3000; ++steps) {
    ASSERT_EQ(XorShift32Jump(0x12345678, steps), x) << steps;
    x = XorShift32(x);
  }
}

// Random writes of stream content, random bytes and zeros, and releases, at any byte or sector
// position and across page boundaries: every read returns what a plain byte array holds.
TEST(SimPageStore, ReadsBackExactlyWhatWasWrittenWhateverItWas) {
  constexpr size_t kSize = 5 * SimPageStore::kPageBytes + 12345;
  // Each read regenerates megabytes of stream content: the sanitizers' builds take fewer steps.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kOps = 60;
#else
  constexpr int kOps = 300;
#endif
  std::vector<uint8_t> model(kSize, 0);
  SimPageStore store;
  std::mt19937_64 rng(7);
  std::vector<uint8_t> noise(2 * SimPageStore::kPageBytes);
  for (auto& b : noise) b = static_cast<uint8_t>(rng() >> 56);
  uint32_t state = 1;
  for (int op = 0; op < kOps; ++op) {
    const bool sectors = rng() % 3 != 0;  // mostly whole sectors, as the drive sends them
    const size_t unit = sectors ? 512 : 1;
    const size_t len = (rng() % (3 * SimPageStore::kPageBytes / 2 / unit) + 1) * unit;
    const size_t at = rng() % ((kSize - len) / unit) * unit;
    std::vector<uint8_t> data;
    switch (rng() % 5) {
      case 0:
      case 1:  // stream content, going on from the last write or starting afresh
        if (rng() % 3 == 0) state = static_cast<uint32_t>(rng()) | 1;
        data = Stream(state, len);
        break;
      case 2: {
        const size_t from = rng() % (noise.size() - len);
        data.assign(noise.begin() + from, noise.begin() + from + len);
        break;
      }
      case 3: data.assign(len, 0); break;
      case 4:
        store.Zero(at, len);
        std::fill(model.begin() + at, model.begin() + at + len, 0);
        break;
    }
    if (!data.empty()) {
      store.Write(at, data.data(), len);
      std::memcpy(&model[at], data.data(), len);
    }
    // A read of its own random span, and now and then of everything.
    const size_t rl = rng() % kSize + 1, ra = rng() % (kSize - rl + 1);
    std::vector<uint8_t> got(rl);
    store.Read(ra, got.data(), rl);
    ASSERT_EQ(0, std::memcmp(got.data(), &model[ra], rl)) << "op " << op;
    ASSERT_EQ(store.HoldsData(ra, rl), std::any_of(&model[ra], &model[ra] + rl, [](uint8_t b) { return b; }));
    if (op % 30 == 0) {
      got.resize(kSize);
      store.Read(0, got.data(), kSize);
      ASSERT_EQ(got, model) << "op " << op;
    }
  }
}

TEST(SimPageStore, GeneratedContentCostsNoMemoryAndZerosGiveBackThePages) {
  SimPageStore store;
  uint32_t state = 99;
  const uint64_t base = 2048 * 512 + 7 * 4096;  // not on a page boundary
  for (int i = 0; i < 64; ++i) {
    const auto chunk = Stream(state, 4 << 20);
    store.Write(base + uint64_t(i) * chunk.size(), chunk.data(), chunk.size());
  }
  EXPECT_EQ(store.PageCount(), 257u);
  EXPECT_LT(store.MemoryBytes(), 64u << 10);
  // The bytes in the middle of the stream are the ones written there.
  uint32_t again = XorShift32Jump(99, (100 << 20) / 4);
  const auto expected = Stream(again, 4096);
  std::vector<uint8_t> got(4096);
  store.Read(base + (100 << 20), got.data(), got.size());
  EXPECT_EQ(got, expected);

  // Other content costs its bytes; zeros over it hand the page back.
  std::vector<uint8_t> noise(512, 0xA5);
  const uint64_t past = base + (300ull << 20);
  store.Write(past, noise.data(), noise.size());
  EXPECT_GE(store.MemoryBytes(), SimPageStore::kPageBytes);
  std::vector<uint8_t> zeros(512, 0);
  store.Write(past, zeros.data(), zeros.size());
  EXPECT_LT(store.MemoryBytes(), 64u << 10);
  store.Zero(0, 400ull << 20);
  EXPECT_EQ(store.PageCount(), 0u);
}

// The speed profile on the virtual clock: the fast cache, the slow writes after it, and what
// idling and a TRIM give back; and a drive that never slows takes exactly its time.
TEST(SimDriveSpeed, WritesSlowDownOnceTheCacheIsFullUntilIdleOrTrimmed) {
  ScopedSimMachine m;
  auto disk = m->Storage().AddDisk(1, 4ull << 21);  // 4 GiB
  SimDriveSpeed speed = SimDriveSpeed::FastUasSsd(64 << 20);
  speed.commandUs = 0;
  disk->drive.SetSpeed(speed);
  HANDLE h = Win().CreateFileW("\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  std::vector<uint8_t> chunk(4 << 20, 0);
  uint64_t at = 0;
  // Virtual milliseconds that n chunks take, written back to back.
  auto write = [&](int n) {
    const uint64_t t0 = Win().GetTickCount64();
    DWORD done = 0;
    for (int i = 0; i < n; ++i, at += chunk.size())
      EXPECT_TRUE(Win().WriteFileAt(h, chunk.data(), static_cast<DWORD>(chunk.size()), &done, at));
    return Win().GetTickCount64() - t0;
  };
  const double fastMs = 64.0 / speed.writeMBps * 1000, slowMs = 64.0 / speed.slowWriteMBps * 1000;
  EXPECT_NEAR(double(write(16)), fastMs, 1.0);  // 64 MiB into the cache
  EXPECT_NEAR(double(write(16)), slowMs, 1.0);  // the next 64 MiB past it
  EXPECT_EQ(disk->drive.CacheUsed(), 64u << 20);

  // Idle long enough to empty half the cache: half fast, half slow.
  Win().Sleep(static_cast<DWORD>(32.0 / speed.recoverMBps * 1000));
  EXPECT_NEAR(double(write(16)), (fastMs + slowMs) / 2, 2.0);
  // A TRIM of 64 MiB frees the whole cache.
  ASSERT_TRUE(disk->drive.Trim(0, 64 << 11, "TEST"));
  EXPECT_EQ(disk->drive.CacheUsed(), 0u);
  EXPECT_NEAR(double(write(16)), fastMs, 1.0);

  // Reads do not fill the cache; 1 MiB reads shorter than a millisecond still add up.
  disk->drive.SetSpeed(SimDriveSpeed::NeverSlows(400, 500));
  const uint64_t t0 = Win().GetTickCount64();
  DWORD done = 0;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(Win().ReadFileAt(h, chunk.data(), 1 << 20, &done, 0));
  EXPECT_NEAR(double(Win().GetTickCount64() - t0), 2000.0, 1.0);
  EXPECT_NEAR(double(write(200)), 2000.0, 1.0);  // 800 MiB at 400 MiB/s
  Win().CloseHandle(h);
}

}  // namespace
