// Under wine inside Xvfb: the text-input dialog and the save-file dialog, driven from timers as
// a person would (type, press OK or Cancel) while the program waits in them.
#include "Win32ToolkitFixture.h"

#include <functional>
#include <string>

namespace tk::win32::testing {
namespace {

class Win32DialogsTest : public Win32ToolkitTest {
 protected:
  // Runs Step from a timer until it returns true (it finds and drives the dialog).
  void DriveWith(TForm& Form, std::function<bool()> Step) {
    TTimer* t = Form.AddTimer();
    t->OnTimer = [t, Step](TTimer*) {
      if (Step()) t->SetEnabled(false);
    };
    t->SetInterval(20);
    t->SetEnabled(true);
  }
};

TEST_F(Win32DialogsTest, InputDialogReturnsWhatWasTypedOnOk) {
  auto form = ShowForm();
  bool ownerDisabled = false;
  DriveWith(*form, [&] {
    HWND dlg = FindWindowW(InputDialogClass(), L"Enter a name");
    if (!dlg || !IsWindowVisible(dlg)) return false;
    ownerDisabled = !IsWindowEnabled(Wnd(form.get()));
    HWND edit = FindWindowExW(dlg, nullptr, L"Edit", nullptr);
    EXPECT_EQ(WindowText(edit), "old");
    SetWindowTextW(edit, L"새 이름");
    SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    return true;
  });
  std::string value = "old";
  EXPECT_TRUE(backend_.InputQuery(form.get(), "Enter a name", "Name of the test folder:", value));
  EXPECT_EQ(value, "새 이름");
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(Wnd(form.get())));
  EXPECT_FALSE(FindWindowW(InputDialogClass(), L"Enter a name"));
}

TEST_F(Win32DialogsTest, InputDialogKeepsTheValueOnCancelAndEscape) {
  auto form = ShowForm();
  for (bool escape : {false, true}) {
    SCOPED_TRACE(escape ? "escape" : "cancel");
    DriveWith(*form, [&] {
      HWND dlg = FindWindowW(InputDialogClass(), L"Question");
      if (!dlg || !IsWindowVisible(dlg)) return false;
      HWND edit = FindWindowExW(dlg, nullptr, L"Edit", nullptr);
      SetWindowTextW(edit, L"changed");
      if (escape)
        PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);  // through the loop's keyboard handling
      else
        SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
      return true;
    });
    std::string value = "kept";
    EXPECT_FALSE(backend_.InputQuery(form.get(), "Question", "Prompt", value));
    EXPECT_EQ(value, "kept");
  }
}

TEST(Win32SaveDialog, FilterAndFlags) {
  using namespace std::string_literals;
  struct Case {
    const char* Filter;
    std::wstring Expected;
  };
  const Case cases[] = {
      {"A|*.a|B|*.*", L"A\0*.a\0B\0*.*\0\0"s},
      {"CSV files (*.csv)|*.csv|All files (*.*)|*.*", L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0\0"s},
      {"Текст|*.txt", L"\u0422\u0435\u043a\u0441\u0442\0*.txt\0\0"s},
  };
  for (const Case& c : cases) EXPECT_EQ(SaveDialogFilter(c.Filter), c.Expected) << c.Filter;
  EXPECT_TRUE(SaveDialogFlags() & OFN_NOCHANGEDIR);
  EXPECT_FALSE(SaveDialogFlags() & OFN_OVERWRITEPROMPT);
}

TEST_F(Win32DialogsTest, SaveDialogReturnsThePathAndKeepsTheCurrentDirectory) {
  wchar_t tmp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"vt_save_\u0442\u0435\u0441\u0442";
  CreateDirectoryW(dir.c_str(), nullptr);
  wchar_t before[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, before);

  auto form = ShowForm();
  bool found = false;
  DriveWith(*form, [&] {
    HWND dlg = FindWindowW(L"#32770", L"Save Speed Data CSV");
    if (!dlg || !IsWindowVisible(dlg)) return false;
    found = true;
    SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    return true;
  });
  TSaveDialogOptions options;
  options.Title = "Save Speed Data CSV";
  options.Filter = "CSV files (*.csv)|*.csv|All files (*.*)|*.*";
  options.DefaultExt = ".csv";
  options.FileName = "speed_data";
  options.InitialDir = Narrow(dir);
  std::string path;
  EXPECT_TRUE(backend_.SaveFileDialog(form.get(), options, path));
  EXPECT_TRUE(found);
  std::string expected = Narrow(dir) + "\\speed_data.csv";
  EXPECT_EQ(CompareStringOrdinal(Wide(path).c_str(), -1, Wide(expected).c_str(), -1, TRUE), CSTR_EQUAL)
      << path << " vs " << expected;
  wchar_t after[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, after);
  EXPECT_EQ(std::wstring(after), std::wstring(before));
  RemoveDirectoryW(dir.c_str());
}

TEST_F(Win32DialogsTest, SaveDialogCancelled) {
  auto form = ShowForm();
  DriveWith(*form, [&] {
    HWND dlg = FindWindowW(L"#32770", L"Cancel me");
    if (!dlg || !IsWindowVisible(dlg)) return false;
    SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
    return true;
  });
  TSaveDialogOptions options;
  options.Title = "Cancel me";
  std::string path = "unchanged";
  EXPECT_FALSE(backend_.SaveFileDialog(form.get(), options, path));
  EXPECT_EQ(path, "unchanged");
}

}  // namespace
}  // namespace tk::win32::testing
