// The Windows ReTrim offer with its expert retry, and the end of a run: the USB disconnect
// probe, the totals, the reports and at most one notice.
#include <algorithm>
#include <exception>

#include "core/uDateTime.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "core/uNumbers.h"
#include "core/uText.h"
#include "engine/uTrimRun.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr uint32_t kRemountWaitMs = 8000;
constexpr uint32_t kReTrimTimeoutMs = 600000;
constexpr uint64_t kProbeWindowMs = 3000;
constexpr DWORD kProbeStepMs = 250;

bool IsNtfs(const TVolumeInfo& V) { return UpperCase(V.FileSystem) == "NTFS"; }

}  // namespace

void TTrimRun::ReTrimOffer(TTrimBatch& B) {
  if (B.Result.Success || H.IsCancelRequested() || !Executes || C.TrimMode != TTrimMode::tmFreeSpace ||
      S.ReTrimOffered || C.Disk.Volumes.empty() || !S.HasNtfs)
    return;
  S.ReTrimOffered = true;
  if (S.ForcedReTrim) {
    Info("Windows ReTrim mode selected; running Optimize-Volume -ReTrim");
  } else {
    TTextId question = TTextId::ReTrimQuestion;
    if (S.Pinned) {
      Info("Pinned Volume guard rejected raw paths; offering Optimize-Volume -ReTrim fallback");
      question = TTextId::PinnedReTrimQuestion;
    } else {
      Warn("Hardware TRIM paths exhausted; offering Optimize-Volume -ReTrim fallback");
    }
    if (!H.AskQuestion(GetLangText(TTextId::InfoCaption), GetLangText(question))) {
      Warn("User declined Optimize-Volume -ReTrim fallback");
      return;
    }
  }

  // Windows cannot retrim a volume this run still holds locked: release every handle that is
  // not a pinned one, also after a lock that failed part way.
  if (!S.Pinned) {
    const bool dismounted = S.Dismounted;
    CloseVolumeHandles();
    S.Dismounted = false;
    if (dismounted) Info("Volume handles released; waiting for auto-remount before Optimize-Volume");
  }

  bool covered = false;
  for (const TVolumeInfo& v : C.Disk.Volumes) {
    if (H.IsCancelRequested()) {
      Warn("Cancel requested; skipping remaining Optimize-Volume -ReTrim volumes");
      break;
    }
    if (!IsNtfs(v) || v.DriveLetter.empty()) continue;
    const char letter = v.DriveLetter[0];
    const std::string l(1, letter);
    if (!H.WaitForVolumeRemount(letter, kRemountWaitMs)) {
      Warn(Format("Drive %s: did not remount within 8s; skipping Optimize-Volume", l));
      continue;
    }
    // Windows retrims by letter: only a letter that still names this volume of the run's disk.
    {
      TVolumeProof proof;
      if (!OpenVolume(v, proof).Valid()) {
        if (S.DeviceGone) break;
        Warn(Format("Drive %s: not confirmed as the planned volume (%s); skipping Optimize-Volume", l,
                    proof.Reason));
        continue;
      }
    }
    Info(Format("Optimize-Volume -ReTrim starting for %s:", l));
    int32_t exitCode = -1;
    if (H.RunOptimizeVolumeReTrim(letter, kReTrimTimeoutMs, exitCode)) {
      Info(Format("Optimize-Volume -ReTrim completed for %s: (exit=%d)", l, exitCode));
      covered = true;
    } else {
      Warn(Format("Optimize-Volume -ReTrim failed for %s: (exit=%d)", l, exitCode));
    }
    if (H.ReTrim43022Seen()) S.Saw43022 = true;
  }

  if (covered) {
    S.ReTrimCovered = true;
    B.Result.Success = true;
    return;
  }
  Error("Optimize-Volume -ReTrim fallback failed for all eligible volumes");
  if (S.Pinned && C.Options.ExpertAtaRetry && S.Saw43022 && !S.BridgeHang && !S.ForcedReTrim && !S.DeviceGone)
    ExpertRetry(B);
}

void TTrimRun::ExpertRetry(TTrimBatch& B) {
  if (!H.AskQuestion(GetLangText(TTextId::WarningCaption), GetLangText(TTextId::ExpertAtaRetryQuestion))) {
    Warn("User declined expert ATA Pass-Through retry after ReTrim failure");
    return;
  }
  Warn("Expert retry accepted: releasing pinned handles and retrying ATA Pass-Through");
  CloseVolumeHandles();
  S.Dismounted = false;
  S.Pinned = false;
  TryAtaPassThrough(B);
  if (B.Result.Success)
    Info("Expert ATA Pass-Through retry succeeded after ReTrim failure");
  else
    Error("Expert ATA Pass-Through retry failed after ReTrim failure");
}

void TTrimRun::Finish() {
  ProbeUsbDisconnect();
  TRunStats& st = C.Stats;
  st.EndTime = Now();
  st.Cancelled = H.IsCancelRequested();
  st.BridgeHang = S.BridgeHang;
  LogTotals();
  WriteReports();
  ShowNotices();
}

void TTrimRun::ProbeUsbDisconnect() {
  const TRunStats& st = C.Stats;
  S.UsbDisconnect = S.DeviceGone || std::any_of(st.Failures.begin(), st.Failures.end(),
                                                [](const TBatchResult& f) { return DeviceLeftBus(f.WinErr); });
  if (S.UsbDisconnect) return;
  if (!Executes || st.FailedBatches <= 0) return;
  if (S.BridgeHang) {
    S.UsbDisconnect = true;
    Info(
        "Skipping physical-drive reopen probe because SCSI UNMAP bridge hang was already detected; showing USB "
        "reconnect guidance");
    return;
  }
  // The bridge may take a moment to drop off the bus after a failed command.
  const uint64_t deadline = Win().GetTickCount64() + kProbeWindowMs;
  int32_t attempt = 0;
  do {
    attempt++;
    if (!OpenDeviceReadWrite(C.Disk.DevicePath).Valid()) {
      const uint32_t e = Win().GetLastError();
      // A disk path that opened at the run's start and now is not found has left the bus too.
      if (DeviceLeftBus(e) || e == ERROR_FILE_NOT_FOUND) {
        S.UsbDisconnect = true;
        Warn(Format("USB bus disconnect detected during delayed probe (attempt=%d, winerr=%d)", attempt, e));
        return;
      }
    }
    if (Win().GetTickCount64() < deadline) Win().Sleep(kProbeStepMs);
  } while (Win().GetTickCount64() < deadline);
  Info(Format("USB bus disconnect delayed probe finished: disk still present (attempts=%d)", attempt));
}

void TTrimRun::LogTotals() {
  const double gib = static_cast<double>(S.TrimmedSectors) * 512.0 / 1073741824.0;
  const std::string sectors = FormatGroupedU64(S.TrimmedSectors);
  if (!Executes)
    Info(Format("Total planned (dry-run): sectors=%s (%.3f GiB)", sectors, gib));
  else if (S.ReTrimCovered)
    Info("Total trimmed: managed by Windows Optimize-Volume -ReTrim (sector count not reported)");
  else
    Info(Format("Total trimmed: sectors=%s (%.3f GiB)", sectors, gib));
}

void TTrimRun::WriteReports() {
  // A report that cannot be written is logged; the run still ends, with its notices and its
  // one completion call.
  if (!Executes) {
    try {
      H.WriteDryRunGolden();
    } catch (const std::exception& e) {
      Error(std::string("Dry-run report could not be written: ") + e.what());
    }
  }
  if (!C.Stats.Failures.empty()) {
    try {
      H.WriteFailureReport();
    } catch (const std::exception& e) {
      Error(std::string("Failure report could not be written: ") + e.what());
    }
  }
}

void TTrimRun::ShowNotices() {
  if (!Executes) return;
  const TRunStats& st = C.Stats;
  if (S.UsbDisconnect) {
    Info("USB bus disconnect detected (winerr=55 in batch and/or disk path reopen); showing user guidance");
    H.ShowInfo(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::UsbDisconnected));
  } else if (st.FailedBatches > 0 && st.SucceededBatches == 0 && C.Disk.Transport == TTransportKind::tkUAS &&
             !C.Disk.Volumes.empty() && !S.HasNtfs) {
    Info("Showing reformat-as-NTFS guidance to user (UAS + non-NTFS dead-end)");
    H.ShowInfo(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::ReformatAsNtfsNotice));
  }
}
