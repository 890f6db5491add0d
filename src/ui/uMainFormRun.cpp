#include "ui/uMainForm.h"

void TMainForm::BtnStartClick(tk::TControl*) {}
void TMainForm::BtnCancelClick(tk::TControl*) {}
void TMainForm::RgModeClick(tk::TControl*) {}
void TMainForm::CbAdvancedClick(tk::TControl*) {}
void TMainForm::CbMaskSerialClick(tk::TControl*) {}
bool TMainForm::CheckDiskUnchanged(const TDiskInfo& Disk, std::string& Reason) { return false; }
bool TMainForm::CheckFsPolicy(const TDiskInfo& Disk, std::string& Reason) { return false; }
bool TMainForm::DiskHasVolumes(const TDiskInfo& Disk) { return false; }
bool TMainForm::ConfirmTwoStep(const TDiskInfo& Disk) { return false; }
bool TMainForm::FlushMountedVolumes(const TDiskInfo& Disk) { return false; }
bool TMainForm::GetRealTestDriveRoot(std::string& Root) { return false; }
