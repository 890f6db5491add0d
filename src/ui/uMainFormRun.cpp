// Starting and cancelling a run: the mode and its file-system policy, the checks and both
// confirmations of Start, the volume flush, the plan and the options, and the helpers that
// compare a listed disk with the device as it is now.
#include <algorithm>
#include <exception>

#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "core/uText.h"
#include "device/uDiskEnum.h"
#include "engine/uTrimExecutor.h"
#include "engine/uTrimPlanner.h"
#include "engine/uValidation.h"
#include "engine/uVolumeBitmap.h"
#include "platform/Platform.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/uMainForm.h"

using namespace plat;

namespace {

std::string Text(TTextId Id) { return GetLangText(Id); }

}  // namespace

// ---- Start ----------------------------------------------------------------------------------

void TMainForm::BtnStartClick(tk::TControl*) {
  TDiskInfo Disk;
  if (!GetSelectedDisk(Disk)) {
    AppMessageBox(Text(TTextId::ErrorCaption), Text(TTextId::SelectDisk), dkError, mbOK);
    return;
  }
  // A run beside the real test would trim what the test is writing.
  if (FRunThread || FRealTestThread) {
    AppMessageBox(Text(TTextId::RunningCaption), Text(TTextId::AlreadyRunning), dkInformation, mbOK);
    return;
  }
  // Every later step asks the device; a disk that may hang is not asked.
  if (DiskRefusedForReconnect(Disk, "Start")) return;
  if (!FValidator->IsElevated()) {
    AppMessageBox(Text(TTextId::AdminRequiredCaption), Text(TTextId::AdminPrivilegesRequired), dkError, mbOK);
    return;
  }
  std::string Reason;
  if (!CheckDiskUnchanged(Disk, Reason)) {
    FLogger->Warn("Disk state changed since last refresh: " + Reason);
    AppMessageBox(Text(TTextId::WarningCaption), Text(TTextId::DiskConfigChanged), dkWarning, mbOK);
    StartDiskRefresh();
    return;
  }
  const TTrimMode Mode = RgMode->ItemIndex() == 1 ? TTrimMode::tmFreeSpace : TTrimMode::tmFullDevice;
  const bool DryRun = CbDryRun->Checked();
  const TRunMode RunMode = DryRun ? TRunMode::rmDryRun : TRunMode::rmExecute;
  if (Mode == TTrimMode::tmFullDevice && DiskHasVolumes(Disk)) {
    AppMessageBox(Text(TTextId::RestrictionCaption), Text(TTextId::FullTrimNeedsNoVolumes), dkInformation, mbOK);
    return;
  }

  const bool HasNtfs = std::any_of(Disk.Volumes.begin(), Disk.Volumes.end(),
                                   [](const TVolumeInfo& V) { return UpperCase(V.FileSystem) == "NTFS"; });
  // A refusal that only an execution meets: a dry run goes on, and its log says what an execution
  // of the same choices would be refused for. True when Start stops here.
  auto RefusedForExecution = [&](const char* What, const std::string& Why) {
    if (DryRun) {
      FLogger->Warn(Format("Dry run: an execution would be refused (%s): %s", What, Why));
      return false;
    }
    FLogger->Warn(Format("%s refused: %s", What, Why));
    return true;
  };

  // ReTrim retrims the free space of NTFS volumes and nothing else: the run would fail its first
  // batch without a command sent.
  if (ReadExecOptions().ForcedPath == TForcedTrimPath::ftpWindowsReTrim && !HasNtfs &&
      RefusedForExecution("Windows ReTrim only", Format("PD%d has no NTFS volume", Disk.DiskNumber))) {
    AppMessageBox(Text(TTextId::InfoCaption), Text(TTextId::ReTrimNeedsNtfs), dkInformation, mbOK);
    return;
  }

  FInitStyle = -1;
  if (Mode == TTrimMode::tmFullDevice) {
    const int Style = CbInitStyle->ItemIndex();
    uint64_t Blocks = 0;
    uint32_t BlockBytes = 0;
    // The space an MBR cannot address would be lost to every partition.
    if (Style == 1 && !MbrAddressesWholeDisk(Disk, Blocks, BlockBytes)) {
      const uint64_t LimitBytes = (uint64_t{1} << 32) * BlockBytes;
      const std::string Limit = LimitBytes % (uint64_t{1} << 40) == 0 ? Format("%u TiB", LimitBytes >> 40)
                                                                        : Format("%u GiB", LimitBytes >> 30);
      if (RefusedForExecution("MBR initialization",
                              Format("PD%d has %u logical blocks of %u bytes; an MBR addresses at most 4294967296 "
                                     "(%s)",
                                     Disk.DiskNumber, Blocks, BlockBytes, Limit))) {
        AppMessageBox(Text(TTextId::RestrictionCaption), Format(Text(TTextId::MbrBeyondLimitFmt), Limit), dkError,
                      mbOK);
        return;
      }
    }
    if (Style == 0 || Style == 1) {
      FInitStyle = Style == 0 ? 1 : 0;
      FInitDisk = Disk;
      // A dry run initialises nothing, so it announces nothing.
      if (!DryRun) AppendLogLine(Text(Style == 0 ? TTextId::WillInitGpt : TTextId::WillInitMbr));
    }
  }
  if (CbFlushVolumes->Checked()) FLogger->Info("Flush option enabled: will flush mounted volumes before TRIM.");
  AppMessageBox(Text(TTextId::InfoCaption), Text(TTextId::StopWritesDuringTrim), dkInformation, mbOK);

  if (Mode == TTrimMode::tmFreeSpace && !CheckFsPolicy(Disk, Reason)) {
    AppMessageBox(Text(TTextId::ModeRestrictionCaption), Text(TTextId::FreeSpaceUnavailablePrefix) + Reason,
                  dkError, mbOK);
    return;
  }
  TValidationResult R = FValidator->CheckSystemDiskPolicy(Disk, !CbAllowSystemDisk->Checked());
  FLogger->Info(R.Message);
  if (!R.Ok) {
    AppMessageBox(Text(TTextId::PolicyBlockedCaption), R.Message, dkError, mbOK);
    return;
  }
  R = FValidator->CheckTransport(Disk, !DryRun);
  FLogger->Info("Current transport: " + TransportToText(Disk.Transport));
  FLogger->Info(R.Message);
  if (!R.Ok) {
    AppMessageBox(Text(TTextId::PolicyBlockedCaption), R.Message, dkError, mbOK);
    return;
  }

  if (!DryRun) {
    R = FValidator->CheckDiskWritable(Disk);
    FLogger->Info(R.Message);
    if (!R.Ok) {
      AppMessageBox(Text(TTextId::PreVerificationFailedCaption), R.Message, dkError, mbOK);
      return;
    }
    R = FValidator->CheckTrimSupport(Disk);
    FLogger->Info(R.Message);
    if (!R.Ok) {
      AppMessageBox(Text(TTextId::PreVerificationFailedCaption), R.Message, dkError, mbOK);
      return;
    }
    if (R.Warning) {
      if (Disk.Ata.Probed && Disk.Ata.TrimSupported) {
        FLogger->Info(
            "Skipping TRIM preflight popup: ATA IDENTIFY reports DSM/TRIM capable (word 169) despite "
            "StorageDeviceTrimProperty mismatch");
      } else if (HasNtfs) {
        FLogger->Info(
            "Skipping TRIM preflight popup: NTFS volume present (Windows ReTrim fallback available if hardware "
            "paths fail)");
      } else {
        FLogger->Warn("Bridge reports TRIM unsupported; asking user to confirm before running");
        if (AppMessageBox(Text(TTextId::CompatibilityWarningCaption), Text(TTextId::TrimUnsupportedQuestion),
                          dkWarning, mbYes | mbNo) == IDYES) {
          FLogger->Info("User confirmed running on TRIM-unsupported bridge");
        } else {
          FLogger->Info("User declined hardware TRIM after TRIM-compatibility warning");
          AppMessageBox(Text(TTextId::InfoCaption), Text(TTextId::ReTrimNeedsNtfs), dkInformation, mbOK);
          FLogger->Info("No NTFS volume: exiting after hardware TRIM declined");
          return;
        }
      }
    }
    R = FValidator->ProbeBridge(Disk);
    FLogger->Info(R.Message);
    if (!R.Ok) {
      AppMessageBox(Text(TTextId::PreVerificationFailedCaption), R.Message, dkError, mbOK);
      return;
    }
    if (!ConfirmTwoStep(Disk)) return;
  }

  if (CbFlushVolumes->Checked()) FlushMountedVolumes(Disk);

  TTrimRangeArray Ranges;
  std::string PlanMsg;
  if (!FPlanner->GeneratePlan(Disk, Mode, Ranges, PlanMsg)) {
    AppMessageBox(Text(TTextId::PlanGenerationFailedCaption), PlanMsg, dkError, mbOK);
    return;
  }
  const TTrimExecOptions Options = ReadExecOptions();

  PbProgress->SetPosition(0);
  LblStatus->SetCaption(Text(TTextId::StatusRunning));
  BtnStart->SetEnabled(false);
  BtnCancel->SetEnabled(true);
  FRunDisk = Disk;
  TTrimExecutionThread* Run = nullptr;
  try {
    Run = new TTrimExecutionThread(
        Disk, Ranges, Mode, Options, RunMode, FLogger,
        [this](uint32_t Done, uint32_t Total, const std::string& T) { RunProgress(Done, Total, T); },
        [this](const TRunStats& Stats) { RunCompleted(Stats); });
    // Its completion handler runs on this thread, so it cannot come before the field is set.
    Run->Start();
    FRunThread = Run;
  } catch (...) {
    // Nothing runs: the window must not stay busy, and nothing is initialised afterwards.
    const std::string Msg = tk::TApplication::ExceptionMessage(std::current_exception());
    delete Run;  // never started: freed here
    FRunThread = nullptr;
    FInitStyle = -1;
    PbProgress->SetPosition(0);
    LblStatus->SetCaption(Text(TTextId::StatusIdle));
    BtnStart->SetEnabled(true);
    BtnCancel->SetEnabled(false);
    FLogger->Error("TRIM execution could not be started: " + Msg);
    AppMessageBox(Text(TTextId::ErrorCaption), "TRIM execution could not be started: " + Msg, dkError, mbOK);
  }
}

TTrimExecOptions TMainForm::ReadExecOptions() {
  TTrimExecOptions O;
  O.TimeoutMs = SpTimeout->Value();
  O.AtaRetries = SpRetry->Value();
  O.BatchEntries = SpBatch->Value();
  switch (CmbBatchLimit->ItemIndex()) {
    case 0: O.BatchLimit = 1; break;
    case 1: O.BatchLimit = 10; break;
    case 2: O.BatchLimit = 100; break;
    default: O.BatchLimit = 0; break;
  }
  O.ForcedPath = CbWinRetrimOnly->Checked() ? TForcedTrimPath::ftpWindowsReTrim : TForcedTrimPath::ftpAuto;
  if (CmbUaspMethod) {
    if (CmbUaspMethod->ItemIndex() == 1) O.ForcedPath = TForcedTrimPath::ftpScsiUnmap;
    if (CmbUaspMethod->ItemIndex() == 2) O.ForcedPath = TForcedTrimPath::ftpAtaPassThrough;
  }
  O.ExpertAtaRetry = true;
  O.QuietIterations = CbQuietIteration->Checked();
  return O;
}

void TMainForm::BtnCancelClick(tk::TControl*) {
  if (!FRunThread) return;
  FLogger->Warn("Cancel requested by user");
  FRunThread->RequestCancel();
}

// ---- mode, advanced options, serial mask ------------------------------------------------------

void TMainForm::RgModeClick(tk::TControl* Sender) {
  if (FUpdatingMode) return;
  TDiskInfo Disk;
  if (!GetSelectedDisk(Disk)) {
    LblInitStyle->SetVisible(false);
    CbInitStyle->SetVisible(false);
    return;
  }
  FUpdatingMode = true;
  struct TClear {
    bool& Flag;
    ~TClear() { Flag = false; }
  } Clear{FUpdatingMode};

  const bool HasVolumes = DiskHasVolumes(Disk);
  if (RgMode->ItemIndex() != 1 && HasVolumes) {
    if (Sender)
      AppMessageBox(Text(TTextId::RestrictionCaption), Text(TTextId::FullTrimNeedsNoVolumes), dkInformation, mbOK);
    RgMode->SetItemIndex(1);
  }
  std::string Reason;
  if (CheckFsPolicy(Disk, Reason)) {
    LblFsPolicy->SetCaption(Text(TTextId::FsPolicyEnabled));
  } else {
    if (RgMode->ItemIndex() == 1 && !HasVolumes) RgMode->SetItemIndex(0);
    LblFsPolicy->SetCaption(Text(TTextId::FsPolicyDisabledPrefix) + Reason);
  }
  const bool ShowInit = RgMode->ItemIndex() != 1 && !HasVolumes;
  LblInitStyle->SetVisible(ShowInit);
  CbInitStyle->SetVisible(ShowInit);
  if (ShowInit) {
    // A disk to reconnect is not asked; it gets the default.
    const int32_t Style = DiskNeedsReconnect(Disk) ? 2 : QueryPartitionStyle(Disk);
    // MBR only where it reaches the whole disk.
    uint64_t Blocks = 0;
    uint32_t BlockBytes = 0;
    CbInitStyle->SetItemIndex(Style == 0 && MbrAddressesWholeDisk(Disk, Blocks, BlockBytes) ? 1 : 0);
  }
}

void TMainForm::CbAdvancedClick(tk::TControl*) {
  GroupAdvanced->SetVisible(CbAdvanced->Checked() && PageMain->ActivePage() == TabTrim);
  TDiskInfo Disk;
  if (GetSelectedDisk(Disk)) ShowDiskDetails(Disk);
}

void TMainForm::CbMaskSerialClick(tk::TControl*) {
  TDiskInfo Disk;
  if (GetSelectedDisk(Disk)) ShowDiskDetails(Disk);
}

// ---- the helpers ----------------------------------------------------------------------------

bool TMainForm::CheckDiskUnchanged(const TDiskInfo& Disk, std::string& Reason) {
  Reason.clear();
  std::string Model, Serial;
  uint64_t Size = 0;
  if (!FDiskEnum->QueryIdentity(Disk.DevicePath, Model, Serial, Size)) {
    Reason = "disk not accessible (removed or renumbered)";
    return false;
  }
  if (!Disk.Serial.empty() && !Serial.empty() && Disk.Serial != Serial) {
    Reason = "serial number mismatch (different disk now has this drive number)";
    return false;
  }
  if (Size != 0 && Disk.SizeBytes != 0 && Size != Disk.SizeBytes) {
    Reason = Format("disk size mismatch (cached=%d, live=%d)", Disk.SizeBytes, Size);
    return false;
  }
  TVolumeInfoArray Live;
  FDiskEnum->MapVolumes(Live, Disk.DiskNumber);
  if (Live.size() != Disk.Volumes.size()) {
    Reason = Format("volume count changed (cached=%d, live=%d)", static_cast<int32_t>(Disk.Volumes.size()),
                    static_cast<int32_t>(Live.size()));
    return false;
  }
  for (const TVolumeInfo& V : Disk.Volumes) {
    const TVolumeInfo* Now = nullptr;
    for (const TVolumeInfo& L : Live)
      if (L.DriveLetter == V.DriveLetter) {
        Now = &L;
        break;
      }
    if (!Now) {
      Reason = Format("volume %s no longer mapped to this disk", V.DriveLetter);
      return false;
    }
    if (UpperCase(Now->FileSystem) != UpperCase(V.FileSystem)) {
      Reason = Format("volume %s file system changed (%s -> %s)", V.DriveLetter, V.FileSystem, Now->FileSystem);
      return false;
    }
    if (Now->PartitionOffset != V.PartitionOffset || Now->PartitionLength != V.PartitionLength) {
      Reason = Format("volume %s partition layout changed", V.DriveLetter);
      return false;
    }
  }
  return true;
}

bool TMainForm::CheckFsPolicy(const TDiskInfo& Disk, std::string& Reason) {
  bool Supported = false;
  bool Fat = false;
  for (const TVolumeInfo& V : Disk.Volumes) {
    const std::string Fs = Trim(V.FileSystem);
    if (IsFreeRangeFileSystem(Fs)) {
      Supported = true;
    } else if (UpperCase(Fs) == "FAT") {
      Fat = true;
    } else if (Fs == "RAW/Unknown") {
      Reason = "RAW/Unknown volume exists on this disk";
      return false;
    }
  }
  if (Supported) {
    Reason = "ok";
    return true;
  }
  Reason = Fat ? "FAT12/16 volumes (shown as FAT) cannot use free-space TRIM here; use NTFS, exFAT, or FAT32 - or "
                 "delete all volumes for full-device TRIM"
               : "No NTFS/exFAT/FAT32 volume mapped to selected PhysicalDrive";
  return false;
}

bool TMainForm::DiskHasVolumes(const TDiskInfo& Disk) { return !Disk.Volumes.empty(); }

bool TMainForm::ConfirmTwoStep(const TDiskInfo& Disk) {
  if (!ConfirmYesNo(Text(TTextId::TrimWarningCaption), Text(TTextId::TrimRiskQuestion))) return false;
  const std::string Expected = std::to_string(Disk.DiskNumber);
  std::string Answer;
  if (!tk::InputQuery(this, Text(TTextId::ConfirmCaption),
                      Text(TTextId::EnterDiskNumberPrefix) + "\"" + Expected + "\"", Answer))
    return false;
  if (Trim(Answer) == Expected) return true;
  AppMessageBox(Text(TTextId::MismatchCaption), Text(TTextId::DiskNumberMismatch), dkError, mbOK);
  return false;
}

bool TMainForm::FlushMountedVolumes(const TDiskInfo& Disk) {
  if (!CbFlushVolumes->Checked()) return true;
  bool Ok = true;
  for (const TVolumeInfo& V : Disk.Volumes) {
    if (V.RootPath.empty() || !V.HasDriveLetter) continue;
    const std::string Path = "\\\\.\\" + V.DriveLetter.substr(0, 2);
    HANDLE H = Win().CreateFileW(Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!IsValidHandle(H)) {
      FLogger->Warn(Format("Flush skipped: cannot open %s (%s)", Path, WinErrorText(Win().GetLastError())));
      Ok = false;
      continue;
    }
    if (Win().FlushFileBuffers(H) != FALSE_) {
      FLogger->Info("FlushFileBuffers succeeded: " + Path);
    } else {
      FLogger->Warn(Format("FlushFileBuffers failed: %s (%s)", Path, WinErrorText(Win().GetLastError())));
      Ok = false;
    }
    Win().CloseHandle(H);
  }
  return Ok;
}

bool TMainForm::GetRealTestDriveRoot(std::string& Root) {
  Root.clear();
  if (CmbRealTestDrive->ItemIndex() < 0) return false;
  std::string S = CmbRealTestDrive->Text();
  const size_t Paren = S.find('(');
  if (Paren != std::string::npos && Paren >= 1) S = S.substr(0, Paren);
  S = Trim(S);
  // An empty item must not become "\", the root of the current drive.
  if (S.empty()) return false;
  if (S.back() != '\\') S += '\\';
  Root = S;
  return true;
}
