#include "core/uFormat.h"

#include <charconv>
#include <stdexcept>

#include "core/uNumbers.h"

namespace {
// A width or precision above this is a broken format, not a layout.
constexpr int kMaxField = 4096;

using TKind = TFormatArg::TKind;

const char* KindName(TKind k) {
  switch (k) {
    case TKind::I32: return "int32";
    case TKind::U32: return "uint32";
    case TKind::I64: return "int64";
    case TKind::U64: return "uint64";
    case TKind::Float: return "float";
    case TKind::Text: return "text";
  }
  return "?";
}

struct TSpec {
  bool Left = false;
  bool Zero = false;
  int Width = 0;
  int Precision = -1;  // -1: none given
  bool Wide = false;   // "ll" / "I64"
  char Conv = 0;
};

size_t CodePoints(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The first Count code points of s (never splits a UTF-8 sequence).
std::string_view HeadCodePoints(std::string_view s, size_t Count) {
  size_t i = 0, n = 0;
  for (; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (n == Count) break;
      ++n;
    }
  }
  return s.substr(0, i);
}

std::string Digits(uint64_t v, int Base) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v, Base);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Sign, then zeros (when asked), then the body; spaces on the side the flags say.
void Pad(std::string& Out, const TSpec& Spec, std::string_view Sign, std::string_view Body, bool ZeroAllowed) {
  const size_t len = CodePoints(Sign) + CodePoints(Body);
  const size_t width = static_cast<size_t>(Spec.Width);
  const size_t fill = width > len ? width - len : 0;
  if (Spec.Left) {
    Out.append(Sign).append(Body).append(fill, ' ');
  } else if (Spec.Zero && ZeroAllowed) {
    Out.append(Sign).append(fill, '0').append(Body);
  } else {
    Out.append(fill, ' ').append(Sign).append(Body);
  }
}

class TFormatter {
 public:
  TFormatter(std::string_view Fmt, std::span<const TFormatArg> Args, const TFormatSettings& Settings)
      : FFmt(Fmt), FArgs(Args), FSettings(Settings) {}

  std::string Run() {
    size_t i = 0;
    while (i < FFmt.size()) {
      const size_t pct = FFmt.find('%', i);
      if (pct == std::string_view::npos) {
        FOut.append(FFmt.substr(i));
        break;
      }
      FOut.append(FFmt.substr(i, pct - i));
      i = pct + 1;
      if (i < FFmt.size() && FFmt[i] == '%') {
        FOut += '%';
        ++i;
        continue;
      }
      TSpec spec;
      if (!ParseSpec(i, spec)) {
        Fault("bad conversion at offset " + std::to_string(pct), "%!(bad)");
        break;  // the rest of a broken format is not read
      }
      if (FNext >= FArgs.size()) {
        Fault(std::string("missing argument for %") + spec.Conv, std::string("%!") + spec.Conv + "(missing)");
        continue;
      }
      Convert(spec, FArgs[FNext++]);
    }
    if (FNext < FArgs.size()) Fault(std::to_string(FArgs.size() - FNext) + " argument(s) left over", "%!(extra)");
    return std::move(FOut);
  }

 private:
  // '%' already read; on success i is past the conversion letter.
  bool ParseSpec(size_t& i, TSpec& Spec) {
    auto at = [&](size_t k) { return k < FFmt.size() ? FFmt[k] : '\0'; };
    for (;; ++i) {
      if (at(i) == '-')
        Spec.Left = true;
      else if (at(i) == '0')
        Spec.Zero = true;
      else
        break;
    }
    if (!ReadNumber(i, Spec.Width)) return false;
    if (at(i) == '.') {
      ++i;
      Spec.Precision = 0;
      if (!ReadNumber(i, Spec.Precision)) return false;
    }
    if (at(i) == 'l' && at(i + 1) == 'l') {
      Spec.Wide = true;
      i += 2;
    } else if (at(i) == 'I' && at(i + 1) == '6' && at(i + 2) == '4') {
      Spec.Wide = true;
      i += 3;
    }
    const char c = at(i);
    if (c != 'd' && c != 'u' && c != 'x' && c != 'X' && c != 'f' && c != 's') return false;
    if (Spec.Wide && (c == 'f' || c == 's')) return false;
    Spec.Conv = c;
    ++i;
    return true;
  }

  bool ReadNumber(size_t& i, int& Value) {
    while (i < FFmt.size() && FFmt[i] >= '0' && FFmt[i] <= '9') {
      Value = Value * 10 + (FFmt[i] - '0');
      if (Value > kMaxField) return false;
      ++i;
    }
    return true;
  }

  void Convert(const TSpec& Spec, const TFormatArg& Arg) {
    const TKind k = Arg.Kind();
    const bool isInt = k != TKind::Float && k != TKind::Text;
    const bool fits = (Spec.Conv == 's') ? k == TKind::Text : (Spec.Conv == 'f') ? k == TKind::Float : isInt;
    if (!fits) {
      Fault(std::string("%") + Spec.Conv + " given " + KindName(k) + " (argument " + std::to_string(FNext) + ")",
            std::string("%!") + Spec.Conv + "(" + KindName(k) + ")");
      return;
    }
    switch (Spec.Conv) {
      case 's': {
        std::string_view t = Arg.Text();
        if (Spec.Precision >= 0) t = HeadCodePoints(t, static_cast<size_t>(Spec.Precision));
        Pad(FOut, Spec, {}, t, false);
        return;
      }
      case 'f': {
        const TFixedParts p = SplitFixed(Arg.FloatValue(), Spec.Precision >= 0 ? Spec.Precision : 2);
        if (!p.Special.empty()) {
          Pad(FOut, Spec, {}, p.Special, false);
          return;
        }
        std::string body = p.IntDigits;
        if (!p.FracDigits.empty()) body += FSettings.DecimalSeparator + p.FracDigits;
        Pad(FOut, Spec, p.Negative ? "-" : "", body, true);
        return;
      }
      default: Integer(Spec, Arg);
    }
  }

  void Integer(const TSpec& Spec, const TFormatArg& Arg) {
    // The argument's value at the width the conversion reads it.
    const TKind k = Arg.Kind();
    const uint64_t bits = Arg.IntBits();
    bool negative = false;
    uint64_t mag = 0;
    if (Spec.Conv == 'd') {
      if (k == TKind::U64 || (Spec.Wide && k == TKind::U32)) {
        mag = bits;
      } else if (k == TKind::I64 || Spec.Wide) {
        const int64_t v = static_cast<int64_t>(bits);
        negative = v < 0;
        mag = negative ? 0 - bits : bits;
      } else {
        const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(bits));
        negative = v < 0;
        mag = negative ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
      }
    } else {
      const bool is64 = Spec.Wide || k == TKind::I64 || k == TKind::U64;
      mag = is64 ? bits : (bits & 0xFFFFFFFFu);
    }
    std::string body = Digits(mag, Spec.Conv == 'u' || Spec.Conv == 'd' ? 10 : 16);
    if (Spec.Precision >= 0) {
      if (body.size() < static_cast<size_t>(Spec.Precision)) body.insert(0, Spec.Precision - body.size(), '0');
    }
    // As in C, a precision turns the zero flag off.
    Pad(FOut, Spec, negative ? "-" : "", body, Spec.Precision < 0);
  }

  void Fault(const std::string& What, const std::string& Marker) {
    if constexpr (kFormatThrows) {
      throw std::logic_error("Format(\"" + std::string(FFmt) + "\"): " + What);
    } else {
      FOut += Marker;
    }
  }

  std::string_view FFmt;
  std::span<const TFormatArg> FArgs;
  const TFormatSettings& FSettings;
  size_t FNext = 0;
  std::string FOut;
};
}  // namespace

std::string FormatArgs(std::string_view Fmt, std::span<const TFormatArg> Args, const TFormatSettings& Settings) {
  return TFormatter(Fmt, Args, Settings).Run();
}
