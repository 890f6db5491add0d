#include "core/uCsv.h"

std::string CsvQuoted(const std::string& S) {
  std::string r = "\"";
  for (char c : S) r += c == '"' ? std::string("\"\"") : std::string(1, c);
  return r + "\"";
}

std::string CsvField(const std::string& S) {
  return S.find_first_of(",\"\r\n") == std::string::npos ? S : CsvQuoted(S);
}

std::string CsvRow(const std::vector<std::string>& Fields) {
  std::string r;
  for (size_t i = 0; i < Fields.size(); i++) {
    if (i) r += ',';
    r += Fields[i];
  }
  return r + kCsvLineEnd;
}
