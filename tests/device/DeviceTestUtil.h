// Helpers for the device tests: byte fixtures written as hex text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace devtest {

// "85 0D 26" -> {0x85, 0x0D, 0x26}; spaces and commas are ignored.
inline std::vector<uint8_t> Hex(const std::string& Text) {
  std::vector<uint8_t> Out;
  int Hi = -1;
  for (char C : Text) {
    int V;
    if (C >= '0' && C <= '9')
      V = C - '0';
    else if (C >= 'A' && C <= 'F')
      V = C - 'A' + 10;
    else if (C >= 'a' && C <= 'f')
      V = C - 'a' + 10;
    else
      continue;
    if (Hi < 0) {
      Hi = V;
    } else {
      Out.push_back(static_cast<uint8_t>(Hi * 16 + V));
      Hi = -1;
    }
  }
  return Out;
}

inline std::vector<uint8_t> Bytes(std::span<const uint8_t> S) { return {S.begin(), S.end()}; }

}  // namespace devtest
