// The field rules of the program's CSV files (UTF-8 without a byte-order mark, comma-separated,
// CR LF line ends), shared by every writer: the run's failure report, the free-range export, the
// real test's file maps and the speed samples.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* kCsvLineEnd = "\r\n";

// A field as it stands, unless it holds a comma, a double quote or a line break (CR or LF): then
// in double quotes, each double quote doubled, so that a reader splits the line where it should.
std::string CsvField(const std::string& S);
// Always in double quotes, each double quote doubled (the failure report's message column).
std::string CsvQuoted(const std::string& S);
// The fields (each already formed) joined by commas, with the line end.
std::string CsvRow(const std::vector<std::string>& Fields);
