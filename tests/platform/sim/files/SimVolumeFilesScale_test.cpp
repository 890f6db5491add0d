// Gigabytes through a simulated volume's files: the real TRIM test's generated content costs the
// drive no memory, so a 4 GiB write stays far below 512 MiB of the process's memory (measured on
// Linux from the kernel's peak figure), and reads back byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "VolumeFilesTestUtil.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;
using namespace volfiles;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // the sanitizers' own memory and speed say nothing here
#else
constexpr bool kSanitized = false;
#endif

// The peak resident memory of the process since the last reset, in bytes (0 where unknown).
uint64_t PeakResidentBytes() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}
uint64_t ResidentBytes() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}
// Starts the peak figure again from what is resident now.
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}

TEST(SimVolumeFilesScale, AFourGiBWriteStaysFarBelow512MiB) {
  const uint64_t total = kSanitized ? 256ull << 20 : 4ull << 30;
  const uint64_t perFile = total / 8;
  ScopedSimMachine m;
  auto disk = m->Storage().AddDisk(1, (total + (512ull << 20)) / 512);
  ASSERT_NE(m->VolumeFiles().AddVolume('E', 1, 1 << 20, total + (256ull << 20), SimFsKind::kNtfs), nullptr);
  ASSERT_TRUE(Win().CreateDirectoryW("E:\\trim_real_test"));

  const bool measured = ResetPeak();
  const uint64_t before = ResidentBytes();
  for (uint32_t i = 0; i < 8; ++i)
    ASSERT_EQ(WriteStreamFile("E:\\trim_real_test\\file_" + std::to_string(i) + ".bin", 100 + i, perFile), 0u);
  const uint64_t peak = PeakResidentBytes();
  if (measured && peak && !kSanitized) {
    EXPECT_LT(peak - before, 512ull << 20);
    std::printf("peak growth over a %llu MiB write: %.1f MiB (drive data %.1f MiB)\n",
                static_cast<unsigned long long>(total >> 20), double(peak - before) / 1048576.0,
                double(disk->drive.MemoryBytes()) / 1048576.0);
  }
  EXPECT_LT(disk->drive.MemoryBytes(), 16u << 20);

  // The first and last blocks of every file, and one whole file, as written.
  AlignedBuffer got(1 << 20), want(1 << 20);
  for (uint32_t i = 0; i < 8; ++i) {
    const std::string path = "E:\\trim_real_test\\file_" + std::to_string(i) + ".bin";
    HANDLE h = Win().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    ASSERT_TRUE(IsValidHandle(h));
    for (uint64_t at : {uint64_t{0}, perFile - (1 << 20)}) {
      uint32_t state = XorShift32Jump(100 + i, at / 4);
      Fill(want.data, want.size, state);
      DWORD n = 0;
      ASSERT_TRUE(Win().ReadFileAt(h, got.data, 1 << 20, &n, at));
      ASSERT_EQ(n, 1u << 20);
      EXPECT_EQ(0, std::memcmp(got.data, want.data, 1 << 20)) << path << " at " << at;
    }
    Win().CloseHandle(h);
  }
  EXPECT_EQ(FileHash("E:\\trim_real_test\\file_7.bin"), ExpectedHash(107, perFile));
}

}  // namespace
