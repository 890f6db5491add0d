#include "ui/uMainForm.h"

void TMainForm::ApplyLanguage() {}
void TMainForm::CmbLanguageChange(tk::TControl*) {}
void TMainForm::LayoutAdvancedChecks() {}
void TMainForm::DeferredLayout() {}
void TMainForm::BtnProductsClick(tk::TControl*) {}
void TMainForm::BtnManualClick(tk::TControl*) {}
void TMainForm::BtnHowToUseClick(tk::TControl*) {}
void TMainForm::BtnLicenseClick(tk::TControl*) {}
void TMainForm::BtnAboutTrimClick(tk::TControl*) {}
void TMainForm::BtnBotGuideClick(tk::TControl*) {}
void TMainForm::AppendLogLine(const std::string& Line) {}
void TMainForm::BtnClearLogClick(tk::TControl*) {}
void TMainForm::BtnClearRealLogClick(tk::TControl*) {}
