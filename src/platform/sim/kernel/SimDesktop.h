// The simulated machine's desktop and user settings: UI language, regional separators, the
// system message table, version resources of program files, message boxes, the shell's "open"
// of documents and web pages, and GUIDs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim {

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
  DWORD threadId = 0;
};

struct ShellExecuteCall {
  HWND owner = nullptr;
  std::string verb;
  std::string file;
  std::string parameters;
  std::string directory;
  int showCmd = 0;
  DWORD threadId = 0;
};

class SimDesktop {
 public:
  SimDesktop();

  // ---- language and locale ----
  void SetUiLanguage(LANGID id);
  LANGID UiLanguage();
  void SetSeparators(const std::string& decimal, const std::string& thousands);
  void SetTimeSeparator(const std::string& separator);
  int GetLocaleInfoW(DWORD locale, DWORD lcType, char16_t* data, int size);

  // ---- system message table (FormatMessageW) ----
  // Texts are stored per (code, language); language 0 in a query means the machine's default
  // language, which is tried as Windows does after the exact language.
  void SetMessage(DWORD code, LANGID lang, const std::string& text);
  void RemoveMessage(DWORD code);
  void SetDefaultLanguage(LANGID lang);
  DWORD FormatMessageW(DWORD flags, DWORD messageId, DWORD languageId, char16_t* buffer, DWORD size);

  // ---- the running program and its version resource ----
  void SetModulePath(const std::string& path);
  std::string ModulePath();
  // FileVersion (and other string values) of a program file; nullopt: the file has no resource.
  // The values go into the string table 040904B0, named by the usual translation entry.
  void SetVersionResource(const std::string& file, std::optional<std::map<std::string, std::string>> strings);
  // A version resource laid out by hand, for the odd ones real files carry.
  struct VersionBlock {
    VersionBlock() { translations.push_back({0x0409, 0x04B0}); }
    // The entries of \VarFileInfo\Translation; empty: the block has none.
    struct Translation {
      WORD language = 0;
      WORD codePage = 0;
    };
    std::vector<Translation> translations;  // US English, Unicode, unless changed
    // String tables by their "llllcccc" name (upper-case hex), each key to its value.
    std::map<std::string, std::map<std::string, std::string>> tables;
    // False: string values carry no terminating NUL and report their length without one.
    bool terminated = true;
  };
  void SetVersionBlock(const std::string& file, VersionBlock block);
  DWORD GetFileVersionInfoSizeW(const std::string& file, DWORD* handle);
  BOOL GetFileVersionInfoW(const std::string& file, DWORD len, void* data);
  BOOL VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len);

  // ---- message boxes ----
  // Each box is answered by the next scripted answer; a box that no script answers is a test
  // fault: the handler (default: print and abort) is called instead of blocking.
  void ScriptAnswers(std::vector<int> answers);
  void SetBoxHandler(std::function<int(const MessageBoxCall&)> handler);
  void SetUnscriptedHandler(std::function<int(const MessageBoxCall&)> handler);
  int MessageBoxW(const MessageBoxCall& call);
  std::vector<MessageBoxCall> Boxes();

  // ---- the shell (ShellExecuteW) ----
  // Every call is recorded; the handler, when set, gives the result, else the shell reports
  // success (a value above 32) without opening anything.
  void SetShellHandler(std::function<intptr_t(const ShellExecuteCall&)> handler);
  intptr_t ShellExecuteW(const ShellExecuteCall& call);
  std::vector<ShellExecuteCall> ShellCalls();

  // ---- GUIDs: deterministic, counting up ----
  void NewGuid(GUID* g);

  // ---- messages to windows ----
  // The machine owns no windows (the window toolkit does), so a message the machine posts to a
  // window goes to the sink that the windows' owner installs; the sink runs on the thread that
  // caused the message and hands it to the window's own thread, as Windows posts to a window's
  // message queue. Messages posted while no sink is installed wait, in order, and go to the next
  // sink installed (an empty sink makes them wait again). lParam records stay valid for the life
  // of the machine.
  using WindowMessageSink = std::function<void(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)>;
  void SetWindowMessageSink(WindowMessageSink sink);
  void PostWindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  struct WindowMessage {
    HWND window = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
  };
  // Every message posted, in order, whether a sink has taken it yet or not.
  std::vector<WindowMessage> WindowMessages();

 private:
  std::mutex mu_;
  LANGID uiLang_ = 0x0409;
  LANGID defaultLang_ = 0x0409;
  std::string decimal_ = ".";
  std::string thousands_ = ",";
  std::string time_ = ":";
  std::map<std::pair<DWORD, LANGID>, std::string> messages_;
  std::string modulePath_ = "C:\\Program Files\\Vrek\\vrek_trim_tool.exe";
  std::map<std::string, std::optional<VersionBlock>> versions_;
  std::vector<int> answers_;
  size_t nextAnswer_ = 0;
  std::function<int(const MessageBoxCall&)> boxHandler_;
  std::function<int(const MessageBoxCall&)> unscripted_;
  std::vector<MessageBoxCall> boxes_;
  std::function<intptr_t(const ShellExecuteCall&)> shellHandler_;
  std::vector<ShellExecuteCall> shellCalls_;
  uint32_t guidCounter_ = 0;
  WindowMessageSink windowSink_;
  std::vector<WindowMessage> windowMessages_;
  std::deque<WindowMessage> pendingMessages_;
  std::recursive_mutex deliverMu_;  // one thread hands messages to the sink at a time, in order
  void DeliverWindowMessages();
};

}  // namespace plat::sim
