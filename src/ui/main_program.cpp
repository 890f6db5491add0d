#include "ui/main_program.h"

#include <memory>

#include "core/uLang.h"
#include "core/uMainThread.h"
#include "core/uTypes.h"
#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkModal.h"
#include "ui/toolkit/win32/Win32Backend.h"
#include "ui/uMainForm.h"

int RunProgram(const TProgramHooks& Hooks) {
  // The thread that runs the message loop is the main thread of every synchronized call.
  TScopedMainThread mainThread;
  InitAppVersion();
  SetCurrentLanguage(TUiLanguage::ulKorean);
  // The backend binds the dispatcher to its message loop, so calls from workers run in every
  // loop of this thread, a message box's included.
  tk::win32::TWin32Backend backend;
  tk::TScopedBackend scopedBackend(&backend);
  try {
    std::unique_ptr<TMainForm> form = tk::CreateForm<TMainForm>();
    if (Hooks.MainFormCreated) Hooks.MainFormCreated(*form);
    tk::Application().Run(*form);
    if (Hooks.MainFormClosed) Hooks.MainFormClosed(*form);
    tk::DestroyForm(std::move(form));
  } catch (const std::exception& e) {
    // Only the window's creation or destruction can get here (handlers are guarded): say why the
    // program ends rather than vanish.
    tk::MessageBox(nullptr, e.what(), "vrek_trim_tool", plat::MB_ICONERROR | plat::MB_OK);
    return 1;
  }
  return 0;
}
