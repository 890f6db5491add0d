#include "ui/uMainForm.h"

void TMainForm::RealTestLog(const std::string& Line) {}
void TMainForm::SetRealStatus(const std::string& Text) {}
void TMainForm::SetRealSpeed(const std::string& Text) {}
void TMainForm::SetRealElapsed(const std::string& Text) {}
void TMainForm::SetStepElapsed(const std::string& Text) {}
void TMainForm::StopRealTest() {}
void TMainForm::RealTestTerminated(TThread*) {}
void TMainForm::ElapsedTimerTick(tk::TTimer*) {}
void TMainForm::BtnRealTestStartClick(tk::TControl*) {}
void TMainForm::BtnVerifyOnlyClick(tk::TControl*) {}
void TMainForm::BtnRealTestStopClick(tk::TControl*) {}
void TMainForm::BtnDeleteTestFolderClick(tk::TControl*) {}
void TMainForm::BtnSpeedChartClick(tk::TControl*) {}
void TMainForm::BtnExportFileMapClick(tk::TControl*) {}
void TMainForm::StopAndFreeRealTest() {}
