// settings.ini: read once during the window's creation, written once as its destruction begins.
#include "core/uLang.h"
#include "ui/uIniFile.h"
#include "ui/uMainForm.h"

namespace {

// An item index read from the file counts only when it names an item.
void LoadItemIndex(const TIniFile& Ini, const char* Section, const char* Key, tk::TComboBox* Combo) {
  const int32_t v = Ini.ReadInteger(Section, Key, Combo->ItemIndex());
  if (v >= 0 && v < Combo->ItemCount()) Combo->SetItemIndex(v);
}

void LoadCheck(const TIniFile& Ini, const char* Section, const char* Key, tk::TCheckBox* Check) {
  Check->SetChecked(Ini.ReadBool(Section, Key, Check->Checked()));
}

// The spin edit keeps the value within its range.
void LoadSpin(const TIniFile& Ini, const char* Section, const char* Key, tk::TSpinEdit* Spin) {
  Spin->SetValue(Ini.ReadInteger(Section, Key, Spin->Value()));
}

}  // namespace

void TMainForm::LoadSettings() {
  if (FSettingsPath.empty()) return;
  FSettingsLoadRan = true;
  TIniFile ini;
  // A file that is there but cannot be read or understood is skipped as a missing one is: the
  // controls keep their design values and the detected language stays.
  if (LoadIniFile(FSettingsPath, ini) != TIniLoad::Loaded) return;

  const int32_t lang = ini.ReadInteger("General", "Language", -1);
  if (lang >= 0 && lang < LanguageCount()) {
    SetCurrentLanguage(LanguageFromIndex(lang));
    CmbLanguage->SetItemIndex(lang);  // by code: the selector's handler does not run
  }

  LoadCheck(ini, "Trim", "DryRun", CbDryRun);
  LoadCheck(ini, "Trim", "WinRetrimOnly", CbWinRetrimOnly);
  LoadCheck(ini, "Trim", "ShowAdvanced", CbAdvanced);
  LoadSpin(ini, "Trim", "TimeoutMs", SpTimeout);
  LoadSpin(ini, "Trim", "Retry", SpRetry);
  LoadSpin(ini, "Trim", "BatchEntries", SpBatch);
  LoadItemIndex(ini, "Trim", "BatchLimitIndex", CmbBatchLimit);
  LoadCheck(ini, "Trim", "MaskSerial", CbMaskSerial);
  LoadCheck(ini, "Trim", "QuietIteration", CbQuietIteration);
  LoadCheck(ini, "Trim", "FlushVolumes", CbFlushVolumes);

  LoadSpin(ini, "RealTest", "SpeedDropWaitMin", SpSpeedDropWait);
  // A start step after the end step is refused when the test starts, not here.
  LoadItemIndex(ini, "RealTest", "StartStepIndex", CmbStartStep);
  LoadItemIndex(ini, "RealTest", "EndStepIndex", CmbEndStep);
}

void TMainForm::SaveSettings() {
  // A creation cut short before the load would write design values over the user's choices.
  if (FSettingsPath.empty() || !FSettingsLoadRan) return;
  try {
    TIniFile ini;
    // The file's other content survives; a file that cannot be read is left as it is rather
    // than replaced by our keys alone.
    if (LoadIniFile(FSettingsPath, ini) == TIniLoad::Unreadable) return;

    ini.WriteInteger("General", "Language", CmbLanguage->ItemIndex());
    ini.WriteBool("Trim", "DryRun", CbDryRun->Checked());
    ini.WriteBool("Trim", "WinRetrimOnly", CbWinRetrimOnly->Checked());
    ini.WriteBool("Trim", "ShowAdvanced", CbAdvanced->Checked());
    ini.WriteInteger("Trim", "TimeoutMs", SpTimeout->Value());
    ini.WriteInteger("Trim", "Retry", SpRetry->Value());
    ini.WriteInteger("Trim", "BatchEntries", SpBatch->Value());
    ini.WriteInteger("Trim", "BatchLimitIndex", CmbBatchLimit->ItemIndex());
    ini.WriteBool("Trim", "MaskSerial", CbMaskSerial->Checked());
    ini.WriteBool("Trim", "QuietIteration", CbQuietIteration->Checked());
    ini.WriteBool("Trim", "FlushVolumes", CbFlushVolumes->Checked());
    ini.WriteInteger("RealTest", "SpeedDropWaitMin", SpSpeedDropWait->Value());
    ini.WriteInteger("RealTest", "StartStepIndex", CmbStartStep->ItemIndex());
    ini.WriteInteger("RealTest", "EndStepIndex", CmbEndStep->ItemIndex());

    SaveIniFile(FSettingsPath, ini);
  } catch (...) {
    // A failing save is not reported: the program goes on closing.
  }
}
