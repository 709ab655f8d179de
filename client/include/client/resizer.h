// The window resizer: keeps the controls of a resizable window in proportion with it.
//
// Set up records the window's size and every control's geometry; each Re-layout computes every control
// afresh from those recorded values and the ratio of the window's new size to its first, so repeated
// resizing never accumulates rounding. The moves of one re-layout are announced to the runtime as one
// deferred batch. The resizer keeps no reference to the window: each call is given it.
//
// Ratios are decimals of four places, rounded at the fourth (half away from zero); every position and
// size computed from them drops its fraction.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/queue.h"
#include "ui/runtime.h"

namespace client {

struct Geometry {
  int32_t XPOS = 0, YPOS = 0, WIDTH = 0, HEIGHT = 0;
};

// Positional strategy: the low byte places a control horizontally, the high byte vertically; each
// byte is compared as a whole value, an unknown value scales.
namespace place {
constexpr uint16_t Scale = 0;
constexpr uint16_t KeepX = 1;
constexpr uint16_t KeepRight = 2;  // distance from the right edge
constexpr uint16_t KeepLeft = 4;
constexpr uint16_t KeepCentreX = 8;  // offset from the horizontal centre
constexpr uint16_t NearestX = 16;    // KeepRight or KeepLeft, whichever edge is nearer
constexpr uint16_t KeepY = 0x100;
constexpr uint16_t KeepBottom = 0x200;
constexpr uint16_t KeepTop = 0x400;
constexpr uint16_t KeepCentreY = 0x800;
constexpr uint16_t NearestY = 0x1000;
}  // namespace place

// Resize strategy bits.
namespace size {
constexpr uint16_t KeepWidth = 1;
constexpr uint16_t KeepHeight = 2;
}  // namespace size

struct ResizerControl {
  int32_t ID = 0;
  int32_t TYPE = 0;  // the runtime's control kind
  uint16_t POSITIONALSTRATEGY = 0;
  uint16_t RESIZESTRATEGY = 0;
  Geometry POS;  // at set-up
};

struct Resizer {
  Geometry ORIGWIN;      // the window at set-up
  Geometry PREVIOUSWIN;  // the window at the last re-layout
  std::unique_ptr<ui::Queue<ResizerControl>> CONTROLQUEUE;
};

// Mode 2 gives every control the defaults of its kind; any other mode scales every control.
void setUp(Resizer& resizer, ui::Window& window, int mode);
// For each resize event; does nothing when the size has not changed since the last re-layout.
void reLayout(Resizer& resizer, ui::Window& window);
void release(Resizer& resizer);

// ---- The arithmetic, on its own -------------------------------------------------------------------
using Ratio = int64_t;  // ten-thousandths: 15086 is 1.5086
inline constexpr Ratio kUnitRatio = 10000;

// now / original with four decimal places; 1 when there is no original size to scale from.
Ratio ratioOf(int32_t now, int32_t original);

// The strategies a control of `kind` gets in `mode`.
struct Strategies {
  uint16_t positional = 0;
  uint16_t resize = 0;
};
Strategies strategiesFor(int kind, int mode);

// Where a control goes when the window, first of size `original`, is now width x height with the
// given ratios. keepWidth: the width is left to the runtime (a display text recorded 1 unit wide).
struct Placement {
  ui::Rect at;
  bool keepWidth = false;
};
Placement placeControl(const ResizerControl& control, const Geometry& original, int32_t width, int32_t height,
                       Ratio rx, Ratio ry);

}  // namespace client
