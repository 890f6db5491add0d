#include "core/uTypes.h"

#include <cstring>
#include <vector>

#include "core/uFormat.h"
#include "core/uText.h"
#include "base/uUtf.h"
#include "platform/Platform.h"

std::string TransportToText(TTransportKind Kind) {
  switch (Kind) {
    case TTransportKind::tkUnknown: return "Unknown (transport not identified)";
    case TTransportKind::tkBOT: return "BOT";
    case TTransportKind::tkUAS: return "UAS";
    case TTransportKind::tkNonUsb: return "Non-USB/Unknown-Bridge";
  }
  return "Unknown";
}

std::string MediaKindToText(TMediaKind Kind) {
  switch (Kind) {
    case TMediaKind::mkSSD: return "SSD";
    case TMediaKind::mkHDD: return "HDD";
    case TMediaKind::mkUnknown: break;
  }
  return "Unknown-media";
}

std::string TrimModeToText(TTrimMode Mode) {
  switch (Mode) {
    case TTrimMode::tmFullDevice: return "Full device range";
    case TTrimMode::tmFreeSpace: return "Free space only";
  }
  return "Unknown";
}

std::string RunModeToText(TRunMode Mode) {
  switch (Mode) {
    case TRunMode::rmDryRun: return "Dry-run";
    case TRunMode::rmExecute: return "Execute";
  }
  return "Unknown";
}

std::string MaskSerial(const std::string& Serial) {
  // Counted in UTF-16 code units, as Windows holds the serial. Keeping the last four units may
  // cut a surrogate pair; the lone half then comes back as U+FFFD, still one unit long.
  const std::u16string w = Utf8ToUtf16(Serial);
  if (w.size() <= 4) return "****";
  std::u16string masked(w.size() - 4, u'*');
  masked.append(w, w.size() - 4, 4);
  return Utf16ToUtf8(masked);
}

uint64_t MinU64(uint64_t A, uint64_t B) { return A < B ? A : B; }
uint64_t MaxU64(uint64_t A, uint64_t B) { return A > B ? A : B; }

namespace {
// One string value of the version block; false when the key is not there. The value ends at
// its first NUL but never runs past the length the block reports for it.
bool QueryString(const std::vector<uint8_t>& Block, const std::string& Key, std::string& Out) {
  void* p = nullptr;
  plat::UINT len = 0;
  if (!plat::Win().VerQueryValueW(Block.data(), Key, &p, &len) || !p) return false;
  // Copied out unit by unit: the value need not be 2-byte aligned inside the block.
  std::u16string w(len, u'\0');
  if (len > 0) std::memcpy(w.data(), p, static_cast<size_t>(len) * sizeof(char16_t));
  const size_t nul = w.find(u'\0');
  if (nul != std::u16string::npos) w.resize(nul);
  Out = Utf16ToUtf8(w);
  return true;
}

// The string tables to look in: those the translation table names, then US English in the
// Unicode and the Windows Latin-1 code pages, which is where tools without one put theirs.
std::vector<std::string> StringTables(const std::vector<uint8_t>& Block) {
  std::vector<std::string> tables;
  void* p = nullptr;
  plat::UINT len = 0;
  if (plat::Win().VerQueryValueW(Block.data(), "\\VarFileInfo\\Translation", &p, &len) && p) {
    for (plat::UINT off = 0; off + 4 <= len; off += 4) {
      uint16_t pair[2];
      std::memcpy(pair, static_cast<const uint8_t*>(p) + off, 4);
      tables.push_back(FormatPlain("%.4X%.4X", pair[0], pair[1]));
    }
  }
  for (const char* fallback : {"040904B0", "040904E4"}) {
    bool seen = false;
    for (auto& t : tables) seen = seen || t == fallback;
    if (!seen) tables.push_back(fallback);
  }
  return tables;
}

std::string gAppVersion = "0.0.0.0";
}  // namespace

std::string GetAppFileVersion() try {
  std::string path;
  if (plat::Win().GetModuleFileNameW(&path) == 0 || path.empty()) return "";
  plat::DWORD handle = 0;
  const plat::DWORD size = plat::Win().GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return "";
  std::vector<uint8_t> block(size);
  if (!plat::Win().GetFileVersionInfoW(path, handle, size, block.data())) return "";
  for (const std::string& table : StringTables(block)) {
    std::string value;
    if (QueryString(block, "\\StringFileInfo\\" + table + "\\FileVersion", value)) return Trim(value);
  }
  return "";
} catch (...) {
  // A version read never fails outward (a block too large to hold, say).
  return "";
}

const std::string& AppVersion() { return gAppVersion; }

void InitAppVersion() {
  const std::string v = GetAppFileVersion();
  gAppVersion = v.empty() ? "0.0.0.0" : v;
}
