#include "ui/uMainForm.h"

void TMainForm::ShowDiskDetails(const TDiskInfo& Disk) {}
void TMainForm::LogSelectedDisk(const TDiskInfo& Disk) {}
std::string TMainForm::FormatThousands(uint64_t Value) { return {}; }
std::string TMainForm::BuildFreeSpaceSummary(const TDiskInfo& Disk) { return {}; }
