// Shared by the run tests: a machine with a main thread and a log file on it, and a run whose
// fields a test may set and read.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/ThreadTestUtil.h"
#include "core/uLogger.h"
#include "engine/uTrimExecutor.h"
#include "platform/WinFsControl.h"
#include "platform/WinStorage.h"
#include "platform/sim/storage/SimDrive.h"

inline constexpr const char* kRunLogPath = "C:\\vt\\logs\\run_test.log";

struct TRunFixture : TThreadFixture {
  TLogger log{kRunLogPath};

  // The log file's lines without their time stamps and the blank after them.
  std::vector<std::string> LogLines() {
    std::vector<std::string> r;
    const std::string bytes = m->Files().Exists(kRunLogPath) ? m->Files().ReadAll(kRunLogPath) : "";
    size_t at = 0;
    while (at < bytes.size()) {
      size_t e = bytes.find("\r\n", at);
      if (e == std::string::npos) e = bytes.size();
      const std::string line = bytes.substr(at, e - at);
      r.push_back(line.size() > 25 ? line.substr(25) : line);
      at = e + 2;
    }
    return r;
  }
};

// The planned ranges merged the way the drive's ledger reports them.
inline std::vector<std::pair<uint64_t, uint64_t>> Merged(const TTrimRangeArray& R) {
  std::vector<std::pair<uint64_t, uint64_t>> v, out;
  for (const TTrimRange& x : R) v.push_back({x.StartLba, x.SectorCount});
  std::sort(v.begin(), v.end());
  for (const auto& [s, n] : v) {
    if (!out.empty() && out.back().first + out.back().second >= s)
      out.back().second = std::max(out.back().second, s + n - out.back().first);
    else
      out.push_back({s, n});
  }
  return out;
}

// A request that sends something to a disk or changes a volume, as opposed to a query.
inline bool IsDiskCommand(plat::DWORD Code) {
  return Code == plat::IOCTL_SCSI_PASS_THROUGH_DIRECT || Code == plat::IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES ||
         Code == plat::fsc::FSCTL_LOCK_VOLUME || Code == plat::fsc::FSCTL_DISMOUNT_VOLUME;
}

inline TDiskInfo RunTestDisk(int Number = 3) {
  TDiskInfo d;
  d.DiskNumber = Number;
  d.DevicePath = "\\\\.\\PhysicalDrive" + std::to_string(Number);
  d.Transport = TTransportKind::tkUAS;
  return d;
}

// The sectors of [First, End) outside the sorted free ranges (first, count): what holds data.
inline std::vector<std::pair<uint64_t, uint64_t>> InUseBetween(
    const std::vector<std::pair<uint64_t, uint64_t>>& Free, uint64_t First, uint64_t End) {
  std::vector<std::pair<uint64_t, uint64_t>> r;
  uint64_t At = First;
  for (const auto& [Lba, Count] : Free) {
    if (Lba > At) r.push_back({At, Lba - At});
    At = Lba + Count;
  }
  if (At < End) r.push_back({At, End - At});
  return r;
}

// The safety check of every run: no range the drive released touches a sector in use.
inline void ExpectNothingReleasedOver(const plat::sim::SimDrive& Drive,
                                      const std::vector<std::pair<uint64_t, uint64_t>>& InUse) {
  for (const plat::sim::SimTrimRecord& R : Drive.Ledger())
    for (const auto& [First, Count] : InUse)
      EXPECT_FALSE(R.lba < First + Count && R.lba + R.count > First)
          << R.command << " released " << R.lba << "+" << R.count << " over data at " << First << "+" << Count;
}

// A volume of the disk as discovery reports it, Sectors long from sector Start.
inline TVolumeInfo RunTestVolume(char Letter, int Disk, int64_t Start, int64_t Sectors,
                                 const std::string& FileSystem) {
  TVolumeInfo v;
  v.DriveLetter = std::string(1, Letter) + ":";
  v.RootPath = v.DriveLetter + "\\";
  v.HasDriveLetter = true;
  v.FileSystem = FileSystem;
  v.PartitionOffset = Start * 512;
  v.PartitionLength = Sectors * 512;
  v.DiskNumber = Disk;
  return v;
}

// A run that is never started, or started with a body of the test's own; its fields are open.
class TTestRun : public TTrimExecutionThread {
 public:
  TTestRun(const TDiskInfo& Disk, TRunMode Mode, TLogger* Log, TTrimProgressEvent OnProgress = nullptr,
           TTrimDoneEvent OnDone = nullptr, TTrimRangeArray Ranges = {},
           TTrimMode TrimMode = TTrimMode::tmFullDevice)
      : TTrimExecutionThread(Disk, Ranges, TrimMode, TTrimExecOptions{}, Mode, Log, std::move(OnProgress),
                             std::move(OnDone)) {}
  using TTrimExecutionThread::AskQuestion;
  using TTrimExecutionThread::FDisk;
  using TTrimExecutionThread::FRanges;
  using TTrimExecutionThread::FReTrim43022Seen;
  using TTrimExecutionThread::FStats;
  using TTrimExecutionThread::ReportProgress;
  using TTrimExecutionThread::ShowInfo;
};
