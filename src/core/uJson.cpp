#include "core/uJson.h"

#include "core/uFormat.h"

std::string JsonEscape(const std::string& S) {
  std::string r;
  r.reserve(S.size() + 8);
  for (char ch : S) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': r += "\\\\"; break;
      case '"': r += "\\\""; break;
      case 8: r += "\\b"; break;
      case 9: r += "\\t"; break;
      case 10: r += "\\n"; break;
      case 12: r += "\\f"; break;
      case 13: r += "\\r"; break;
      default:
        if (c < 0x20)
          r += Format("\\u%.4X", static_cast<int>(c));
        else
          r += ch;
    }
  }
  return r;
}
