// The one layout routine of both backends (see uTkControls.h).
#include <algorithm>
#include <cmath>

#include "ui/toolkit/uTkControls.h"

namespace tk {

namespace {

// One axis of an anchored child: its start and length at the parent's new length, from where
// code put it (Start, Length) when the parent was BaseParent long.
void AnchorAxis(bool Near, bool Far, int Start, int Length, int BaseParent, int NewParent, int& OutStart,
                int& OutLength) {
  const int grow = NewParent - BaseParent;
  OutStart = Start;
  OutLength = Length;
  if (Near && Far) {
    OutLength = std::max(0, Length + grow);
  } else if (Far) {
    OutStart = Start + grow;
  } else if (!Near && BaseParent > 0) {
    const double centre = (Start + Length / 2.0) * NewParent / BaseParent;
    OutStart = static_cast<int>(std::lround(centre - Length / 2.0));
  }
}

}  // namespace

TBounds AnchoredBounds(const TControl& C, TSize Client) {
  const TBounds& base = C.FAnchorBase;
  const TAnchors a = C.FAnchors;
  TBounds b;
  AnchorAxis(a & akLeft, a & akRight, base.Left, base.Width, C.FAnchorParent.Width, Client.Width, b.Left, b.Width);
  AnchorAxis(a & akTop, a & akBottom, base.Top, base.Height, C.FAnchorParent.Height, Client.Height, b.Top, b.Height);
  return b;
}

void ApplyAnchorLayout(TControl& Parent) {
  const TSize client = Parent.ClientSize();
  TRect rest{0, 0, client.Width, client.Height};
  const bool pages = Parent.Kind() == TControlKind::PageControl;

  // Aligned children first, in creation order: top edges, then what is left to the client ones.
  for (auto& c : Parent.FChildren) {
    if (pages && c->Kind() == TControlKind::TabSheet) {
      c->PlaceAt({0, 0, client.Width, client.Height});
    } else if (c->FAlign == TAlign::alTop && c->FVisible) {
      const int h = std::min(c->FBounds.Height, std::max(0, rest.Height()));
      c->PlaceAt({rest.Left, rest.Top, rest.Width(), c->FBounds.Height});
      rest.Top += h;
    }
  }
  for (auto& c : Parent.FChildren)
    if (c->FAlign == TAlign::alClient && c->FVisible)
      c->PlaceAt({rest.Left, rest.Top, rest.Width(), rest.Height()});

  for (auto& c : Parent.FChildren) {
    if (c->FAlign != TAlign::alNone || (pages && c->Kind() == TControlKind::TabSheet)) continue;
    c->PlaceAt(AnchoredBounds(*c, client));
  }
}

}  // namespace tk
