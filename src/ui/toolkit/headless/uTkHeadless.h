// The headless backend: the toolkit's control tree without windows, for tests.
//
// - Controls are found and driven by name. Click, Check, Select and SetValue act as the user
//   does (through the controls' User... methods) and do nothing, returning false, on a control
//   that is hidden or disabled as the user would see it (Showing, EffectivelyEnabled).
// - Text metrics are fixed per character, so widths are exact in tests (see TextWidth).
// - A paint box paints onto a recording canvas: every fill, line and text with its pen and font.
// - The message loop runs on the installed platform's clock (the simulated machine's virtual
//   clock in tests): RunFor / RunUntil serve the main-thread dispatcher, deferred calls, posted
//   window messages and timers (in deadline order), and wait in between through the platform,
//   so virtual time moves only when every thread of the machine waits.
// - Modal interactions (the two dialogs and modal forms) are answered by the installed answerer;
//   message boxes go to the platform (see uTkModal.h), which on the simulated machine a test
//   script answers. TModalScript (uTkModalScript.h) answers both from one list and records them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkCanvas.h"

namespace tk::headless {

// Fixed metrics: a character (a Unicode code point) is CharWidth(size) pixels wide in a font of
// that size in points, one pixel more in bold; a line is LineHeight(size) high.
int CharWidth(int SizePt);
int LineHeight(int SizePt);
TSize TextExtent(const std::string& Text, const TFontInfo& Font);

// One drawing call of a paint, with the pen or font it was made with.
struct TDrawCall {
  enum class TKind { Fill, Line, Text } Kind = TKind::Fill;
  TRect Rect;        // Fill
  TColor Color = 0;  // Fill
  TPoint From, To;   // Line; From is the position of Text
  TPenInfo Pen;      // Line
  std::string Text;  // Text
  TFontInfo Font;    // Text
};

// Answers the modal interactions that the headless backend itself receives.
class IAnswerer {
 public:
  virtual ~IAnswerer() = default;
  // Value: what the edit field holds when the dialog opens. nullopt: Cancel.
  virtual std::optional<std::string> Input(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                                           const std::string& Value) = 0;
  virtual std::optional<std::string> Save(TForm* Owner, const TSaveDialogOptions& Options) = 0;
  // A form shown modally: the answerer drives it (it may click, paint, run the loop) and must
  // close it before returning.
  virtual void ModalForm(TForm& Form) = 0;
};

class THeadlessBackend final : public IBackend {
 public:
  THeadlessBackend();
  ~THeadlessBackend() override;

  // ---- finding and driving controls ----
  // Searches every live form, newest first.
  TControl* Find(const std::string& Name);
  template <class T>
  T* FindAs(const std::string& Name) {
    return dynamic_cast<T*>(Find(Name));
  }
  // A button is clicked, a check box toggled.
  bool Click(const std::string& Name);
  // A check box set to On (toggled only when it differs; true also when it already was).
  bool Check(const std::string& Name, bool On);
  // An item of a combo box or radio group, a page of a page control (by index).
  bool Select(const std::string& Name, int Index);
  // A spin edit's value, typed by the user.
  bool SetValue(const std::string& Name, int Value);
  // The user resizes a form to this client size (kept at least at its minimum).
  void Resize(TForm& Form, TSize Client);
  // The user closes a form with its frame.
  void CloseByUser(TForm& Form);

  // ---- the loop ----
  void RunFor(unsigned Ms);
  // Runs until Condition holds (checked after every message) or LimitMs passed; true when it held.
  bool RunUntil(const std::function<bool()>& Condition, unsigned LimitMs);

  // ---- painting ----
  // Paints the box now on a recording canvas and returns the calls (also kept as LastPaint).
  std::vector<TDrawCall> Paint(TPaintBox& Box);
  const std::vector<TDrawCall>& LastPaint(const TPaintBox& Box);

  // ---- modal answers ----
  void SetAnswerer(IAnswerer* Answerer);

  // ---- IBackend ----
  std::unique_ptr<IControlPeer> CreatePeer(TControl& Control) override;
  TSize MeasureText(const std::string& Text, const TFontInfo& Font) override;
  TSize FormFrame(TForm& Form) override;
  int StartTimer(TTimer& Timer, unsigned IntervalMs) override;
  void StopTimer(int Id) override;
  void Run(TForm& Main) override;
  void RunModal(TForm& Form) override;
  void PostDeferred(std::function<void()> Fn) override;
  void ProcessMessages() override;
  void FormClosed(TForm& Form) override;
  void* AllocateHWnd(TWndProc Proc) override;
  void DeallocateHWnd(void* Wnd) override;
  intptr_t DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) override;
  bool PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) override;
  bool InputQuery(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override;
  bool SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path) override;

  // The inside, shared by the backend's sources (uTkHeadlessImpl.h).
  struct Impl;

 private:
  std::unique_ptr<Impl> FImpl;
};

}  // namespace tk::headless
