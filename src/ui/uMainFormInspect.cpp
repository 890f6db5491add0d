#include "ui/uMainForm.h"

void TMainForm::SetupTabs() {}
void TMainForm::BuildInspectTab() {}
void TMainForm::PageMainChange(tk::TControl*) {}
void TMainForm::ResetInspectView() {}
void TMainForm::ShowRealTestGuide() {}
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
