// The drawing surface of a paint box. The canvas holds the pen, brush and font the program sets;
// each drawing call hands them with the primitive to the backend's surface (GDI in the Win32
// backend; a recorder of every call in the headless one).
#pragma once

#include <string>

#include "ui/toolkit/uTkControls.h"
#include "ui/toolkit/uTkTypes.h"

namespace tk {

struct TPenInfo {
  TColor Color = clBlack;
  TPenStyle Style = TPenStyle::psSolid;
  int Width = 1;
  bool operator==(const TPenInfo&) const = default;
};

// What a backend draws with. Coordinates are the paint box's client pixels.
class ICanvasSurface {
 public:
  virtual ~ICanvasSurface() = default;
  virtual void FillRect(const TRect& R, TColor Color) = 0;
  virtual void Line(TPoint From, TPoint To, const TPenInfo& Pen) = 0;
  virtual void TextOut(TPoint At, const std::string& Text, const TFontInfo& Font) = 0;
  virtual TSize TextExtent(const std::string& Text, const TFontInfo& Font) = 0;
};

class TCanvas {
 public:
  explicit TCanvas(ICanvasSurface& Surface) : FSurface(Surface) {}

  TPenInfo& Pen() { return FPen; }
  TFontInfo& Font() { return FFont; }
  TColor BrushColor() const { return FBrush; }
  void SetBrushColor(TColor C) { FBrush = C; }

  // Fills with the brush colour.
  void FillRect(const TRect& R) { FSurface.FillRect(R, FBrush); }
  void MoveTo(int X, int Y) { FAt = {X, Y}; }
  // A line from the pen position to (X, Y) with the pen; the position moves there.
  void LineTo(int X, int Y) {
    FSurface.Line(FAt, {X, Y}, FPen);
    FAt = {X, Y};
  }
  void TextOut(int X, int Y, const std::string& Text) { FSurface.TextOut({X, Y}, Text, FFont); }
  TSize TextExtent(const std::string& Text) { return FSurface.TextExtent(Text, FFont); }
  int TextWidth(const std::string& Text) { return TextExtent(Text).Width; }
  int TextHeight(const std::string& Text) { return TextExtent(Text).Height; }

 private:
  ICanvasSurface& FSurface;
  TPenInfo FPen;
  TFontInfo FFont;
  TColor FBrush = clWhite;
  TPoint FAt;
};

}  // namespace tk
