#include "ui/uMainForm.h"

void TMainForm::LoadSettings() {}
void TMainForm::SaveSettings() {}
