// The tests' one script of modal interactions (see uTkModalScript.h).
#include "ui/toolkit/headless/uTkModalScript.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"

namespace tk::headless {

namespace {

void* HandleOf(TForm* Form) { return Form ? Form->Handle() : nullptr; }

TModal Started(TModalKind Kind, std::string Caption, std::string Text, void* Owner) {
  TModal m;
  m.Kind = Kind;
  m.Caption = std::move(Caption);
  m.Text = std::move(Text);
  m.Owner = Owner;
  m.ThreadId = plat::Win().GetCurrentThreadId();
  return m;
}

}  // namespace

const char* KindName(TModalKind Kind) {
  switch (Kind) {
    case TModalKind::Box: return "message box";
    case TModalKind::Input: return "input dialog";
    case TModalKind::Save: return "save dialog";
    case TModalKind::Form: return "modal form";
    case TModalKind::Url: return "web page";
  }
  return "?";
}

std::string Describe(const TModal& M) {
  std::string s = std::string(KindName(M.Kind)) + " \"" + M.Caption + "\"";
  if (!M.Text.empty()) s += ": \"" + M.Text + "\"";
  return s;
}

TModalScript::TModalScript()
    : FOnFailure([](const std::string& Message) {
        std::fprintf(stderr, "modal script: %s\n", Message.c_str());
        std::abort();
      }) {}

// ---- steps ----

TModalScript& TModalScript::Expect(TStep Step) {
  std::lock_guard<std::mutex> lk(FLock);
  FSteps.push_back(std::move(Step));
  return *this;
}

TModalScript& TModalScript::Box(int Button) {
  return Expect({TModalKind::Box, [Button](const TModal&) { return Button; }, {}, {}});
}

TModalScript& TModalScript::Box(std::function<int(const TModal&)> Answer) {
  return Expect({TModalKind::Box, std::move(Answer), {}, {}});
}

TModalScript& TModalScript::Input(const std::string& Text) {
  return Expect({TModalKind::Input, {}, [Text](const TModal&) { return std::optional<std::string>(Text); }, {}});
}

TModalScript& TModalScript::Input(std::function<std::optional<std::string>(const TModal&)> Answer) {
  return Expect({TModalKind::Input, {}, std::move(Answer), {}});
}

TModalScript& TModalScript::InputCancel() {
  return Expect({TModalKind::Input, {}, [](const TModal&) { return std::optional<std::string>(); }, {}});
}

TModalScript& TModalScript::Save(const std::string& Path) {
  return Expect({TModalKind::Save, {}, [Path](const TModal&) { return std::optional<std::string>(Path); }, {}});
}

TModalScript& TModalScript::Save(std::function<std::optional<std::string>(const TModal&)> Answer) {
  return Expect({TModalKind::Save, {}, std::move(Answer), {}});
}

TModalScript& TModalScript::SaveCancel() {
  return Expect({TModalKind::Save, {}, [](const TModal&) { return std::optional<std::string>(); }, {}});
}

TModalScript& TModalScript::Form(std::function<void(TForm&)> Drive) {
  return Expect({TModalKind::Form, {}, {}, std::move(Drive)});
}

TModalScript& TModalScript::Url() {
  return Expect({TModalKind::Url, [](const TModal&) { return 42; }, {}, {}});
}

// ---- the record ----

std::vector<TModal> TModalScript::Log() const {
  std::lock_guard<std::mutex> lk(FLock);
  return FLog;
}

std::vector<TModal> TModalScript::Log(TModalKind Kind) const {
  std::vector<TModal> of;
  for (TModal& m : Log())
    if (m.Kind == Kind) of.push_back(std::move(m));
  return of;
}

size_t TModalScript::Pending() const {
  std::lock_guard<std::mutex> lk(FLock);
  return FSteps.size() - FNext;
}

void TModalScript::VerifyDone() {
  std::string missing;
  {
    std::lock_guard<std::mutex> lk(FLock);
    for (size_t i = FNext; i < FSteps.size(); ++i)
      missing += std::string(missing.empty() ? "" : ", ") + KindName(FSteps[i].Kind);
  }
  if (!missing.empty()) Fail("expected interactions never came: " + missing);
}

void TModalScript::SetOnFailure(TFailure OnFailure) {
  std::lock_guard<std::mutex> lk(FLock);
  FOnFailure = std::move(OnFailure);
}

std::optional<TModalScript::TStep> TModalScript::Take(const TModal& M, size_t& Index) {
  std::string failure;
  std::optional<TStep> step;
  {
    std::lock_guard<std::mutex> lk(FLock);
    Index = FLog.size();
    FLog.push_back(M);
    if (FNext < FSteps.size() && FSteps[FNext].Kind == M.Kind) {
      step = FSteps[FNext++];
    } else {
      failure = "unexpected " + Describe(M) + " (interaction " + std::to_string(Index + 1) +
                "); next in the script: " + (FNext < FSteps.size() ? KindName(FSteps[FNext].Kind) : "nothing");
    }
  }
  if (!step) Fail(failure);
  return step;
}

void TModalScript::Record(size_t Index, const TModal& M) {
  std::lock_guard<std::mutex> lk(FLock);
  FLog[Index] = M;
}

void TModalScript::Fail(const std::string& Message) {
  TFailure onFailure;
  {
    std::lock_guard<std::mutex> lk(FLock);
    onFailure = FOnFailure;
  }
  onFailure(Message);
}

// ---- answering ----
// The answer runs outside the lock: it may run the loop, which may show the next box.

int TModalScript::AnswerBox(void* Owner, const std::string& Text, const std::string& Caption, uint32_t Type,
                            uint32_t ThreadId) {
  TModal m = Started(TModalKind::Box, Caption, Text, Owner);
  m.Type = Type;
  m.ThreadId = ThreadId;
  size_t index = 0;
  auto step = Take(m, index);
  // Unexpected: as if the box could not be shown.
  m.Result = step ? step->Button(m) : 0;
  Record(index, m);
  return m.Result;
}

intptr_t TModalScript::AnswerUrl(const std::string& Url, uint32_t ThreadId) {
  TModal m = Started(TModalKind::Url, "", Url, nullptr);
  m.ThreadId = ThreadId;
  size_t index = 0;
  auto step = Take(m, index);
  m.Result = step ? step->Button(m) : 42;
  Record(index, m);
  return m.Result;
}

std::optional<std::string> TModalScript::Input(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                                               const std::string& Value) {
  TModal m = Started(TModalKind::Input, Caption, Prompt, HandleOf(Owner));
  m.Value = Value;
  size_t index = 0;
  auto step = Take(m, index);
  std::optional<std::string> answer = step ? step->Text(m) : std::nullopt;
  m.Result = answer ? 1 : 0;
  m.Answer = answer.value_or("");
  Record(index, m);
  return answer;
}

std::optional<std::string> TModalScript::Save(TForm* Owner, const TSaveDialogOptions& Options) {
  TModal m = Started(TModalKind::Save, Options.Title, Options.FileName, HandleOf(Owner));
  m.Save = Options;
  size_t index = 0;
  auto step = Take(m, index);
  std::optional<std::string> answer = step ? step->Text(m) : std::nullopt;
  m.Result = answer ? 1 : 0;
  m.Answer = answer.value_or("");
  Record(index, m);
  return answer;
}

void TModalScript::ModalForm(TForm& Form) {
  TModal m = Started(TModalKind::Form, Form.Caption(), "", HandleOf(Form.Owner()));
  size_t index = 0;
  auto step = Take(m, index);
  if (step) step->Drive(Form);
  if (!Form.Closed()) {
    if (step) Fail("the script left " + Describe(m) + " open");
    Form.SetModalResult(mrCancel);
  }
  m.Result = Form.ModalResult();
  Record(index, m);
}

}  // namespace tk::headless
