// One ordered script for every modal interaction of a test: message boxes (from the main thread
// and from workers), the input dialog, the save dialog, modal forms and opened web pages.
//
// The test lists what it expects, in order, each with its answer:
//   script.Box(IDYES).Input("3").Box(IDOK);
// Every interaction is recorded (kind, caption, text, box type, owner, thread, answer). One the
// script does not expect next (another kind, or none left) is reported through the failure
// handler and answered as a cancel, so a test fails with a clear message and never hangs. An
// answer may be a function: it runs while the box or dialog is "open", on the thread that
// showed it, so a test can run the loop there (a timer fires, a worker's synchronized call
// runs) before it answers.
//
// Message boxes and web pages reach the script from the platform (the test fixture hooks
// AnswerBox and AnswerUrl into the simulated desktop); dialogs and modal forms come through
// the headless backend, for which the script is the IAnswerer.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/toolkit/headless/uTkHeadless.h"

namespace tk::headless {

enum class TModalKind : uint8_t { Box, Input, Save, Form, Url };

// One interaction as it happened.
struct TModal {
  TModalKind Kind = TModalKind::Box;
  std::string Caption;      // box caption, dialog caption or title, form caption
  std::string Text;         // box text, input prompt, proposed file name, web address
  uint32_t Type = 0;        // box: the MB_ flags
  void* Owner = nullptr;    // the owner window's handle; null: none
  uint32_t ThreadId = 0;    // the thread that showed it
  std::string Value;        // input: the edit field's text when it opened
  TSaveDialogOptions Save;  // save: every option of the dialog
  int Result = 0;           // box: the button (IDOK...); input, save: 1 OK, 0 cancel; form: modal result
  std::string Answer;       // input: the text entered; save: the path chosen
};

const char* KindName(TModalKind Kind);
// "box "Caption": "Text"" and the like, for failure messages.
std::string Describe(const TModal& M);

class TModalScript final : public IAnswerer {
 public:
  using TFailure = std::function<void(const std::string& Message)>;
  TModalScript();

  // ---- what the test expects next, in order ----
  TModalScript& Box(int Button);
  TModalScript& Box(std::function<int(const TModal&)> Answer);
  TModalScript& Input(const std::string& Text);  // OK with this text
  TModalScript& Input(std::function<std::optional<std::string>(const TModal&)> Answer);
  TModalScript& InputCancel();
  TModalScript& Save(const std::string& Path);
  TModalScript& Save(std::function<std::optional<std::string>(const TModal&)> Answer);
  TModalScript& SaveCancel();
  // Drive clicks, paints or runs the loop, and must close the form.
  TModalScript& Form(std::function<void(TForm&)> Drive);
  // A web page opened; the shell reports success.
  TModalScript& Url();

  // ---- the record ----
  std::vector<TModal> Log() const;
  std::vector<TModal> Log(TModalKind Kind) const;
  // Expected interactions that have not come (yet).
  size_t Pending() const;
  // Reports every expected interaction that never came.
  void VerifyDone();
  // Default: print and abort. The test fixture turns failures into test failures.
  void SetOnFailure(TFailure OnFailure);

  // ---- the platform's side ----
  int AnswerBox(void* Owner, const std::string& Text, const std::string& Caption, uint32_t Type,
                uint32_t ThreadId);
  intptr_t AnswerUrl(const std::string& Url, uint32_t ThreadId);

  // ---- IAnswerer ----
  std::optional<std::string> Input(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                                   const std::string& Value) override;
  std::optional<std::string> Save(TForm* Owner, const TSaveDialogOptions& Options) override;
  void ModalForm(TForm& Form) override;

 private:
  struct TStep {
    TModalKind Kind;
    std::function<int(const TModal&)> Button;                       // Box
    std::function<std::optional<std::string>(const TModal&)> Text;  // Input, Save
    std::function<void(TForm&)> Drive;                              // Form
  };
  TModalScript& Expect(TStep Step);
  // Records M and takes the next step when it is of M's kind; reports it otherwise.
  std::optional<TStep> Take(const TModal& M, size_t& Index);
  void Record(size_t Index, const TModal& M);
  void Fail(const std::string& Message);

  mutable std::mutex FLock;
  std::vector<TStep> FSteps;
  size_t FNext = 0;
  std::vector<TModal> FLog;
  TFailure FOnFailure;
};

}  // namespace tk::headless
