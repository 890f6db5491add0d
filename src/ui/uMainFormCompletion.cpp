#include "ui/uMainForm.h"

void TMainForm::RunProgress(uint32_t Done, uint32_t Total, const std::string& Text) {}
void TMainForm::RunCompleted(const TRunStats& Stats) {}
int32_t TMainForm::QueryPartitionStyle(const TDiskInfo& Disk) { return 0; }
bool TMainForm::InitializeDisk(const TDiskInfo& Disk, int32_t Style) { return false; }
