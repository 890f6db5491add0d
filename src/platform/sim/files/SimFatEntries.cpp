#include "platform/sim/files/SimFatEntries.h"

#include <algorithm>
#include <cstring>

#include "base/uByteOrder.h"
#include "base/uUtf.h"

namespace plat::sim {

namespace {

constexpr uint8_t kAttrReadOnly = 0x01, kAttrHidden = 0x02, kAttrSystem = 0x04, kAttrLabel = 0x08, kAttrDir = 0x10,
                  kAttrArchive = 0x20, kAttrLongName = 0x0F;
constexpr DWORD kStored =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// DOS date and time (the FAT32 fields; exFAT's time stamps put the date in the high half).
uint16_t DosDate(const SYSTEMTIME& t) {
  const int year = std::clamp<int>(t.wYear, 1980, 2107);
  return static_cast<uint16_t>((year - 1980) << 9 | (t.wMonth ? t.wMonth : 1) << 5 | (t.wDay ? t.wDay : 1));
}
uint16_t DosTime(const SYSTEMTIME& t) {
  return static_cast<uint16_t>(t.wHour << 11 | t.wMinute << 5 | t.wSecond / 2);
}
SYSTEMTIME FromDos(uint16_t date, uint16_t time, uint8_t tenMs) {
  SYSTEMTIME t;
  t.wYear = static_cast<WORD>(1980 + (date >> 9));
  t.wMonth = static_cast<WORD>((date >> 5) & 15);
  t.wDay = static_cast<WORD>(date & 31);
  t.wHour = static_cast<WORD>(time >> 11);
  t.wMinute = static_cast<WORD>((time >> 5) & 63);
  t.wSecond = static_cast<WORD>((time & 31) * 2 + tenMs / 100);
  t.wMilliseconds = static_cast<WORD>(tenMs % 100 * 10);
  return t;
}
uint8_t TenMs(const SYSTEMTIME& t) { return static_cast<uint8_t>(t.wSecond % 2 * 100 + t.wMilliseconds / 10); }

uint8_t ToFatAttrs(const SimFatEntry& e) {
  uint8_t a = 0;
  if (e.attrs & FILE_ATTRIBUTE_READONLY) a |= kAttrReadOnly;
  if (e.attrs & FILE_ATTRIBUTE_HIDDEN) a |= kAttrHidden;
  if (e.attrs & FILE_ATTRIBUTE_SYSTEM) a |= kAttrSystem;
  if (e.attrs & FILE_ATTRIBUTE_ARCHIVE) a |= kAttrArchive;
  if (e.dir) a |= kAttrDir;
  return a;
}
DWORD FromFatAttrs(uint8_t a) { return a & kStored; }  // the bit values are the same

// Characters a short name may hold besides letters and digits.
bool ShortChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
bool HasLower(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}
bool HasUpper(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string Pad(std::string base, std::string ext) {
  for (char& c : base) c = Upper(c);
  for (char& c : ext) c = Upper(c);
  base.resize(8, ' ');
  ext.resize(3, ' ');
  return base + ext;
}

uint8_t ShortChecksum(const std::string& shortName) {
  uint8_t sum = 0;
  for (unsigned char c : shortName) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + c);
  return sum;
}

// exFAT's 16-bit checksum and name hash: rotate right by one, add the byte.
uint16_t Rotate16(uint16_t sum, uint8_t b) {
  return static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
}

std::string ShortDisplay(const std::string& s, uint8_t caseBits) {
  std::string base = s.substr(0, 8), ext = s.substr(8, 3);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  auto lower = [](std::string& x) {
    for (char& c : x)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  };
  if (caseBits & 0x08) lower(base);
  if (caseBits & 0x10) lower(ext);
  if (!base.empty() && static_cast<unsigned char>(base[0]) == 0x05) base[0] = static_cast<char>(0xE5);
  if (!ext.empty()) {
    base += '.';
    base += ext;
  }
  return base;
}

}  // namespace

void Fat32ShortName(const std::set<std::string>& taken, const std::string& name, SimFatEntry* e) {
  const size_t dot = name.rfind('.');
  const bool hasExt = dot != std::string::npos && dot > 0;
  const std::string base = hasExt ? name.substr(0, dot) : name;
  const std::string ext = hasExt ? name.substr(dot + 1) : std::string();
  const bool plain =
      std::all_of(base.begin(), base.end(), [](char c) { return ShortChar(static_cast<unsigned char>(c)); }) &&
      std::all_of(ext.begin(), ext.end(), [](char c) { return ShortChar(static_cast<unsigned char>(c)); });
  if (plain && !base.empty() && base.size() <= 8 && ext.size() <= 3) {
    const std::string s = Pad(base, ext);
    if (!taken.count(s)) {
      e->shortName = s;
      // One case for each part: the case bits say so and no long name is needed.
      const bool baseOne = !(HasLower(base) && HasUpper(base)), extOne = !(HasLower(ext) && HasUpper(ext));
      e->longName = !(baseOne && extOne);
      e->caseBits =
          e->longName ? 0 : static_cast<uint8_t>((HasLower(base) ? 0x08 : 0) | (HasLower(ext) ? 0x10 : 0));
      return;
    }
  }
  // The basis: what may stand in a short name, upper case, blanks and inner dots left out.
  std::string b, x;
  for (char c : base)
    if (c != ' ' && c != '.') b += ShortChar(static_cast<unsigned char>(c)) ? Upper(c) : '_';
  for (char c : ext)
    if (c != ' ') x += ShortChar(static_cast<unsigned char>(c)) ? Upper(c) : '_';
  if (b.empty()) b.push_back('_');
  x.resize(std::min<size_t>(x.size(), 3));
  e->longName = true;
  e->caseBits = 0;
  for (unsigned n = 1;; ++n) {
    std::string tail(1, '~');
    tail += std::to_string(n);
    std::string basis = b.substr(0, 8 - tail.size());
    basis += tail;
    const std::string s = Pad(basis, x);
    if (!taken.count(s)) {
      e->shortName = s;
      return;
    }
  }
}

std::vector<uint8_t> Fat32EntryBytes(const SimFatEntry& e) {
  const std::u16string name = Utf8ToUtf16(e.name);
  const size_t longCount = e.longName ? (name.size() + 12) / 13 : 0;
  std::vector<uint8_t> out((longCount + 1) * 32, 0);
  TByteWriter w(out);
  const uint8_t sum = ShortChecksum(e.shortName);
  static const size_t kCharAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t k = 0; k < longCount; ++k) {
    const size_t ord = longCount - k;  // the last part comes first
    const size_t at = k * 32;
    w.U8(at, static_cast<uint8_t>(ord | (k == 0 ? 0x40 : 0)));
    w.U8(at + 11, kAttrLongName);
    w.U8(at + 13, sum);
    for (size_t i = 0; i < 13; ++i) {
      const size_t c = (ord - 1) * 13 + i;
      const uint16_t v = c < name.size() ? name[c] : c == name.size() ? 0 : 0xFFFF;
      w.LE16(at + kCharAt[i], v);
    }
  }
  const size_t at = longCount * 32;
  std::memcpy(out.data() + at, e.shortName.data(), 11);
  if (static_cast<unsigned char>(out[at]) == 0xE5) out[at] = 0x05;
  w.U8(at + 11, ToFatAttrs(e));
  w.U8(at + 12, e.caseBits);
  w.U8(at + 13, TenMs(e.created));
  w.LE16(at + 14, DosTime(e.created));
  w.LE16(at + 16, DosDate(e.created));
  w.LE16(at + 18, DosDate(e.written));
  w.LE16(at + 20, static_cast<uint16_t>(e.firstCluster >> 16));
  w.LE16(at + 22, DosTime(e.written));
  w.LE16(at + 24, DosDate(e.written));
  w.LE16(at + 26, static_cast<uint16_t>(e.firstCluster));
  w.LE32(at + 28, e.dir ? 0 : static_cast<uint32_t>(e.size));
  return out;
}

std::vector<uint8_t> Fat32DotEntries(uint32_t self, uint32_t parent, const SYSTEMTIME& now) {
  std::vector<uint8_t> out;
  for (uint32_t c : {self, parent}) {
    SimFatEntry e;
    e.shortName = c == self ? ".          " : "..         ";
    e.dir = true;
    e.firstCluster = c;
    e.created = e.written = now;
    const auto b = Fat32EntryBytes(e);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

std::vector<uint8_t> ExFatEntryBytes(const SimFatEntry& e, const std::vector<uint16_t>& upcase) {
  const std::u16string name = Utf8ToUtf16(e.name);
  const size_t nameEntries = (name.size() + 14) / 15;
  std::vector<uint8_t> out((2 + nameEntries) * 32, 0);
  TByteWriter w(out);
  w.U8(0, 0x85);
  w.U8(1, static_cast<uint8_t>(1 + nameEntries));
  w.LE16(4, static_cast<uint16_t>(ToFatAttrs(e)));
  w.LE32(8, uint32_t(DosDate(e.created)) << 16 | DosTime(e.created));
  w.LE32(12, uint32_t(DosDate(e.written)) << 16 | DosTime(e.written));
  w.LE32(16, uint32_t(DosDate(e.written)) << 16 | DosTime(e.written));
  w.U8(20, TenMs(e.created));
  w.U8(21, TenMs(e.written));
  // Stream extension: the allocation may be used; the FAT chains it unless it is one run.
  w.U8(32, 0xC0);
  w.U8(33, static_cast<uint8_t>(e.firstCluster ? 0x01 | (e.noFatChain ? 0x02 : 0) : 0x01));
  w.U8(35, static_cast<uint8_t>(name.size()));
  uint16_t hash = 0;
  for (char16_t c : name) {
    const uint16_t u = c < upcase.size() ? upcase[c] : static_cast<uint16_t>(c);
    hash = Rotate16(Rotate16(hash, static_cast<uint8_t>(u)), static_cast<uint8_t>(u >> 8));
  }
  w.LE16(36, hash);
  w.LE64(40, e.size);
  w.LE32(52, e.firstCluster);
  w.LE64(56, e.size);
  for (size_t k = 0; k < nameEntries; ++k) {
    const size_t at = (2 + k) * 32;
    w.U8(at, 0xC1);
    for (size_t i = 0; i < 15 && k * 15 + i < name.size(); ++i) w.LE16(at + 2 + 2 * i, name[k * 15 + i]);
  }
  uint16_t sum = 0;
  for (size_t i = 0; i < out.size(); ++i)
    if (i != 2 && i != 3) sum = Rotate16(sum, out[i]);
  w.LE16(2, sum);
  return out;
}

std::vector<SimFatEntry> ParseFat32Folder(const std::vector<uint8_t>& bytes,
                                          std::vector<std::pair<uint64_t, uint32_t>>* reserved) {
  std::vector<SimFatEntry> r;
  std::u16string longName;
  size_t longStart = 0, longParts = 0, longExpected = 0;
  uint8_t longSum = 0;
  static const size_t kCharAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
    TByteReader e({bytes.data() + at, 32});
    const uint8_t first = e.U8(0), attr = e.U8(11);
    if (first == 0x00) break;
    if (first == 0xE5) {
      longParts = 0;
      continue;
    }
    if (attr == kAttrLongName) {
      const size_t ord = first & 0x3F;
      if (first & 0x40) {
        longStart = at;
        longExpected = ord;
        longParts = 0;
        longSum = e.U8(13);
        longName.assign(ord * 13, u'\0');
      }
      if (ord == 0 || ord > longExpected || e.U8(13) != longSum || longExpected - ord != longParts) {
        longParts = 0;
        continue;
      }
      for (size_t i = 0; i < 13; ++i) longName[(ord - 1) * 13 + i] = static_cast<char16_t>(e.LE16(kCharAt[i]));
      ++longParts;
      continue;
    }
    const std::string shortName(reinterpret_cast<const char*>(bytes.data() + at), 11);
    if ((attr & kAttrLabel) || shortName == ".          " || shortName == "..         ") {
      if (reserved) reserved->push_back({at, 1});
      longParts = 0;
      continue;
    }
    SimFatEntry f;
    f.shortName = shortName;
    if (static_cast<unsigned char>(f.shortName[0]) == 0x05) f.shortName[0] = static_cast<char>(0xE5);
    f.caseBits = e.U8(12);
    f.dir = attr & kAttrDir;
    f.attrs = FromFatAttrs(attr);
    f.firstCluster = uint32_t(e.LE16(20)) << 16 | e.LE16(26);
    f.size = f.dir ? 0 : e.LE32(28);
    f.created = FromDos(e.LE16(16), e.LE16(14), e.U8(13));
    f.written = FromDos(e.LE16(24), e.LE16(22), 0);
    if (longParts && longParts == longExpected && longSum == ShortChecksum(shortName)) {
      const size_t end = longName.find(u'\0');
      f.name = Utf16ToUtf8(longName.substr(0, end));
      f.longName = true;
      f.at = longStart;
    } else {
      f.name = ShortDisplay(f.shortName, f.caseBits);
      f.at = at;
    }
    f.slots = static_cast<uint32_t>((at - f.at) / 32 + 1);
    longParts = 0;
    r.push_back(std::move(f));
  }
  return r;
}

std::vector<SimFatEntry> ParseExFatFolder(const std::vector<uint8_t>& bytes,
                                          std::vector<std::pair<uint64_t, uint32_t>>* reserved) {
  std::vector<SimFatEntry> r;
  for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
    TByteReader e({bytes.data() + at, 32});
    const uint8_t type = e.U8(0);
    if (type == 0x00) break;
    if (!(type & 0x80)) continue;  // deleted
    if (type != 0x85) {
      if (reserved) reserved->push_back({at, 1});
      continue;
    }
    const uint32_t count = e.U8(1);
    if (count < 2 || at + 32 * (count + 1) > bytes.size()) {
      if (reserved) reserved->push_back({at, 1});
      continue;
    }
    TByteReader s({bytes.data() + at + 32, 32});
    if (s.U8(0) != 0xC0) continue;
    SimFatEntry f;
    const DWORD attrs = e.LE16(4);
    f.dir = attrs & kAttrDir;
    f.attrs = attrs & kStored;
    f.created = FromDos(static_cast<uint16_t>(e.LE32(8) >> 16), static_cast<uint16_t>(e.LE32(8)), e.U8(20));
    f.written = FromDos(static_cast<uint16_t>(e.LE32(12) >> 16), static_cast<uint16_t>(e.LE32(12)), e.U8(21));
    f.noFatChain = s.U8(1) & 0x02;
    const size_t length = s.U8(3);
    f.firstCluster = s.LE32(20);
    f.size = s.LE64(24);
    std::u16string name;
    for (uint32_t k = 2; k <= count && name.size() < length; ++k) {
      TByteReader n({bytes.data() + at + 32 * k, 32});
      if (n.U8(0) != 0xC1) break;
      for (size_t i = 0; i < 15 && name.size() < length; ++i) name += static_cast<char16_t>(n.LE16(2 + 2 * i));
    }
    f.name = Utf16ToUtf8(name);
    f.at = at;
    f.slots = count + 1;
    r.push_back(std::move(f));
    at += 32 * count;
  }
  return r;
}

void MarkFatEntryDeleted(bool exfat, std::vector<uint8_t>& bytes) {
  for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
    if (exfat)
      bytes[at] = static_cast<uint8_t>(bytes[at] & 0x7F);
    else
      bytes[at] = 0xE5;
  }
}

}  // namespace plat::sim
