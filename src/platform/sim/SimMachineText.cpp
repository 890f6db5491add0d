#include "platform/sim/SimMachineText.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "platform/sim/SimMachine.h"
#include "platform/sim/files/SimVolumeFormat.h"

namespace plat::sim {

namespace {

constexpr uint64_t kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024, kTiB = kGiB * 1024;
// Volumes start on whole MiB, as Windows places them; the last MiB of a disk stays free for the
// GPT's backup.
constexpr uint64_t kAlign = kMiB;
constexpr uint64_t kTailReserve = kMiB;
constexpr uint64_t kMaxDiskBytes = 256 * kTiB;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct Token {
  std::string key;  // empty for a bare word
  std::string value;
};

// Splits a line into words and key=value pairs; '#' outside quotes ends the line, and a value
// may be quoted to hold blanks.
bool Tokenize(const std::string& line, std::vector<Token>* out, std::string* why) {
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && std::isspace(static_cast<unsigned char>(line[i]))) i++;
    if (i >= n || line[i] == '#') break;
    Token t;
    std::string word;
    bool quoted = false;
    while (i < n && !std::isspace(static_cast<unsigned char>(line[i]))) {
      const char c = line[i];
      if (c == '"') {
        const size_t end = line.find('"', i + 1);
        if (end == std::string::npos) {
          *why = "a quote is not closed";
          return false;
        }
        word.append(line, i + 1, end - i - 1);
        quoted = true;
        i = end + 1;
        continue;
      }
      if (c == '#' && !quoted) break;
      if (c == '=' && t.key.empty() && !quoted) {
        t.key = Lower(word);
        word.clear();
        if (t.key.empty()) {
          *why = "'=' without a key before it";
          return false;
        }
        i++;
        continue;
      }
      word += c;
      i++;
    }
    t.value = word;
    out->push_back(std::move(t));
  }
  return true;
}

// "500G", "128K", "4096": bytes, with binary K, M, G and T.
std::optional<uint64_t> ParseSize(const std::string& text) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  uint64_t v = 0;
  size_t i = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); i++) {
    if (v > (UINT64_MAX - 9) / 10) return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  uint64_t unit = 1;
  if (i < text.size()) {
    switch (std::toupper(static_cast<unsigned char>(text[i]))) {
      case 'K': unit = kKiB; break;
      case 'M': unit = kMiB; break;
      case 'G': unit = kGiB; break;
      case 'T': unit = kTiB; break;
      default: return std::nullopt;
    }
    if (++i != text.size()) return std::nullopt;
  }
  if (v > UINT64_MAX / unit) return std::nullopt;
  return v * unit;
}

std::optional<int> ParseInt(const std::string& text, int lo, int hi) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return std::nullopt;
  return v;
}

std::string SizeText(uint64_t bytes) {
  const struct {
    uint64_t unit;
    const char* suffix;
  } units[] = {{kTiB, "T"}, {kGiB, "G"}, {kMiB, "M"}, {kKiB, "K"}};
  for (const auto& u : units)
    if (bytes >= u.unit && bytes % u.unit == 0) return std::to_string(bytes / u.unit) + u.suffix;
  return std::to_string(bytes);
}

std::optional<SimBridgeProfile> BridgeByName(const std::string& name) {
  if (name == "full-sat") return SimBridgeProfile::FullSat();
  if (name == "bot") return SimBridgeProfile::BotAtaOnly();
  if (name == "uas") return SimBridgeProfile::UasUnmap(0, 0);
  if (name == "uas-4k") return SimBridgeProfile::Uas4Kn();
  if (name == "no-trim") return SimBridgeProfile::NoTrim();
  return std::nullopt;
}

// What Windows' format picks when no cluster size is given; exFAT's 128K for volumes above 32G
// is held to the 64K that the simulated formatter makes.
uint32_t DefaultCluster(const std::string& fs, uint64_t size, uint32_t blockBytes) {
  uint32_t c = 4096;
  if (fs == "exFAT")
    c = size <= 256 * kMiB ? 4096 : size <= 32 * kGiB ? 32768 : 65536;
  else if (fs == "FAT32")
    c = size <= 8 * kGiB ? 4096 : size <= 16 * kGiB ? 8192 : size <= 32 * kGiB ? 16384 : 32768;
  return std::max(c, blockBytes);
}

class TParser {
 public:
  TParser(SimMachinePlan* plan, std::string* error) : plan_(plan), error_(error) {}

  bool Line(int number, const std::string& text) {
    line_ = number;
    std::vector<Token> tokens;
    std::string why;
    if (!Tokenize(text, &tokens, &why)) return Fail(why);
    if (tokens.empty()) return true;
    if (!tokens[0].key.empty()) return Fail("a line starts with 'disk' or 'volume', not '" + tokens[0].key + "='");
    const std::string keyword = Lower(tokens[0].value);
    if (keyword == "disk") return Disk(tokens);
    if (keyword == "volume") return Volume(tokens);
    return Fail("unknown keyword '" + tokens[0].value + "' (a line is 'disk ...' or 'volume ...')");
  }

 private:
  bool Fail(const std::string& why) {
    *error_ = "line " + std::to_string(line_) + ": " + why;
    return false;
  }

  // The key=value pairs after the positional words, each key at most once and among `allowed`.
  bool Pairs(const std::vector<Token>& tokens, size_t from, const std::vector<std::string>& allowed,
             std::map<std::string, std::string>* out) {
    for (size_t i = from; i < tokens.size(); i++) {
      const Token& t = tokens[i];
      if (t.key.empty()) return Fail("'" + t.value + "' is not a key=value pair");
      if (std::find(allowed.begin(), allowed.end(), t.key) == allowed.end()) {
        std::string list;
        for (const auto& a : allowed) list += (list.empty() ? "" : ", ") + a;
        return Fail("unknown key '" + t.key + "' (known: " + list + ")");
      }
      if (out->count(t.key)) return Fail("key '" + t.key + "' is given twice");
      (*out)[t.key] = t.value;
    }
    return true;
  }

  bool Disk(const std::vector<Token>& tokens) {
    if (tokens.size() < 3 || !tokens[1].key.empty() || !tokens[2].key.empty())
      return Fail("a disk line is 'disk NUMBER PRESET size=SIZE ...'");
    const auto number = ParseInt(tokens[1].value, 0, 31);
    if (!number) return Fail("disk number '" + tokens[1].value + "' is not 0 to 31");
    for (const auto& d : plan_->disks)
      if (d.number == *number)
        return Fail("disk " + std::to_string(*number) + " is given twice (first on line " +
                    std::to_string(d.line) + ")");
    std::map<std::string, std::string> kv;
    if (!Pairs(tokens, 3,
               {"size", "product", "serial", "model", "firmware", "bridge", "table", "trim", "rpm", "identify-ms",
                "speed", "cache", "write-mbps", "read-mbps"},
               &kv))
      return false;

    SimDiskPlan d;
    d.line = line_;
    d.number = *number;
    d.preset = Lower(tokens[2].value);
    auto get = [&](const char* key, const std::string& fallback) {
      auto it = kv.find(key);
      return it == kv.end() ? fallback : it->second;
    };
    std::string defaultBridge = "full-sat";
    if (d.preset == "bot") {
      d.description = presets::BotEnclosure(get("product", "Portable SSD"), get("serial", "BOT0001"));
      defaultBridge = "bot";
    } else if (d.preset == "uas") {
      d.description = presets::UasEnclosure(get("product", "UAS SSD"), get("serial", "UAS0001"));
      defaultBridge = "uas";
    } else if (d.preset == "usb") {
      d.description = presets::UnidentifiedUsbBridge(get("product", "USB Disk"), get("serial", ""));
    } else if (d.preset == "sata") {
      d.description = presets::InternalSata(get("product", "SATA SSD"), get("serial", "SATA0001"));
    } else if (d.preset == "nvme") {
      d.description = presets::InternalNvme(get("product", "NVMe SSD"), get("serial", "NVME0001"));
    } else if (d.preset == "usb-hdd") {
      d.description = presets::UsbHardDisk(get("product", "USB HDD"), get("serial", "HDD0001"));
      defaultBridge = "bot";
      d.identity.trimSupported = false;
      d.identity.rotationRate = 5400;
    } else {
      return Fail("unknown preset '" + tokens[2].value + "' (known: bot, uas, usb, sata, nvme, usb-hdd)");
    }

    const auto bridge = BridgeByName(Lower(get("bridge", defaultBridge)));
    if (!bridge) return Fail("unknown bridge '" + kv["bridge"] + "' (known: full-sat, bot, uas, uas-4k, no-trim)");
    d.bridge = *bridge;

    if (!kv.count("size")) return Fail("a disk needs size=");
    const auto size = ParseSize(kv["size"]);
    if (!size) return Fail("size '" + kv["size"] + "' is not a size (a number with K, M, G or T)");
    d.sizeBytes = *size / d.bridge.logicalBlockSize * d.bridge.logicalBlockSize;
    if (d.sizeBytes < 16 * kMiB || d.sizeBytes > kMaxDiskBytes) return Fail("a disk holds 16M to 256T");

    const std::string table = Lower(get("table", "gpt"));
    if (table != "gpt" && table != "mbr") return Fail("table '" + kv["table"] + "' is not gpt or mbr");
    d.description.mbrPartitionTable = table == "mbr";

    d.identity.model = get("model", d.description.product);
    d.identity.serial = d.description.serial.empty() ? "SIM0000000001" : d.description.serial;
    d.identity.firmware = get("firmware", d.identity.firmware);
    if (kv.count("trim")) {
      const std::string t = Lower(kv["trim"]);
      if (t != "yes" && t != "no") return Fail("trim '" + kv["trim"] + "' is not yes or no");
      d.identity.trimSupported = t == "yes";
    }
    if (kv.count("rpm")) {
      const auto rpm = ParseInt(kv["rpm"], 0, 65534);
      if (!rpm) return Fail("rpm '" + kv["rpm"] + "' is not 0 to 65534 (1: not rotating)");
      d.identity.rotationRate = static_cast<uint16_t>(*rpm);
    }
    if (kv.count("identify-ms")) {
      const auto ms = ParseInt(kv["identify-ms"], 0, 600000);
      if (!ms) return Fail("identify-ms '" + kv["identify-ms"] + "' is not 0 to 600000");
      d.identity.answerDelayMs = static_cast<uint32_t>(*ms);
    }
    if (!Speed(kv, d.speed)) return false;
    plan_->disks.push_back(std::move(d));
    return true;
  }

  // speed= names a profile; cache=, write-mbps= and read-mbps= change it.
  bool Speed(std::map<std::string, std::string>& kv, SimDriveSpeed& speed) {
    const std::string name = Lower(kv.count("speed") ? kv["speed"] : "instant");
    if (name == "instant")
      speed = SimDriveSpeed::Instant();
    else if (name == "fast-uas-ssd")
      speed = SimDriveSpeed::FastUasSsd();
    else if (name == "bot-enclosure")
      speed = SimDriveSpeed::BotEnclosure();
    else if (name == "steady")
      speed = SimDriveSpeed::NeverSlows();
    else
      return Fail("unknown speed '" + kv["speed"] + "' (known: instant, fast-uas-ssd, bot-enclosure, steady)");
    const bool timed = name != "instant";
    if (kv.count("cache")) {
      const auto c = ParseSize(kv["cache"]);
      if (!c) return Fail("cache '" + kv["cache"] + "' is not a size");
      if (speed.cacheBytes == 0)
        return Fail("speed " + name + " has no cache (fast-uas-ssd and bot-enclosure have)");
      speed.cacheBytes = *c;
    }
    for (const char* key : {"write-mbps", "read-mbps"}) {
      if (!kv.count(key)) continue;
      if (!timed) return Fail(std::string(key) + " needs a speed other than instant");
      const auto v = ParseInt(kv[key], 1, 100000);
      if (!v) return Fail(std::string(key) + " '" + kv[key] + "' is not 1 to 100000 (MiB per second)");
      (std::string(key) == "write-mbps" ? speed.writeMBps : speed.readMBps) = *v;
    }
    return true;
  }

  bool Volume(const std::vector<Token>& tokens) {
    if (plan_->disks.empty()) return Fail("a volume line comes after the line of its disk");
    SimDiskPlan& d = plan_->disks.back();
    if (tokens.size() < 2 || !tokens[1].key.empty()) return Fail("a volume line is 'volume LETTER fs=... ...'");
    const std::string& l = tokens[1].value;
    if (l.size() != 1 || !std::isalpha(static_cast<unsigned char>(l[0])))
      return Fail("volume letter '" + l + "' is not one letter A to Z");
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(l[0])));
    for (const auto& disk : plan_->disks)
      for (const auto& v : disk.volumes)
        if (v.letter == letter)
          return Fail(std::string("letter ") + letter + " is given twice (first on line " +
                      std::to_string(v.line) + ")");
    std::map<std::string, std::string> kv;
    if (!Pairs(tokens, 2, {"fs", "size", "offset", "cluster"}, &kv)) return false;

    SimVolumePlan v;
    v.line = line_;
    v.letter = letter;
    const std::string fs = Lower(kv.count("fs") ? kv["fs"] : "ntfs");
    if (fs == "ntfs")
      v.fileSystem = "NTFS";
    else if (fs == "exfat")
      v.fileSystem = "exFAT";
    else if (fs == "fat32")
      v.fileSystem = "FAT32";
    else if (fs == "raw")
      v.fileSystem.clear();
    else
      return Fail("file system '" + kv["fs"] + "' is not ntfs, exfat, fat32 or raw");

    const uint32_t block = d.bridge.logicalBlockSize;
    uint64_t start = kAlign;
    for (const auto& other : d.volumes)
      start = std::max(start, (other.offsetBytes + other.sizeBytes + kAlign - 1) / kAlign * kAlign);
    if (kv.count("offset")) {
      const auto o = ParseSize(kv["offset"]);
      if (!o) return Fail("offset '" + kv["offset"] + "' is not a size");
      if (*o == 0 || *o % block)
        return Fail("offset " + kv["offset"] + " is not on a whole block of " + std::to_string(block) +
                    " bytes after the first");
      start = *o;
    }
    uint64_t length = 0;
    const bool rest = !kv.count("size") || Lower(kv["size"]) == "rest";
    if (rest) {
      const uint64_t end = (d.sizeBytes - kTailReserve) / kAlign * kAlign;
      if (end <= start)
        return Fail("no room is left on disk " + std::to_string(d.number) + " after " + SizeText(start));
      length = end - start;
    } else {
      const auto s = ParseSize(kv["size"]);
      if (!s || *s == 0)
        return Fail("size '" + kv["size"] + "' is not a size (a number with K, M, G or T, or rest)");
      if (*s % block)
        return Fail("size " + kv["size"] + " is not whole blocks of " + std::to_string(block) + " bytes");
      length = *s;
    }
    if (start > d.sizeBytes || length > d.sizeBytes - start)
      return Fail("volume " + std::string(1, letter) + " (" + SizeText(length) + " at " + SizeText(start) +
                  ") does not fit on disk " + std::to_string(d.number) + " of " + SizeText(d.sizeBytes));
    for (const auto& other : d.volumes)
      if (start < other.offsetBytes + other.sizeBytes && other.offsetBytes < start + length)
        return Fail("volume " + std::string(1, letter) + " overlaps volume " + std::string(1, other.letter) +
                    " (line " + std::to_string(other.line) + ")");
    v.offsetBytes = start;
    v.sizeBytes = length;

    if (kv.count("cluster")) {
      const auto c = ParseSize(kv["cluster"]);
      if (!c || *c < block || *c > 65536 || (*c & (*c - 1)))
        return Fail("cluster '" + kv["cluster"] + "' is not a power of two from the block size (" +
                    std::to_string(block) + ") to 64K");
      v.clusterBytes = static_cast<uint32_t>(*c);
    } else {
      v.clusterBytes = DefaultCluster(v.fileSystem, length, block);
    }
    d.volumes.push_back(v);
    return true;
  }

  SimMachinePlan* plan_;
  std::string* error_;
  int line_ = 0;
};

}  // namespace

bool ParseMachineText(const std::string& text, SimMachinePlan* plan, std::string* error) {
  SimMachinePlan parsed;
  TParser parser(&parsed, error);
  int number = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!parser.Line(++number, line)) return false;
    at = end + 1;
  }
  *plan = std::move(parsed);
  return true;
}

bool BuildMachine(SimMachine& machine, const SimMachinePlan& plan, std::string* error) {
  auto fail = [&](int line, const std::string& why) {
    *error = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  for (const auto& d : plan.disks) {
    if (machine.Storage().Disk(d.number))
      return fail(d.line, "the machine has a disk " + std::to_string(d.number) + " already");
    for (const auto& v : d.volumes)
      if (machine.Storage().Volume(v.letter))
        return fail(v.line, std::string("the machine has a volume ") + v.letter + ": already");
    // The bridge first: it sets the block size that the partition table is laid out in.
    machine.Discovery().AddDisk(d.number, d.sizeBytes, d.description)->drive.SetSpeed(d.speed);
    machine.Bridge().SetProfile(d.number, d.bridge);
    machine.Bridge().SetIdentity(d.number, d.identity);
    for (const auto& v : d.volumes) {
      bool partitioned = false;
      machine.Discovery().AddVolume(v.letter, d.number, v.offsetBytes, v.sizeBytes, v.fileSystem, v.clusterBytes,
                                    &partitioned);
      // A machine that is not what its text says is refused, with the line.
      if (!partitioned)
        return fail(v.line, std::string("the partition table of disk ") + std::to_string(d.number) +
                                " cannot hold volume " + v.letter + " (" + SizeText(v.sizeBytes) + " at " +
                                SizeText(v.offsetBytes) +
                                "): it overlaps the table or another volume, lies past " +
                                "what the table can address, or the table is full");
      if (v.fileSystem.empty()) continue;
      const SimFsKind kind = v.fileSystem == "NTFS"    ? SimFsKind::kNtfs
                             : v.fileSystem == "exFAT" ? SimFsKind::kExFat
                                                       : SimFsKind::kFat32;
      if (!FormatVolume(machine.Storage(), v.letter, kind, d.bridge.logicalBlockSize, v.clusterBytes))
        return fail(v.line, v.fileSystem + " cannot be made on volume " + std::string(1, v.letter) + " (" +
                                SizeText(v.sizeBytes) + " in clusters of " + SizeText(v.clusterBytes) + ")");
    }
  }
  return true;
}

bool BuildMachineFromText(SimMachine& machine, const std::string& text, std::string* error) {
  SimMachinePlan plan;
  return ParseMachineText(text, &plan, error) && BuildMachine(machine, plan, error);
}

const std::string& BuiltInMachineText() {
  static const std::string text = R"(# The demo's machine (docs/machine-description.md).
# The internal system disk: Windows lives on C:.
disk 0 sata size=476G product="Samsung SSD 860 EVO 500GB" serial=S3Z2NB0K612345A firmware=RVT04B6Q speed=steady write-mbps=500 read-mbps=540
volume C fs=ntfs
# A USB Mass Storage (bulk-only) enclosure: ATA pass-through only; its bridge caps the speed.
disk 1 bot size=466G product="Portable SSD T5" serial=S49WNP0N120517 model="Samsung Portable SSD T5" firmware=MVT02B6Q speed=bot-enclosure
volume E fs=exfat
# A USB Attached SCSI enclosure: UNMAP and WRITE SAME(16) too; fast until its cache is full.
disk 2 uas size=932G product="Extreme 55AE" serial=32343133464E model="SanDisk SDSSDE61-1T00" firmware=U2101140 speed=fast-uas-ssd cache=12G
volume F fs=ntfs
# An enclosure whose bridge presents 4096-byte logical blocks, with FAT32.
disk 3 uas size=238G bridge=uas-4k product="USB 3.1 Enclosure" serial=000000123ABC model="CT250MX500SSD1" firmware=M3CR046 speed=steady write-mbps=350 read-mbps=400
volume G fs=fat32
# A rotating disk: nothing to TRIM.
disk 4 usb-hdd size=1863G product="Elements 25A2" serial=575836314142 model="WDC WD20SPZX-22UA7T0" firmware=01.01A01 speed=steady write-mbps=110 read-mbps=120
volume H fs=ntfs
)";
  return text;
}

}  // namespace plat::sim
