#include "ui/uIniFile.h"

#include <limits>

#include "core/uFileWrite.h"
#include "core/uText.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
// A settings file is a few hundred bytes; anything far larger is not one, and is not read into
// memory whole.
constexpr LONGLONG kMaxIniBytes = 1 << 20;

std::string TrimBlanks(const std::string& S) {
  size_t b = 0, e = S.size();
  while (b < e && (S[b] == ' ' || S[b] == '\t')) ++b;
  while (e > b && (S[e - 1] == ' ' || S[e - 1] == '\t')) --e;
  return S.substr(b, e - b);
}

bool SameName(const std::string& A, const std::string& B) { return LowerCase(A) == LowerCase(B); }

}  // namespace

TIniFile::TLine TIniFile::ParseLine(std::string Raw) {
  TLine l;
  const std::string t = TrimBlanks(Raw);
  l.Raw = std::move(Raw);
  if (t.empty() || t[0] == ';' || t[0] == '#') return l;
  if (t[0] == '[') {
    const size_t close = t.find(']');
    if (close != std::string::npos) {
      l.Kind = TLine::TKind::Section;
      l.Name = TrimBlanks(t.substr(1, close - 1));
    }
    return l;
  }
  const size_t eq = t.find('=');
  if (eq == std::string::npos) return l;
  l.Name = TrimBlanks(t.substr(0, eq));
  if (l.Name.empty()) return l;
  l.Kind = TLine::TKind::Key;
  l.Value = TrimBlanks(t.substr(eq + 1));
  return l;
}

bool TIniFile::Parse(const std::string& Text) {
  FLines.clear();
  FBom = false;
  if (Text.find('\0') != std::string::npos) return false;
  size_t start = 0;
  if (Text.compare(0, 3, kBom) == 0) {
    FBom = true;
    start = 3;
  }
  // Lines end at CR LF, LF or CR; a break at the very end starts no further line.
  for (size_t i = start; i < Text.size(); ++i) {
    if (Text[i] != '\r' && Text[i] != '\n') continue;
    FLines.push_back(ParseLine(Text.substr(start, i - start)));
    if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < Text.size()) FLines.push_back(ParseLine(Text.substr(start)));
  return true;
}

std::string TIniFile::Text() const {
  std::string text = FBom ? kBom : "";
  for (const TLine& l : FLines) text += l.Raw + "\r\n";
  return text;
}

int TIniFile::FindSection(const std::string& Section) const {
  for (size_t i = 0; i < FLines.size(); ++i)
    if (FLines[i].Kind == TLine::TKind::Section && SameName(FLines[i].Name, Section)) return static_cast<int>(i);
  return -1;
}

int TIniFile::FindKey(int SectionLine, const std::string& Key) const {
  for (size_t i = SectionLine + 1; i < FLines.size() && FLines[i].Kind != TLine::TKind::Section; ++i)
    if (FLines[i].Kind == TLine::TKind::Key && SameName(FLines[i].Name, Key)) return static_cast<int>(i);
  return -1;
}

bool TIniFile::ReadString(const std::string& Section, const std::string& Key, std::string& Value) const {
  const int s = FindSection(Section);
  const int k = s < 0 ? -1 : FindKey(s, Key);
  if (k < 0) return false;
  Value = FLines[k].Value;
  return true;
}

bool TIniFile::ParseInteger(const std::string& Text, int32_t& Value) {
  size_t i = 0;
  const bool negative = !Text.empty() && Text[0] == '-';
  if (!Text.empty() && (Text[0] == '-' || Text[0] == '+')) i = 1;
  if (i == Text.size()) return false;
  // Accumulated as a magnitude, so that "-2147483648" fits and one digit more does not.
  const uint64_t limit =
      negative ? uint64_t(std::numeric_limits<int32_t>::max()) + 1 : uint64_t(std::numeric_limits<int32_t>::max());
  uint64_t magnitude = 0;
  for (; i < Text.size(); ++i) {
    if (Text[i] < '0' || Text[i] > '9') return false;
    magnitude = magnitude * 10 + uint64_t(Text[i] - '0');
    if (magnitude > limit) return false;
  }
  Value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
  return true;
}

int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const {
  std::string text;
  int32_t value = 0;
  if (!ReadString(Section, Key, text) || !ParseInteger(text, value)) return Default;
  return value;
}

bool TIniFile::ReadBool(const std::string& Section, const std::string& Key, bool Default) const {
  std::string text;
  if (!ReadString(Section, Key, text) || text.empty()) return Default;
  return text[0] == '1';
}

void TIniFile::WriteString(const std::string& Section, const std::string& Key, const std::string& Value) {
  int s = FindSection(Section);
  if (s < 0) {
    if (!FLines.empty() && !TrimBlanks(FLines.back().Raw).empty()) FLines.push_back(ParseLine(""));
    FLines.push_back(ParseLine("[" + Section + "]"));
    s = static_cast<int>(FLines.size()) - 1;
  }
  const int k = FindKey(s, Key);
  if (k >= 0) {
    // Where it stands, in the spelling the file gives it.
    FLines[k] = ParseLine(FLines[k].Name + "=" + Value);
    return;
  }
  // After the section's last key (or its header), so blank lines and comments that lead into the
  // next section stay where they are.
  size_t at = s + 1;
  for (size_t i = s + 1; i < FLines.size() && FLines[i].Kind != TLine::TKind::Section; ++i)
    if (FLines[i].Kind == TLine::TKind::Key) at = i + 1;
  FLines.insert(FLines.begin() + at, ParseLine(Key + "=" + Value));
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value) {
  WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Key, bool Value) {
  WriteString(Section, Key, Value ? "1" : "0");
}

TIniLoad LoadIniFile(const std::string& Path, TIniFile& Ini) {
  Ini.Parse("");
  const DWORD attrs = Win().GetFileAttributesW(Path);
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = Win().GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? TIniLoad::Missing : TIniLoad::Unreadable;
  }
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return TIniLoad::Unreadable;

  HANDLE h = Win().CreateFileW(Path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!IsValidHandle(h)) return TIniLoad::Unreadable;
  std::string bytes;
  LONGLONG size = 0;
  bool ok = Win().GetFileSizeEx(h, &size) && size >= 0 && size <= kMaxIniBytes;
  if (ok) {
    bytes.resize(static_cast<size_t>(size));
    size_t at = 0;
    while (ok && at < bytes.size()) {
      DWORD read = 0;
      ok = Win().ReadFile(h, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &read) && read > 0;
      at += read;
    }
  }
  Win().CloseHandle(h);
  if (!ok || !Ini.Parse(bytes)) return TIniLoad::Unreadable;
  return TIniLoad::Loaded;
}

void SaveIniFile(const std::string& Path, const TIniFile& Ini) { WriteWholeFile(Path, Ini.Text()); }
