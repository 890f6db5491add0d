// A run's progress and end on the window, and the fresh partition table after a full-device
// execution: its request, and the reading of a disk's present partition style.
#include <algorithm>
#include <array>
#include <cmath>

#include "base/uByteOrder.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "device/uDeviceHandle.h"
#include "device/uDiskEnum.h"
#include "device/uDiskIdentity.h"
#include "device/uScsiPassThrough.h"
#include "platform/Platform.h"
#include "platform/WinDisk.h"
#include "ui/uMainForm.h"

using namespace plat;

namespace {

std::string Text(TTextId Id) { return GetLangText(Id); }

// The run saw its disk leave the USB bus.
bool DiskLeftBus(const TRunStats& Stats) {
  return std::any_of(Stats.Failures.begin(), Stats.Failures.end(),
                     [](const TBatchResult& F) { return DeviceLeftBus(F.WinErr); });
}

// The bar's position for Done of Total batches. The default rounding of the floating-point
// environment: a half goes to the even neighbour.
int ProgressPercent(uint32_t Done, uint32_t Total) {
  return Total == 0 ? 0
                    : static_cast<int>(std::nearbyint(static_cast<double>(Done) / static_cast<double>(Total) * 100.0));
}

}  // namespace

void TMainForm::RunProgress(uint32_t Done, uint32_t Total, const std::string& Progress) {
  PbProgress->SetPosition(ProgressPercent(Done, Total));
  LblStatus->SetCaption(Text(TTextId::StatusPrefix) + Progress);
}

std::string TMainForm::RunEndStatus() const {
  if (!FRunEnd.Ended) return "";
  if (FRunEnd.Cancelled) return Format(Text(TTextId::StatusCancelledFmt), FRunEnd.Done, FRunEnd.Planned);
  if (FRunEnd.Failed) return Text(TTextId::StatusPrefix) + Text(TTextId::TrimCompletedWithFailures);
  return Text(TTextId::StatusCompleted);
}

void TMainForm::ClearRunEnd() {
  if (LblStatus->Caption() == RunEndStatus()) LblStatus->SetCaption(Text(TTextId::StatusIdle));
  PbProgress->SetPosition(0);
  FRunEnd = TRunEnd();
}

void TMainForm::RunCompleted(const TRunStats& Stats) {
  BtnStart->SetEnabled(true);
  BtnCancel->SetEnabled(false);
  // A full bar and "Completed" only for a run that did complete; otherwise what was done.
  FRunEnd = {true, Stats.Cancelled, Stats.FailedBatches > 0, Stats.DoneBatches, Stats.PlannedBatches};
  const bool Completed = !Stats.Cancelled && Stats.FailedBatches == 0;
  PbProgress->SetPosition(Completed ? 100
                                    : ProgressPercent(static_cast<uint32_t>(std::max(Stats.DoneBatches, 0)),
                                                      static_cast<uint32_t>(std::max(Stats.PlannedBatches, 0))));
  LblStatus->SetCaption(RunEndStatus());
  FLogger->Info(Format("Run completed: planned=%d, done=%d, success=%d, failed=%d, skipped=%d",
                       Stats.PlannedBatches, Stats.DoneBatches, Stats.SucceededBatches, Stats.FailedBatches,
                       Stats.SkippedBatches));
  if (!Stats.FailureReportPath.empty()) FLogger->Warn("Failure report saved: " + Stats.FailureReportPath);

  const bool Executed = Stats.RunMode == TRunMode::rmExecute;
  const bool LeftBus = Executed && DiskLeftBus(Stats);
  // Whatever the boxes below say, the window stops reading a disk that may hang it.
  MarkForReconnectAfter(Stats, FRunDisk);

  if (Stats.Cancelled) {
    // A cancelled run is no success; the batch that the cancel cut short counts as failed, but
    // the person asked for the stop, so the box says so (the counts are in the line above).
    EndBox(TTextId::InfoCaption, Text(TTextId::CancelledByUser), dkInformation,
           EnglishText(TTextId::CancelledByUser));
  } else if (Stats.FailedBatches == 0) {
    EndBox(TTextId::InfoCaption, Text(TTextId::TrimCompleted), dkInformation, EnglishText(TTextId::TrimCompleted));
  } else {
    const std::string Counts = Format("(Success: %d, Failed: %d)", Stats.SucceededBatches, Stats.FailedBatches);
    EndBox(TTextId::ErrorCaption, Text(TTextId::TrimCompletedWithFailures) + "\r\n" + Counts, dkError,
           EnglishText(TTextId::TrimCompletedWithFailures) + "\r\n" + Counts);
  }
  FRunThread = nullptr;

  TDiskInfo Selected;
  if (GetSelectedDisk(Selected) && DiskNeedsReconnect(Selected)) ShowDiskDetails(Selected);

  if (FInitStyle == 0 || FInitStyle == 1) {
    const bool Allowed = Executed && Stats.SucceededBatches != 0 && !Stats.Cancelled && !Stats.BridgeHang;
    // A closing window writes no partition table: nobody would see how it went.
    if (!Allowed || Gone()) {
      if (Executed) {
        const TTextId Why = Stats.Cancelled ? TTextId::InitSkippedCancelled : TTextId::InitSkipped;
        if (!Gone())
          AppendLogLine(Text(Why));
        else  // the window log is gone with the window
          FLogger->Warn(Allowed ? "Disk initialization skipped: the window was closed before the run ended"
                                : EnglishText(Why));
      }
      FInitStyle = -1;
    }
  }
  if (FInitStyle == 0 || FInitStyle == 1) {
    const int32_t Style = FInitStyle;
    FInitStyle = -1;
    const std::string S = Style == 1 ? "GPT" : "MBR";
    // Only the disk that was trimmed is initialised: it may have left and another disk may
    // have taken its number, or volumes may have appeared on it.
    std::string Reason;
    if (LeftBus)
      Reason = "the disk left the USB bus during the run";
    else
      CheckDiskUnchanged(FInitDisk, Reason);
    if (!Reason.empty()) {
      AppendLogLine(Format(Text(TTextId::InitFailedAfterTrimFmt), S));
      FLogger->Error(Format("Disk initialization skipped for PD%d: %s", FInitDisk.DiskNumber, Reason));
      AppMessageBox(Text(TTextId::InitFailedCaption), Text(TTextId::InitFailed), dkError, mbOK);
    } else if (InitializeDisk(FInitDisk, Style)) {
      AppendLogLine(Format(Text(TTextId::InitializedAsFmt), S));
      AppMessageBox(Text(TTextId::InitCompleteCaption),
                    Text(Style == 1 ? TTextId::InitializedGpt : TTextId::InitializedMbr), dkInformation, mbOK);
    } else {
      AppendLogLine(Format(Text(TTextId::InitFailedAfterTrimFmt), S));
      AppMessageBox(Text(TTextId::InitFailedCaption), Text(TTextId::InitFailed), dkError, mbOK);
    }
  }
  FInitStyle = -1;
}

void TMainForm::MarkForReconnectAfter(const TRunStats& Stats, const TDiskInfo& Disk) {
  const bool Executed = Stats.RunMode == TRunMode::rmExecute;
  if (Executed && (Stats.BridgeHang || DiskLeftBus(Stats)) && !DiskNeedsReconnect(Disk))
    FStalledDisks.push_back({Disk.DiskNumber, Disk.SizeBytes, Disk.BusHint});
}

bool TMainForm::InitializeDisk(const TDiskInfo& Disk, int32_t Style) {
  // The request goes through the handle that proved the disk, so no other disk that took its
  // number in the meantime can receive it.
  TDiskProof Proof;
  TDeviceHandle H = OpenProvenDisk(Disk, Proof);
  if (!H.Valid()) {
    // Without a handle nothing was asked of the geometry.
    const bool OpenFailed = !Proof.GeometryRead && Proof.GeometryWinErr == 0;
    if (OpenFailed)
      FLogger->Error(Text(TTextId::OpenDiskFailedPrefix) + Disk.DevicePath);
    else
      FLogger->Error(Format("Disk initialization skipped for PD%d: %s", Disk.DiskNumber, Proof.Reason));
    return false;
  }
  const bool Gpt = Style == 1;
  // CREATE_DISK, 24 bytes: the style, then the MBR signature or the GPT disk id and entry count.
  std::array<uint8_t, 24> In{};
  TByteWriter W(In);
  W.LE32(0, Gpt ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR);
  if (Gpt) {
    GUID Id{};
    if (Win().CoCreateGuid(&Id) != 0) {
      FLogger->Error(Text(TTextId::CreateDiskFailedPrefix) + std::to_string(Win().GetLastError()));
      return false;
    }
    W.LE32(4, Id.Data1);
    W.LE16(8, Id.Data2);
    W.LE16(10, Id.Data3);
    W.Bytes(12, Id.Data4);
    W.LE32(20, 128);
  } else {
    W.LE32(4, static_cast<uint32_t>(Win().GetTickCount64()));
  }
  DWORD Returned = 0;
  if (Win().DeviceIoControl(H.Get(), IOCTL_DISK_CREATE_DISK, In.data(), static_cast<DWORD>(In.size()), nullptr, 0,
                            &Returned) == FALSE_) {
    FLogger->Error(Text(TTextId::CreateDiskFailedPrefix) + std::to_string(Win().GetLastError()));
    return false;
  }
  FLogger->Info(Text(TTextId::InitSucceededPrefix) + Disk.DevicePath + " style=" + (Gpt ? "GPT" : "MBR"));
  return true;
}

int32_t TMainForm::QueryPartitionStyle(const TDiskInfo& Disk) {
  TDeviceHandle H(Win().CreateFileW(Disk.DevicePath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, 0));
  if (!H.Valid()) return 2;
  std::vector<uint8_t> Out(4096, 0);
  DWORD Returned = 0;
  if (Win().DeviceIoControl(H.Get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, Out.data(),
                            static_cast<DWORD>(Out.size()), &Returned) == FALSE_ ||
      Returned < 4)
    return 2;
  const uint32_t Style = TByteReader(Out).LE32(0);
  return Style == PARTITION_STYLE_MBR ? 0 : Style == PARTITION_STYLE_GPT ? 1 : 2;
}

bool TMainForm::MbrAddressesWholeDisk(const TDiskInfo& Disk, uint64_t& Blocks, uint32_t& BlockBytes) {
  uint64_t Size = Disk.SizeBytes;
  BlockBytes = 0;
  TDeviceHandle H(Win().CreateFileW(Disk.DevicePath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, 0));
  uint64_t Live = 0;
  uint32_t Bytes = 0;
  if (H.Valid() && TDiskEnumerator::QueryGeometry(H.Get(), Live, Bytes)) {
    Size = std::max(Size, Live);
    BlockBytes = Bytes;
  }
  if (BlockBytes < 512) BlockBytes = 512;
  Blocks = Size / BlockBytes;
  return Blocks <= (uint64_t{1} << 32);
}
