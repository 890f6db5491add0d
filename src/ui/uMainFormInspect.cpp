#include "core/uLang.h"
#include "ui/uMainForm.h"

void TMainForm::SetupTabs() {}
void TMainForm::BuildInspectTab() {}
void TMainForm::PageMainChange(tk::TControl*) {}
void TMainForm::ResetInspectView() {}
void TMainForm::ShowRealTestGuide() {
  // Only into an empty log: lines already there are left untouched.
  if (!MemoRealTestLog || !MemoRealTestLog->Lines().empty()) return;
  for (TTextId id : {TTextId::GuideTitle, TTextId::GuideStep1, TTextId::GuideStep2, TTextId::GuideStep3,
                     TTextId::GuideStep4, TTextId::GuideStep5})
    MemoRealTestLog->AppendLine(GetLangText(id));
  MemoRealTestLog->AppendLine("");
  MemoRealTestLog->AppendLine(GetLangText(TTextId::GuideSpeedDropWait));
  MemoRealTestLog->AppendLine(GetLangText(TTextId::GuidePressStop));
}
bool TMainForm::GetVolumeSpace(const std::string& Root, uint64_t& TotalBytes, uint64_t& FreeBytes,
                               uint64_t& TotalClusters, uint64_t& FreeClusters, uint64_t& SectorsPerCluster) {
  return false;
}
bool TMainForm::GetPartitionStyle(const std::string& Drive, uint32_t& PartitionNumber, std::string& Style,
                                  std::string& TypeText) {
  return false;
}
void TMainForm::ShowDiskSummary(const TDiskInfo& Disk) {}
void TMainForm::FillVolumeGrid(const TDiskInfo& Disk) {}
bool TMainForm::GetDiskFreeSpaceStats(const TDiskInfo& Disk, uint64_t& Fragments, uint64_t& FreeSectors,
                                      uint64_t& LastUsedLba) {
  return false;
}
void TMainForm::InspectDisk() {}
void TMainForm::BtnInspectClick(tk::TControl*) {}
void TMainForm::BtnExportFreeListClick(tk::TControl*) {}
