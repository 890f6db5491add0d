// The disk list: the scan and detail threads, the application of their results, the list item
// texts, the selection, and the debounce of device arrivals and removals.
#include <algorithm>
#include <exception>

#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "core/uText.h"
#include "engine/uTrimExecutor.h"
#include "platform/WinDeviceNotify.h"
#include "ui/uDiskThreads.h"
#include "ui/uMainForm.h"

using namespace plat;

namespace {

bool ContainsAny(const std::string& Text, std::initializer_list<const char*> Parts) {
  return std::any_of(Parts.begin(), Parts.end(), [&](const char* P) { return Text.find(P) != std::string::npos; });
}

std::string ExceptionText(const std::exception_ptr& E) { return tk::TApplication::ExceptionMessage(E); }

}  // namespace

// ---- texts of the list ----------------------------------------------------------------------

double TMainForm::BytesToGiB(uint64_t Bytes) { return static_cast<double>(Bytes) / 1024.0 / 1024.0 / 1024.0; }

std::string TMainForm::UsbRequirementText(const TDiskInfo& Disk) {
  const std::string H = UpperCase(Disk.BusHint);
  if (ContainsAny(H, {"USB20", "USB 2", "USB2", "HIGHSPEED", "EHCI"})) return "USB2 - unsupported";
  if (ContainsAny(H, {"USB30", "USB 3", "USB3", "SUPERSPEED", "XHCI"})) return "USB3+";
  if (Disk.Transport == TTransportKind::tkUAS) return "USB3+ likely";
  return "USB3+ required";
}

std::string TMainForm::VolumeLettersText(const TDiskInfo& Disk) {
  std::string R;
  for (const TVolumeInfo& V : Disk.Volumes) {
    if (V.DriveLetter.empty()) continue;
    if (!R.empty()) R += ", ";
    R += V.DriveLetter;
    if (!V.FileSystem.empty()) R += "(" + V.FileSystem + ")";
  }
  return R.empty() ? "(no-volume)" : R;
}

namespace {

std::string ListItemText(TMainForm& F, const TDiskInfo& D) {
  return Format("PD%d | %.1f GiB | %s | %s | %s | %s", D.DiskNumber, TMainForm::BytesToGiB(D.SizeBytes),
                TransportToText(D.Transport), MediaKindToText(D.Media), F.UsbRequirementText(D),
                TMainForm::VolumeLettersText(D));
}

std::string DetailItemText(TMainForm& F, const TDiskInfo& D) {
  std::string S =
      Format("PD%d | %s | %.1f GiB | %s | %s | %s", D.DiskNumber, D.Model, TMainForm::BytesToGiB(D.SizeBytes),
             TransportToText(D.Transport), F.UsbRequirementText(D), TMainForm::VolumeLettersText(D));
  if (D.Ata.Probed) {
    if (D.Ata.IdentifyOk)
      S += D.Ata.TrimSupported ? " | ATA-TRIM:YES" : " | ATA-TRIM:NO";
    else
      S += " | APT:N/A";
  }
  return S;
}

}  // namespace

bool TMainForm::GetSelectedDisk(TDiskInfo& Disk) {
  Disk = TDiskInfo{};
  const int32_t I = CmbDisk->ItemIndex();
  if (I < 0 || I >= static_cast<int32_t>(FDisks.size())) return false;
  Disk = FDisks[static_cast<size_t>(I)];
  return true;
}

// ---- disks to reconnect ---------------------------------------------------------------------

bool TMainForm::DiskNeedsReconnect(const TDiskInfo& Disk) const {
  return std::any_of(FStalledDisks.begin(), FStalledDisks.end(), [&](const TStalledDisk& S) {
    return S.DiskNumber == Disk.DiskNumber && S.SizeBytes == Disk.SizeBytes && S.BusHint == Disk.BusHint;
  });
}

std::string TMainForm::DiskReconnectText() {
  return "Reconnect required: the last run on this disk ended in a USB bridge hang or with the disk leaving the "
         "bus, so the disk is not read again. Unplug it, plug it in again and press Refresh.";
}

// ---- the scan -------------------------------------------------------------------------------

void TMainForm::StartDiskRefresh() {
  if (FRefreshThread) return;
  LblStatus->SetCaption(GetLangText(TTextId::StatusScanning));
  BtnRefresh->SetEnabled(false);
  CmbDisk->SetEnabled(false);
  try {
    auto* T = new TDiskRefreshThread(this, FDiskEnum, FLogger);
    FRefreshThread = T;
    T->SetFreeOnTerminate(true);
    T->Start();
  } catch (...) {
    // No scan runs: the list must not stay in the scanning state.
    FRefreshThread = nullptr;
    LblStatus->SetCaption(GetLangText(TTextId::StatusReady));
    BtnRefresh->SetEnabled(true);
    CmbDisk->SetEnabled(true);
    FLogger->Error("Disk refresh could not start: " + ExceptionText(std::current_exception()));
  }
}

void TMainForm::DiskRefreshDone(const TDiskInfoArray& Disks) {
  // The scan is forgotten also when applying the list raised: the next scan may start.
  struct TEnd {
    TMainForm* F;
    ~TEnd() { F->FRefreshThread = nullptr; }
  } End{this};
  ApplyDiskList(Disks);
}

void TMainForm::RequestDiskRefresh() { StartDiskRefresh(); }

void TMainForm::BtnRefreshClick(tk::TControl*) { RequestDiskRefresh(); }

void TMainForm::ApplyDiskList(const TDiskInfoArray& Disks) {
  struct TReady {
    TMainForm* F;
    ~TReady() {
      F->LblStatus->SetCaption(GetLangText(TTextId::StatusReady));
      F->BtnRefresh->SetEnabled(true);
      F->CmbDisk->SetEnabled(true);
    }
  } Ready{this};

  TDiskInfo Prev;
  const bool HadPrev = GetSelectedDisk(Prev);
  FDisks = Disks;

  // A disk to reconnect stays one only while the list still shows it under the same identity.
  std::erase_if(FStalledDisks, [&](const TStalledDisk& S) {
    return std::none_of(FDisks.begin(), FDisks.end(), [&](const TDiskInfo& D) {
      return D.DiskNumber == S.DiskNumber && D.SizeBytes == S.SizeBytes && D.BusHint == S.BusHint;
    });
  });

  std::vector<std::string> Items;
  Items.reserve(FDisks.size());
  for (const TDiskInfo& D : FDisks) Items.push_back(ListItemText(*this, D));
  CmbDisk->Clear();
  CmbDisk->SetItems(std::move(Items));
  if (!FDisks.empty()) CmbDisk->SetItemIndex(0);
  if (HadPrev) {
    for (size_t I = 0; I < FDisks.size(); I++) {
      const TDiskInfo& D = FDisks[I];
      if (D.DiskNumber == Prev.DiskNumber && D.SizeBytes == Prev.SizeBytes && D.BusHint == Prev.BusHint) {
        CmbDisk->SetItemIndex(static_cast<int>(I));
        break;
      }
    }
  }

  TDiskInfo D;
  if (GetSelectedDisk(D)) {
    ShowDiskDetails(D);
    LogSelectedDisk(D);
    StartDiskDetail(CmbDisk->ItemIndex());
    ResetInspectView();
    std::string Reason;
    if (CheckFsPolicy(D, Reason))
      LblFsPolicy->SetCaption(GetLangText(TTextId::FsPolicyEnabledDetected));
    else
      LblFsPolicy->SetCaption(GetLangText(TTextId::FsPolicyDisabledPrefix) + Reason);
  } else {
    MemoDiskInfo->SetText("(no disk selected)");
    // The drives of a disk no longer listed must not stay offered: the folder deletion needs no
    // selected disk, and the letter may now belong to another disk.
    CmbRealTestDrive->Clear();
  }
  RgModeClick(nullptr);
}

// ---- the details of one disk ----------------------------------------------------------------

void TMainForm::StartDiskDetail(int32_t Index) {
  if (Index < 0 || Index >= static_cast<int32_t>(FDisks.size())) return;
  if (FDetailThread) {
    // Not waited for: it runs to its end and its result is dropped. Its link stays kept.
    FDetailThread->Terminate();
    FDetailThread = nullptr;
  }
  FDetailSeq++;
  // Entries of threads that have ended are no longer needed for the shutdown.
  std::erase_if(FDetailLinks, [](const auto& E) { return E.second.Finished(); });
  const TDiskInfo& Disk = FDisks[static_cast<size_t>(Index)];
  // The new generation still supersedes every older result; a disk to reconnect is not probed.
  if (DiskNeedsReconnect(Disk)) return;
  try {
    auto* T = new TDiskDetailThread(this, FDiskEnum, FLogger, Index, FDetailSeq, Disk);
    FDetailLinks.emplace_back(T, T->Link());
    FDetailThread = T;
    T->Start();
  } catch (...) {
    FDetailThread = nullptr;
    FLogger->Error("Disk detail probe could not start: " + ExceptionText(std::current_exception()));
  }
}

void TMainForm::ApplyDiskDetail(int32_t Index, int32_t Seq, const TDiskInfo& Disk) {
  if (Seq == FDetailSeq) FDetailThread = nullptr;
  if (Seq != FDetailSeq || Index < 0 || Index >= static_cast<int32_t>(FDisks.size())) return;
  TDiskInfo& D = FDisks[static_cast<size_t>(Index)];
  D.Model = Disk.Model;
  D.Serial = Disk.Serial;
  D.MaskedSerial = Disk.MaskedSerial;
  D.Ata = Disk.Ata;
  if (CmbDisk->ItemCount() > Index) CmbDisk->SetItem(Index, DetailItemText(*this, D));
  TDiskInfo Sel;
  if (GetSelectedDisk(Sel) && CmbDisk->ItemIndex() == Index) {
    ShowDiskDetails(Sel);
    LogSelectedDisk(Sel);
  }
}

void TMainForm::CmbDiskChange(tk::TControl*) {
  TDiskInfo D;
  if (GetSelectedDisk(D)) {
    ShowDiskDetails(D);
    LogSelectedDisk(D);
    StartDiskDetail(CmbDisk->ItemIndex());
    ResetInspectView();
  }
  RgModeClick(nullptr);
}

void TMainForm::WaitForDetailThreads() {
  // Each wait serves the thread's synchronized call, so a probe that ends now still delivers.
  for (auto& [Thread, Link] : FDetailLinks) {
    if (Link.TakeBack()) {
      Thread->Terminate();
      Link.WaitFor();
      delete Thread;
    } else {
      Link.WaitFor();  // it frees itself; only its end is waited for
    }
  }
  FDetailLinks.clear();
  FDetailThread = nullptr;
}

// ---- device changes -------------------------------------------------------------------------

intptr_t TMainForm::DeviceWndProc(void*, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  if (Msg == WM_DEVICECHANGE && (WParam == DBT_DEVICEARRIVAL || WParam == DBT_DEVICEREMOVECOMPLETE)) {
    // Off and on again: the 1200 ms start afresh.
    FDeviceChangeTimer->SetEnabled(false);
    FDeviceChangeTimer->SetEnabled(true);
    return 1;
  }
  return tk::DefWindowProc(FNotifyWnd, Msg, WParam, LParam);
}

void TMainForm::DeviceChangeTimerTick(tk::TTimer*) {
  FDeviceChangeTimer->SetEnabled(false);
  if (FRunThread || FRefreshThread) {
    FDeviceChangeTimer->SetEnabled(true);  // looked at again in 1200 ms
    return;
  }
  FLogger->Info("USB disk change detected: refreshing disk list");
  StartDiskRefresh();
}
