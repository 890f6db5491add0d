// Plain values of the window toolkit: geometry, anchors, colours, the event types.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tk {

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TSize {
  int Width = 0;
  int Height = 0;
  bool operator==(const TSize&) const = default;
};

// Left, top, width, height, in pixels of the parent's client area.
struct TBounds {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
  bool operator==(const TBounds&) const = default;
};

// Left, top, right, bottom edges (right and bottom exclusive).
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

// Which edges of the parent's client area a control keeps its distance to when the parent is
// resized. Left and right together stretch it; neither keeps it centred in proportion.
enum TAnchor : uint8_t { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = uint8_t;
constexpr TAnchors kAnchorsDefault = akLeft | akTop;
constexpr TAnchors kAnchorsAll = akLeft | akTop | akRight | akBottom;

// alTop: the full width of the parent's client area at its top edge (the control's height
// stays); alClient: whatever the aligned controls before it left over.
enum class TAlign : uint8_t { alNone, alTop, alClient };

// 0x00BBGGRR, as Windows' COLORREF: red in the low byte.
using TColor = uint32_t;
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) { return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16); }
constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clWhite = RGB(255, 255, 255);

enum class TPenStyle : uint8_t { psSolid, psDot, psDash };

class TControl;
class TTimer;

// A control's event. Sender is the control whose user action raised it; a handler that the
// program also calls itself passes nullptr ("no sender").
using TNotifyEvent = std::function<void(TControl* Sender)>;
using TTimerEvent = std::function<void(TTimer* Sender)>;

}  // namespace tk
