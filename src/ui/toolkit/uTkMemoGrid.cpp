// The memo (lines under a character limit) and the string grid.
#include <algorithm>

#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkControls.h"

namespace tk {

namespace {

// UTF-16 units of a UTF-8 text, as the edit control counts them: a code point above U+FFFF
// (a four-byte sequence) takes two.
size_t Utf16Units(const std::string& S) {
  size_t n = 0;
  for (unsigned char c : S) {
    if ((c & 0xC0) == 0x80) continue;
    n += c >= 0xF0 ? 2 : 1;
  }
  return n;
}

// The longest start of S that holds at most Units UTF-16 units, cut between code points.
std::string FirstUnits(const std::string& S, size_t Units) {
  size_t n = 0;
  for (size_t i = 0; i < S.size(); ++i) {
    const unsigned char c = S[i];
    if ((c & 0xC0) == 0x80) continue;
    n += c >= 0xF0 ? 2 : 1;
    if (n > Units) return S.substr(0, i);
  }
  return S;
}

constexpr size_t kLineBreak = 2;  // CR LF

// Lines split at CR LF, LF or CR; a break at the very end starts no further line.
std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '\r' && Text[i] != '\n') continue;
    lines.push_back(Text.substr(start, i - start));
    if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < Text.size()) lines.push_back(Text.substr(start));
  return lines;
}

}  // namespace

// ---- memo ----

TMemo::TMemo(TControl* Parent, const TCreate& Create) : TControl(TControlKind::Memo, Parent, Create) {}

std::string TMemo::Text() const {
  std::string text;
  for (size_t i = 0; i < FLines.size(); ++i) {
    if (i) text += "\r\n";
    text += FLines[i];
  }
  return text;
}

void TMemo::SetText(const std::string& Text) {
  FLines.clear();
  FLength = 0;
  // One change of the whole text, not a burst of appended lines: a new text shows from its
  // first line, appended lines scroll to the last.
  FQuiet = true;
  for (const std::string& line : SplitLines(Text)) AppendLine(line);
  FQuiet = false;
  Changed(TChange::Lines);
}

void TMemo::Clear() {
  FLines.clear();
  FLength = 0;
  Changed(TChange::Lines);
}

void TMemo::AppendLine(const std::string& Line) {
  std::vector<std::string> pieces = SplitLines(Line);
  if (pieces.empty()) pieces.emplace_back();
  for (std::string& piece : pieces) {
    size_t units = Utf16Units(piece);
    if (FMaxLength && units > FMaxLength) {
      // A line longer than the whole memo keeps what fits of its start.
      piece = FirstUnits(piece, FMaxLength);
      units = Utf16Units(piece);
    }
    // The oldest lines make room, so the newest are always shown.
    size_t drop = 0, length = FLength;
    while (FMaxLength && drop < FLines.size() && length + kLineBreak + units > FMaxLength) {
      const bool last = drop + 1 == FLines.size();
      length -= Utf16Units(FLines[drop]) + (last ? 0 : kLineBreak);
      ++drop;
    }
    if (drop) {
      FLines.erase(FLines.begin(), FLines.begin() + drop);
      FLength = length;
      if (!FQuiet) Changed(TChange::LinesDropped, drop);
    }
    FLength += (FLines.empty() ? 0 : kLineBreak) + units;
    FLines.push_back(std::move(piece));
    if (!FQuiet) Changed(TChange::LinesAdded, 1);
  }
}

void TMemo::SetMaxLength(size_t N) {
  FMaxLength = N;
  Changed(TChange::Range);
  DropFront(0);
}

// Drops at least Count lines from the front, and more while the text is over the limit.
void TMemo::DropFront(size_t Count) {
  size_t drop = 0;
  while (drop < FLines.size() && (drop < Count || (FMaxLength && FLength > FMaxLength))) {
    FLength -= Utf16Units(FLines[drop]) + (drop + 1 == FLines.size() ? 0 : kLineBreak);
    ++drop;
  }
  if (!drop) return;
  FLines.erase(FLines.begin(), FLines.begin() + drop);
  Changed(TChange::LinesDropped, drop);
}

// ---- string grid ----

namespace {
constexpr int kDefaultColWidth = 64;
// 8 pixels on each side of the widest text: a list view's header and cells keep 6 of their own
// on each side, and cut a text that would come closer with an ellipsis.
constexpr int kCellPadding = 16;
}  // namespace

TStringGrid::TStringGrid(TControl* Parent, const TCreate& Create)
    : TControl(TControlKind::StringGrid, Parent, Create),
      FCells(FRows, std::vector<std::string>(FCols)),
      FColWidths(FCols, kDefaultColWidth) {}

void TStringGrid::SetColCount(int N) {
  FCols = std::max(0, N);
  for (auto& row : FCells) row.resize(FCols);
  FColWidths.resize(FCols, kDefaultColWidth);
  Changed(TChange::Grid);
}

void TStringGrid::SetRowCount(int N) {
  FRows = std::max(0, N);
  FCells.resize(FRows, std::vector<std::string>(FCols));
  if (FSelectedRow >= FRows) FSelectedRow = -1;
  Changed(TChange::Grid);
}

void TStringGrid::SetFixed(int Rows, int Cols) {
  FFixedRows = std::max(0, Rows);
  FFixedCols = std::max(0, Cols);
  Changed(TChange::Grid);
}

void TStringGrid::SetOptions(bool ColSizing, bool RowSelect) {
  FColSizing = ColSizing;
  FRowSelect = RowSelect;
  Changed(TChange::Grid);
}

std::string TStringGrid::Cell(int Col, int Row) const {
  if (Col < 0 || Col >= FCols || Row < 0 || Row >= FRows) return {};
  return FCells[Row][Col];
}

void TStringGrid::SetCell(int Col, int Row, const std::string& Text) {
  if (Col < 0 || Col >= FCols || Row < 0 || Row >= FRows) return;
  FCells[Row][Col] = Text;
  Changed(TChange::Cells);
}

int TStringGrid::ColWidth(int Col) const { return Col >= 0 && Col < FCols ? FColWidths[Col] : 0; }

void TStringGrid::SetColWidth(int Col, int Width) {
  if (Col < 0 || Col >= FCols) return;
  FColWidths[Col] = std::max(0, Width);
  Changed(TChange::ColWidths);
}

void TStringGrid::AutoSizeColumns() {
  for (int c = 0; c < FCols; ++c) {
    int widest = 0;
    for (int r = 0; r < FRows; ++r) widest = std::max(widest, Backend().MeasureText(FCells[r][c], {}).Width);
    FColWidths[c] = widest + kCellPadding;
  }
  Changed(TChange::ColWidths);
}

void TStringGrid::UserSelectRow(int Row) {
  if (Row >= FFixedRows && Row < FRows) FSelectedRow = Row;
}

}  // namespace tk
