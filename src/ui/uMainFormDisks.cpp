#include "ui/uMainForm.h"

bool TMainForm::GetSelectedDisk(TDiskInfo& Disk) { return false; }
std::string TMainForm::UsbRequirementText(const TDiskInfo& Disk) { return {}; }
std::string TMainForm::VolumeLettersText(const TDiskInfo& Disk) { return {}; }
double TMainForm::BytesToGiB(uint64_t Bytes) { return 0; }
void TMainForm::StartDiskRefresh() {}
void TMainForm::RequestDiskRefresh() {}
void TMainForm::ApplyDiskList(const TDiskInfoArray& Disks) {}
void TMainForm::StartDiskDetail(int32_t Index) {}
void TMainForm::ApplyDiskDetail(int32_t Index, int32_t Seq, const TDiskInfo& Disk) {}
intptr_t TMainForm::DeviceWndProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) { return 0; }
void TMainForm::DeviceChangeTimerTick(tk::TTimer*) {}
void TMainForm::BtnRefreshClick(tk::TControl*) {}
void TMainForm::CmbDiskChange(tk::TControl*) {}
void TMainForm::WaitForDetailThreads() {}
