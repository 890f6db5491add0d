// A backend that passes everything to the headless one and tells the test, in order, of every
// change a control's peer is told of and of the hidden-window calls, so a test can see in which
// order a window does things (and look at the machine at each of those moments).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/toolkit/headless/uTkHeadless.h"

class TTraceBackend final : public tk::IBackend {
 public:
  // Control: what changed and on which control. Call: "AllocateHWnd", "DeallocateHWnd" (Control null).
  using TOnChange = std::function<void(tk::TControl& Control, tk::TChange What, size_t Arg)>;
  using TOnCall = std::function<void(const std::string& Call, void* Wnd)>;

  explicit TTraceBackend(tk::headless::THeadlessBackend& Inner) : FInner(Inner) {}
  TOnChange OnChange;
  TOnCall OnCall;
  // A control's peer asked for its preferred size (a caption measured).
  std::function<void(tk::TControl& Control)> OnMeasure;

  std::unique_ptr<tk::IControlPeer> CreatePeer(tk::TControl& Control) override {
    return std::make_unique<TPeer>(*this, Control, FInner.CreatePeer(Control));
  }
  tk::TSize MeasureText(const std::string& Text, const tk::TFontInfo& Font) override {
    return FInner.MeasureText(Text, Font);
  }
  tk::TSize FormFrame(tk::TForm& Form) override { return FInner.FormFrame(Form); }
  int StartTimer(tk::TTimer& Timer, unsigned IntervalMs) override { return FInner.StartTimer(Timer, IntervalMs); }
  void StopTimer(int Id) override { FInner.StopTimer(Id); }
  void Run(tk::TForm& Main) override { FInner.Run(Main); }
  void RunModal(tk::TForm& Form) override { FInner.RunModal(Form); }
  void PostDeferred(std::function<void()> Fn) override { FInner.PostDeferred(std::move(Fn)); }
  void ProcessMessages() override { FInner.ProcessMessages(); }
  void FormClosed(tk::TForm& Form) override { FInner.FormClosed(Form); }
  void* AllocateHWnd(tk::TWndProc Proc) override {
    void* wnd = FInner.AllocateHWnd(std::move(Proc));
    if (OnCall) OnCall("AllocateHWnd", wnd);
    return wnd;
  }
  void DeallocateHWnd(void* Wnd) override {
    if (OnCall) OnCall("DeallocateHWnd", Wnd);
    FInner.DeallocateHWnd(Wnd);
  }
  intptr_t DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) override {
    return FInner.DefWindowProc(Wnd, Msg, WParam, LParam);
  }
  bool PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) override {
    return FInner.PostWindowMessage(Wnd, Msg, WParam, LParam);
  }
  bool InputQuery(tk::TForm* Owner, const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override {
    return FInner.InputQuery(Owner, Caption, Prompt, Value);
  }
  bool SaveFileDialog(tk::TForm* Owner, const tk::TSaveDialogOptions& Options, std::string& Path) override {
    return FInner.SaveFileDialog(Owner, Options, Path);
  }

 private:
  class TPeer final : public tk::IControlPeer {
   public:
    TPeer(TTraceBackend& B, tk::TControl& C, std::unique_ptr<tk::IControlPeer> Inner)
        : FB(B), FControl(C), FInnerPeer(std::move(Inner)) {}
    void Changed(tk::TChange What, size_t Arg) override {
      FInnerPeer->Changed(What, Arg);
      if (FB.OnChange) FB.OnChange(FControl, What, Arg);
    }
    tk::TSize PreferredSize(int WrapWidth) override {
      if (FB.OnMeasure) FB.OnMeasure(FControl);
      return FInnerPeer->PreferredSize(WrapWidth);
    }
    tk::TRect ClientInsets() override { return FInnerPeer->ClientInsets(); }
    void* Handle() override { return FInnerPeer->Handle(); }

   private:
    TTraceBackend& FB;
    tk::TControl& FControl;
    std::unique_ptr<tk::IControlPeer> FInnerPeer;
  };

  tk::headless::THeadlessBackend& FInner;
};
