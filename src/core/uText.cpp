#include "core/uText.h"

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
}  // namespace

std::string Trim(std::string_view S) { return TrimRight(TrimLeft(S)); }

std::string TrimLeft(std::string_view S) {
  size_t i = 0;
  while (i < S.size() && IsBlank(S[i])) ++i;
  return std::string(S.substr(i));
}

std::string TrimRight(std::string_view S) {
  size_t n = S.size();
  while (n > 0 && IsBlank(S[n - 1])) --n;
  return std::string(S.substr(0, n));
}

std::string UpperCase(std::string_view S) {
  std::string r(S);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(std::string_view S) {
  std::string r(S);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}
