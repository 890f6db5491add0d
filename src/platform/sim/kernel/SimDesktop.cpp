#include "platform/sim/kernel/SimDesktop.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/uUtf.h"
#include "platform/sim/kernel/SimKernel.h"

namespace plat::sim {

namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The version block is the machine's own layout; only VerQueryValueW reads it.
//   "VTVR" | count (4) | entries: key length (2), key (UTF-8, lower case), value bytes (4), value
constexpr char kMagic[4] = {'V', 'T', 'V', 'R'};

void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint32_t Get32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

std::string BuildBlock(const SimDesktop::VersionBlock& vb) {
  std::string b(kMagic, 4);
  std::vector<std::pair<std::string, std::string>> entries;
  if (!vb.translations.empty()) {
    std::string t;
    for (auto [lang, cp] : vb.translations) {  // language, then code page, little-endian
      t += static_cast<char>(lang & 0xFF);
      t += static_cast<char>(lang >> 8);
      t += static_cast<char>(cp & 0xFF);
      t += static_cast<char>(cp >> 8);
    }
    entries.push_back({"\\varfileinfo\\translation", t});
  }
  for (auto& [table, strings] : vb.tables) {
    for (auto& [k, v] : strings) {
      std::u16string w = Utf8ToUtf16(v);
      if (vb.terminated) w.push_back(0);
      entries.push_back({Lower("\\StringFileInfo\\" + table + "\\" + k),
                         std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2)});
    }
  }
  Put32(b, static_cast<uint32_t>(entries.size()));
  for (auto& [k, v] : entries) {
    b += static_cast<char>(k.size() & 0xFF);
    b += static_cast<char>(k.size() >> 8);
    b += k;
    Put32(b, static_cast<uint32_t>(v.size()));
    b += v;
  }
  return b;
}
}  // namespace

SimDesktop::SimDesktop() {
  // A few system texts as Windows words them (with the trailing CR LF it appends).
  SetMessage(0, 0x0409, "The operation completed successfully.\r\n");
  SetMessage(5, 0x0409, "Access is denied.\r\n");
  SetMessage(258, 0x0409, "The wait operation timed out.\r\n");
  SetMessage(1784, 0x0409, "The supplied user buffer is not valid for the requested operation.\r\n");
  SetVersionResource(modulePath_, std::map<std::string, std::string>{{"FileVersion", "0.1.0.2"}});
}

void SimDesktop::SetUiLanguage(LANGID id) {
  std::lock_guard<std::mutex> lk(mu_);
  uiLang_ = id;
}

LANGID SimDesktop::UiLanguage() {
  std::lock_guard<std::mutex> lk(mu_);
  return uiLang_;
}

void SimDesktop::SetSeparators(const std::string& decimal, const std::string& thousands) {
  std::lock_guard<std::mutex> lk(mu_);
  decimal_ = decimal;
  thousands_ = thousands;
}

void SimDesktop::SetTimeSeparator(const std::string& separator) {
  std::lock_guard<std::mutex> lk(mu_);
  time_ = separator;
}

int SimDesktop::GetLocaleInfoW(DWORD /*locale*/, DWORD lcType, char16_t* data, int size) {
  std::u16string v;
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (lcType == LOCALE_SDECIMAL)
      v = Utf8ToUtf16(decimal_);
    else if (lcType == LOCALE_STHOUSAND)
      v = Utf8ToUtf16(thousands_);
    else if (lcType == LOCALE_STIME)
      v = Utf8ToUtf16(time_);
    else
      return 0;
  }
  int need = static_cast<int>(v.size()) + 1;
  if (size == 0) return need;
  if (size < need) return 0;
  std::copy(v.begin(), v.end(), data);
  data[v.size()] = 0;
  return need;
}

void SimDesktop::SetMessage(DWORD code, LANGID lang, const std::string& text) {
  std::lock_guard<std::mutex> lk(mu_);
  messages_[{code, lang}] = text;
}

void SimDesktop::RemoveMessage(DWORD code) {
  std::lock_guard<std::mutex> lk(mu_);
  for (auto it = messages_.begin(); it != messages_.end();)
    it = it->first.first == code ? messages_.erase(it) : ++it;
}

void SimDesktop::SetDefaultLanguage(LANGID lang) {
  std::lock_guard<std::mutex> lk(mu_);
  defaultLang_ = lang;
}

DWORD SimDesktop::FormatMessageW(DWORD /*flags*/, DWORD messageId, DWORD languageId, char16_t* buffer,
                                 DWORD size) {
  std::string text;
  bool found = false;
  {
    std::lock_guard<std::mutex> lk(mu_);
    auto look = [&](LANGID l) {
      auto it = messages_.find({messageId, l});
      if (it == messages_.end()) return false;
      text = it->second;
      return true;
    };
    found = languageId != 0 ? look(static_cast<LANGID>(languageId)) : (look(defaultLang_) || look(0x0409));
  }
  if (!found) return 0;
  std::u16string w = Utf8ToUtf16(text);
  if (w.size() + 1 > size) return 0;
  std::copy(w.begin(), w.end(), buffer);
  buffer[w.size()] = 0;
  return static_cast<DWORD>(w.size());
}

void SimDesktop::SetModulePath(const std::string& path) {
  std::lock_guard<std::mutex> lk(mu_);
  modulePath_ = path;
}

std::string SimDesktop::ModulePath() {
  std::lock_guard<std::mutex> lk(mu_);
  return modulePath_;
}

void SimDesktop::SetVersionResource(const std::string& file,
                                    std::optional<std::map<std::string, std::string>> strings) {
  std::optional<VersionBlock> vb;
  if (strings) {
    vb.emplace();
    vb->tables["040904B0"] = std::move(*strings);
  }
  std::lock_guard<std::mutex> lk(mu_);
  versions_[Lower(file)] = std::move(vb);
}

void SimDesktop::SetVersionBlock(const std::string& file, VersionBlock block) {
  std::lock_guard<std::mutex> lk(mu_);
  versions_[Lower(file)] = std::move(block);
}

DWORD SimDesktop::GetFileVersionInfoSizeW(const std::string& file, DWORD* handle) {
  if (handle) *handle = 0;
  std::lock_guard<std::mutex> lk(mu_);
  auto it = versions_.find(Lower(file));
  if (it == versions_.end()) return 0;
  if (!it->second) return 0;
  return static_cast<DWORD>(BuildBlock(*it->second).size());
}

BOOL SimDesktop::GetFileVersionInfoW(const std::string& file, DWORD len, void* data) {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = versions_.find(Lower(file));
  if (it == versions_.end() || !it->second) return FALSE_;
  std::string b = BuildBlock(*it->second);
  if (len < b.size()) return FALSE_;
  std::memcpy(data, b.data(), b.size());
  return TRUE_;
}

BOOL SimDesktop::VerQueryValueW(const void* block, const std::string& subBlock, void** buffer, UINT* len) {
  const auto* p = static_cast<const unsigned char*>(block);
  if (!p || std::memcmp(p, kMagic, 4) != 0) return FALSE_;
  std::string want = Lower(subBlock);
  uint32_t count = Get32(p + 4);
  const unsigned char* q = p + 8;
  for (uint32_t i = 0; i < count; ++i) {
    size_t klen = q[0] | (q[1] << 8);
    std::string key(reinterpret_cast<const char*>(q + 2), klen);
    q += 2 + klen;
    uint32_t vlen = Get32(q);
    q += 4;
    if (key == want) {
      *buffer = const_cast<unsigned char*>(q);
      // String values report their length in characters, binary ones in bytes.
      *len = key.rfind("\\stringfileinfo\\", 0) == 0 ? vlen / 2 : vlen;
      return TRUE_;
    }
    q += vlen;
  }
  return FALSE_;
}

void SimDesktop::ScriptAnswers(std::vector<int> answers) {
  std::lock_guard<std::mutex> lk(mu_);
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void SimDesktop::SetBoxHandler(std::function<int(const MessageBoxCall&)> handler) {
  std::lock_guard<std::mutex> lk(mu_);
  boxHandler_ = std::move(handler);
}

void SimDesktop::SetUnscriptedHandler(std::function<int(const MessageBoxCall&)> handler) {
  std::lock_guard<std::mutex> lk(mu_);
  unscripted_ = std::move(handler);
}

int SimDesktop::MessageBoxW(const MessageBoxCall& call) {
  std::function<int(const MessageBoxCall&)> handler;
  int answer = 0;
  bool scripted = false;
  {
    std::lock_guard<std::mutex> lk(mu_);
    boxes_.push_back(call);
    if (nextAnswer_ < answers_.size()) {
      answer = answers_[nextAnswer_++];
      scripted = true;
    } else {
      handler = boxHandler_ ? boxHandler_ : unscripted_;
    }
  }
  if (scripted) return answer;
  if (handler) return handler(call);
  std::fprintf(stderr, "simulated machine: unscripted message box \"%s\": \"%s\"\n", call.caption.c_str(),
               call.text.c_str());
  std::abort();
}

std::vector<MessageBoxCall> SimDesktop::Boxes() {
  std::lock_guard<std::mutex> lk(mu_);
  return boxes_;
}

void SimDesktop::SetShellHandler(std::function<intptr_t(const ShellExecuteCall&)> handler) {
  std::lock_guard<std::mutex> lk(mu_);
  shellHandler_ = std::move(handler);
}

intptr_t SimDesktop::ShellExecuteW(const ShellExecuteCall& call) {
  std::function<intptr_t(const ShellExecuteCall&)> handler;
  {
    std::lock_guard<std::mutex> lk(mu_);
    shellCalls_.push_back(call);
    handler = shellHandler_;
  }
  // 42: any value above 32 means the shell took the document.
  return handler ? handler(call) : 42;
}

std::vector<ShellExecuteCall> SimDesktop::ShellCalls() {
  std::lock_guard<std::mutex> lk(mu_);
  return shellCalls_;
}

void SimDesktop::NewGuid(GUID* g) {
  std::lock_guard<std::mutex> lk(mu_);
  *g = GUID{};
  g->Data1 = 0x5EED0000u + ++guidCounter_;
  g->Data2 = 0x1234;
  g->Data3 = 0x4000;
  g->Data4[0] = 0x80;
}

}  // namespace plat::sim

namespace plat::sim {

void SimDesktop::SetWindowMessageSink(WindowMessageSink sink) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    windowSink_ = std::move(sink);
  }
  DeliverWindowMessages();
}

void SimDesktop::PostWindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    windowMessages_.push_back({window, msg, wParam, lParam});
    pendingMessages_.push_back({window, msg, wParam, lParam});
  }
  DeliverWindowMessages();
}

std::vector<SimDesktop::WindowMessage> SimDesktop::WindowMessages() {
  std::lock_guard<std::mutex> lk(mu_);
  return windowMessages_;
}

void SimDesktop::DeliverWindowMessages() {
  std::lock_guard<std::recursive_mutex> order(deliverMu_);
  for (;;) {
    WindowMessageSink sink;
    WindowMessage m;
    {
      std::lock_guard<std::mutex> lk(mu_);
      if (!windowSink_ || pendingMessages_.empty()) return;
      sink = windowSink_;
      m = pendingMessages_.front();
      pendingMessages_.pop_front();
    }
    sink(m.window, m.msg, m.wParam, m.lParam);
  }
}

}  // namespace plat::sim
