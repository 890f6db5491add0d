#include "ui/uDiskThreads.h"

TDiskRefreshThread::TDiskRefreshThread(TMainForm* AForm) : FForm(AForm) {}
void TDiskRefreshThread::Execute() {}
TDiskDetailThread::TDiskDetailThread(TMainForm* AForm, int32_t AIndex, int32_t ASeq, const TDiskInfo& ADisk)
    : FForm(AForm), FIndex(AIndex), FSeq(ASeq), FDisk(ADisk) {}
void TDiskDetailThread::Execute() {}
