// An INI text file held as its lines, so that what the program does not use survives a rewrite.
//
// Reading (hand-edited files included):
//   - a line whose first non-blank character is "[" and that holds a "]" opens a section, named
//     by what stands between them (blanks trimmed);
//   - a line holding "=" is a key: the key is what stands before the first "=", the value what
//     follows it, both with blanks and tabs trimmed ("TimeoutMs = 8000" reads 8000);
//   - lines whose first non-blank character is ";" or "#" are comments; they, blank lines, other
//     lines and keys before the first section are kept but never read;
//   - section and key names match without regard to the case of ASCII letters; when a section or
//     a key appears twice, the first one counts (for reading and for writing);
//   - a UTF-8 byte-order mark at the start is skipped, and written back;
//   - a file holding a NUL byte (UTF-16, binary) is not an INI text file: Parse refuses it.
// Writing updates an existing key where it stands (its spelling kept, no blanks around "="), adds a
// missing key after the last key of its section, and a missing section at the end, after a blank
// line. The text is written with CR LF line ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TIniFile {
 public:
  // False (and the file left empty) when Text is not an INI text file.
  bool Parse(const std::string& Text);
  std::string Text() const;

  // False when the key is absent.
  bool ReadString(const std::string& Section, const std::string& Key, std::string& Value) const;
  // A decimal number within 32 bits, with an optional sign; anything else (missing, empty, other
  // characters, hexadecimal, beyond 32 bits) gives Default.
  int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const;
  // Missing or empty gives Default; a value starting with "1" is true, any other false.
  bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;

  void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
  void WriteInteger(const std::string& Section, const std::string& Key, int32_t Value);
  void WriteBool(const std::string& Section, const std::string& Key, bool Value);

  // A decimal number within 32 bits, as ReadInteger takes it.
  static bool ParseInteger(const std::string& Text, int32_t& Value);

 private:
  struct TLine {
    std::string Raw;
    enum class TKind : uint8_t { Other, Section, Key } Kind = TKind::Other;
    std::string Name;   // section or key name, trimmed
    std::string Value;  // key value, trimmed
  };
  static TLine ParseLine(std::string Raw);
  // Index of the first line of the section (its header), or -1.
  int FindSection(const std::string& Section) const;
  // Index of the key's line inside the section starting at SectionLine, or -1.
  int FindKey(int SectionLine, const std::string& Key) const;

  std::vector<TLine> FLines;
  bool FBom = false;
};

// The file on disk, read and written whole through the platform.
enum class TIniLoad : uint8_t {
  Loaded,      // read and parsed
  Missing,     // no file at that path
  Unreadable,  // a file is there but could not be opened, read or parsed
};
TIniLoad LoadIniFile(const std::string& Path, TIniFile& Ini);
// Throws EFileError (core/uFileWrite.h) when the file cannot be written.
void SaveIniFile(const std::string& Path, const TIniFile& Ini);
