// The fixture of the main window's tests: UiFixture's simulated machine and headless backend,
// the working folder as the machine's current directory, and the window started and closed as the
// program does it. Every change a control's peer is told of can be traced (TraceBackend.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/uDateTime.h"
#include "core/uLang.h"
#include "core/uTypes.h"
#include "ui/TraceBackend.h"
#include "ui/UiFixture.h"
#include "ui/uMainForm.h"

// Reaches the window's state that tests set or read (a friend of TMainForm).
class TMainFormTestAccess {
 public:
  static TTrimExecutionThread*& RunThread(TMainForm& Form) { return Form.FRunThread; }
  static const std::string& OutputDir(TMainForm& Form) { return Form.FOutputDir; }
  // The real test's thread while one runs, and the sizes of the test files it is given.
  static TThread* RealTestThread(TMainForm& Form) { return Form.FRealTestThread; }
  static TRealTestFileSizes& RealTestSizes(TMainForm& Form) { return Form.FRealTestSizes; }
  static const TSpeedDataArray& SpeedData(TMainForm& Form) { return Form.FSpeedData; }
  // As a run that saw the disk hang or leave the bus leaves it.
  static void MarkStalled(TMainForm& Form, const TDiskInfo& D) {
    Form.FStalledDisks.push_back({D.DiskNumber, D.SizeBytes, D.BusHint});
  }
};

class MainFormFixture : public UiFixture {
 protected:
  static constexpr const char* kWork = "C:\\Users\\user\\Desktop\\vrek";

  MainFormFixture() : FSavedLanguage(GetCurrentLanguage()) {
    InitAppVersion();
    m->Files().PlaceCurrentDirectory(kWork);
  }

  ~MainFormFixture() override {
    if (form) Close();
    SetCurrentLanguage(FSavedLanguage);
  }

  // A path in the working folder.
  static std::string Work(const std::string& Name) { return std::string(kWork) + "\\" + Name; }

  // The program's start: the window is created, shown, and the loop runs once it is up.
  void Start() {
    Create();
    Show();
  }
  void Create() {
    // Named after the local time, which stands still while the window is created (nothing waits).
    FLogFile = Work("logs\\run_" + FormatFileStamp(LocalTimeNow()) + ".log");
    form = tk::CreateForm<TMainForm>();
  }
  void Show() {
    form->Show();
    ui.RunFor(100);
  }
  // The program's end: the window is destroyed as the main window is.
  void Close() { tk::DestroyForm(std::move(form)); }

  std::string Caption(const std::string& Name) { return ui.Find(Name) ? ui.Find(Name)->Caption() : "(missing)"; }
  std::string Hint(const std::string& Name) { return ui.Find(Name) ? ui.Find(Name)->Hint() : "(missing)"; }
  std::vector<std::string> LogLines() { return form->MemoLog->Lines(); }
  // The log file's lines (empty when there is none).
  std::vector<std::string> LogFileLines() {
    std::vector<std::string> lines;
    const std::string text = m->Files().ReadAll(LogFilePath());
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find("\r\n", at);
      if (end == std::string::npos) break;
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }
  // The log file of the last start.
  const std::string& LogFilePath() const { return FLogFile; }

  static std::string Text(TTextId Id, TUiLanguage Lang = TUiLanguage::ulEnglish) {
    return LangTableFor(Lang)[TextIndex(Id)];
  }

  TTraceBackend trace{ui};
  tk::TScopedBackend traced{&trace};
  std::unique_ptr<TMainForm> form;

 private:
  TUiLanguage FSavedLanguage;
  std::string FLogFile;
};
