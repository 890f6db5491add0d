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
constexpr const char* kReTrimDeclined = "User declined Optimize-Volume -ReTrim fallback";
constexpr const char* kReTrimFailed = "Optimize-Volume -ReTrim fallback failed for all eligible volumes";

bool IsNtfs(const TVolumeInfo& V) { return UpperCase(V.FileSystem) == "NTFS"; }

}  // namespace

void TTrimRun::ReTrimOffer(TTrimBatch& B) {
  // Offered: failed until a volume is covered.
  State.Outcome(TTrimPath::tpReTrim) = TPathOutcome::poFailed;
  if (State.ForcedReTrim) {
    Info("Windows ReTrim mode selected; running Optimize-Volume -ReTrim");
  } else {
    TTextId question = TTextId::ReTrimQuestion;
    if (State.Pinned) {
      Info("Pinned Volume guard rejected raw paths; offering Optimize-Volume -ReTrim fallback");
      question = TTextId::PinnedReTrimQuestion;
    } else {
      Warn("Hardware TRIM paths exhausted; offering Optimize-Volume -ReTrim fallback");
    }
    if (!Host.AskQuestion(GetLangText(TTextId::InfoCaption), GetLangText(question))) {
      Warn(kReTrimDeclined);
      B.ReTrimFailure = kReTrimDeclined;
      return;
    }
  }

  // Windows cannot retrim a volume this run still holds locked: release every handle that is
  // not a pinned one, also after a lock that failed part way.
  if (!State.Pinned) {
    const bool dismounted = State.Dismounted;
    CloseVolumeHandles();
    State.Dismounted = false;
    if (dismounted) Info("Volume handles released; waiting for auto-remount before Optimize-Volume");
  }

  bool covered = false;
  for (const TVolumeInfo& v : Context.Disk.Volumes) {
    if (Host.IsCancelRequested()) {
      Warn("Cancel requested; skipping remaining Optimize-Volume -ReTrim volumes");
      break;
    }
    if (!IsNtfs(v) || v.DriveLetter.empty()) continue;
    const char letter = v.DriveLetter[0];
    const std::string l(1, letter);
    if (!Host.WaitForVolumeRemount(letter, kRemountWaitMs)) {
      Warn(Format("Drive %s: did not remount within 8s; skipping Optimize-Volume", l));
      continue;
    }
    // Windows retrims by letter: only a letter that still names this volume of the run's disk.
    {
      TVolumeProof proof;
      if (!OpenVolume(v, proof).Valid()) {
        if (State.DeviceGone) break;
        Warn(Format("Drive %s: not confirmed as the planned volume (%s); skipping Optimize-Volume", l,
                    proof.Reason));
        continue;
      }
    }
    Info(Format("Optimize-Volume -ReTrim starting for %s:", l));
    int32_t exitCode = -1;
    if (Host.RunOptimizeVolumeReTrim(letter, kReTrimTimeoutMs, exitCode)) {
      Info(Format("Optimize-Volume -ReTrim completed for %s: (exit=%d)", l, exitCode));
      covered = true;
    } else {
      Warn(Format("Optimize-Volume -ReTrim failed for %s: (exit=%d)", l, exitCode));
    }
    if (Host.ReTrim43022Seen()) State.Saw43022 = true;
  }

  if (covered) {
    State.Outcome(TTrimPath::tpReTrim) = TPathOutcome::poOk;
    B.Result.Success = true;
    return;
  }
  Error(kReTrimFailed);
  B.ReTrimFailure = kReTrimFailed;
  // A cancel that came while ReTrim ran is the user's answer already: nothing more is asked.
  if (State.Pinned && Context.Options.ExpertAtaRetry && State.Saw43022 && !State.BridgeHang() &&
      !State.ForcedReTrim && !State.DeviceGone && !Host.IsCancelRequested())
    ExpertRetry(B);
}

void TTrimRun::ExpertRetry(TTrimBatch& B) {
  if (!Host.AskQuestion(GetLangText(TTextId::WarningCaption), GetLangText(TTextId::ExpertAtaRetryQuestion))) {
    Warn("User declined expert ATA Pass-Through retry after ReTrim failure");
    return;
  }
  Warn("Expert retry accepted: releasing pinned handles and retrying ATA Pass-Through");
  CloseVolumeHandles();
  State.Dismounted = false;
  State.Pinned = false;
  TryAtaPassThrough(B);
  if (B.Result.Success)
    Info("Expert ATA Pass-Through retry succeeded after ReTrim failure");
  else
    Error("Expert ATA Pass-Through retry failed after ReTrim failure");
}

void TTrimRun::Finish() {
  ProbeUsbDisconnect();
  TRunStats& st = Context.Stats;
  st.EndTime = Now();
  st.Cancelled = Host.IsCancelRequested();
  st.BridgeHang = State.BridgeHang();
  LogTotals();
  WriteReports();
  ShowNotices();
}

void TTrimRun::ProbeUsbDisconnect() {
  const TRunStats& st = Context.Stats;
  State.UsbDisconnect =
      State.DeviceGone || std::any_of(st.Failures.begin(), st.Failures.end(),
                                      [](const TBatchResult& f) { return DeviceLeftBus(f.WinErr); });
  if (State.UsbDisconnect) return;
  if (!Executes || st.FailedBatches <= 0) return;
  if (State.BridgeHang()) {
    State.UsbDisconnect = true;
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
    if (!OpenDeviceReadWrite(Context.Disk.DevicePath).Valid()) {
      const uint32_t e = Win().GetLastError();
      // A disk path that opened at the run's start and now is not found has left the bus too.
      if (DeviceLeftBus(e) || e == ERROR_FILE_NOT_FOUND) {
        State.UsbDisconnect = true;
        Warn(Format("USB bus disconnect detected during delayed probe (attempt=%d, winerr=%d)", attempt, e));
        return;
      }
    }
    if (Win().GetTickCount64() < deadline) Win().Sleep(kProbeStepMs);
  } while (Win().GetTickCount64() < deadline);
  Info(Format("USB bus disconnect delayed probe finished: disk still present (attempts=%d)", attempt));
}

void TTrimRun::LogTotals() {
  const double gib = static_cast<double>(State.TrimmedSectors) * 512.0 / 1073741824.0;
  const std::string sectors = FormatGroupedU64(State.TrimmedSectors);
  if (!Executes)
    Info(Format("Total planned (dry-run): sectors=%s (%.3f GiB)", sectors, gib));
  else if (State.Outcome(TTrimPath::tpReTrim) == TPathOutcome::poOk)
    Info("Total trimmed: managed by Windows Optimize-Volume -ReTrim (sector count not reported)");
  else
    Info(Format("Total trimmed: sectors=%s (%.3f GiB)", sectors, gib));
}

void TTrimRun::WriteReports() {
  // A report that cannot be written is logged; the run still ends, with its notices and its
  // one completion call.
  if (!Executes) {
    try {
      Host.WriteDryRunGolden();
    } catch (const std::exception& e) {
      Error(std::string("Dry-run report could not be written: ") + e.what());
    }
  }
  if (!Context.Stats.Failures.empty()) {
    try {
      Host.WriteFailureReport();
    } catch (const std::exception& e) {
      Error(std::string("Failure report could not be written: ") + e.what());
    }
  }
}

void TTrimRun::ShowNotices() {
  if (!Executes) return;
  const TRunStats& st = Context.Stats;
  if (State.UsbDisconnect) {
    Info("USB bus disconnect detected (winerr=55 in batch and/or disk path reopen); showing user guidance");
    Host.ShowInfo(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::UsbDisconnected));
  } else if (st.FailedBatches > 0 && st.SucceededBatches == 0 && Context.Disk.Transport == TTransportKind::tkUAS &&
             !Context.Disk.Volumes.empty() && !State.HasNtfs) {
    // The batch a cancel cut short shows no dead end of the bridge: the hint would say more than
    // the run found.
    if (st.Cancelled) {
      Info("Reformat-as-NTFS guidance not shown: the run was cancelled");
      return;
    }
    // ReTrim needs TRIM of the drive too: on one that reports none, reformatting would cost the
    // person the volume's data and gain nothing.
    if (Context.Disk.Ata.IdentifyOk && !Context.Disk.Ata.TrimSupported) {
      Info("Reformat-as-NTFS guidance not shown: the drive reports no TRIM support");
      return;
    }
    if (!Context.ReformatNoticeAllowed) {
      Info("Reformat-as-NTFS guidance already shown to user (UAS + non-NTFS dead-end); not shown again");
      return;
    }
    Info("Showing reformat-as-NTFS guidance to user (UAS + non-NTFS dead-end)");
    Host.ShowInfo(GetLangText(TTextId::InfoCaption), GetLangText(TTextId::ReformatAsNtfsNotice));
    ReformatShown = true;
  }
}
