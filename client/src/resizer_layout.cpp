// The resizer's arithmetic: decimal values of four places held as ten-thousandths in integers, so
// that nothing depends on binary floating point. Intermediate values are 128 bits wide and every
// result is brought back into the 32-bit range, whatever sizes the window reports.
#include <algorithm>
#include <limits>

#include "client/resizer.h"

namespace client {

namespace {

using Wide = __int128;

int32_t whole(Wide tenThousandths) {
  // Dropping the fraction: C++ division truncates toward zero, as a decimal's whole part does.
  const Wide v = tenThousandths / kUnitRatio;
  return static_cast<int32_t>(
      std::clamp<Wide>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// One axis of a control: position and length at set-up, the window's length then and now.
struct Axis {
  int32_t pos, length, originalWindow, window;
  Ratio ratio;
  bool keepLength;
  unsigned strategy;  // 0, 1, 2, 4, 8 or 16, as the low byte of the horizontal strategy counts
};

// Position and length of a control along one axis.
std::pair<int32_t, int32_t> layAxis(const Axis& a) {
  int32_t pos = whole(Wide{a.pos} * a.ratio);
  const int32_t length = a.keepLength ? a.length : whole(Wide{a.length} * a.ratio);

  unsigned strategy = a.strategy;
  if (strategy == place::NearestX) {
    // Decided by the recorded geometry, so a control never changes sides from one layout to the next.
    const Wide farGap = Wide{a.originalWindow} - a.pos - a.length;
    strategy = farGap < a.pos ? place::KeepRight : place::KeepLeft;
  }
  if (a.ratio == kUnitRatio) return {pos, length};

  const Wide unit = kUnitRatio;
  switch (strategy) {
    case place::KeepX:
      pos = a.pos;
      break;
    case place::KeepRight: {
      const Wide d = Wide{a.originalWindow} - a.pos;
      pos = a.keepLength ? whole((Wide{a.window} - d) * unit) : whole(Wide{a.window} * unit - d * a.ratio);
      break;
    }
    case place::KeepLeft:
      if (a.keepLength) pos = a.pos;
      break;
    case place::KeepCentreX: {
      const Wide d = Wide{a.pos} - a.originalWindow / 2;
      const Wide half = Wide{a.window} * unit / 2;
      pos = whole(half + d * (a.keepLength ? unit : Wide{a.ratio}));
      break;
    }
    default:
      break;
  }
  return {pos, length};
}

}  // namespace

Ratio ratioOf(int32_t now, int32_t original) {
  if (original <= 0) return kUnitRatio;
  const Wide twice = Wide{now} * kUnitRatio * 2;
  const Wide rounded =
      twice >= 0 ? (twice + original) / (2 * Wide{original}) : (twice - original) / (2 * Wide{original});
  return static_cast<Ratio>(rounded);
}

Strategies strategiesFor(int kind, int mode) {
  if (mode != 2) return {};
  switch (kind) {
    case ui::kind::Button:
      return {place::NearestX | place::NearestY, size::KeepWidth | size::KeepHeight};
    case ui::kind::CheckBox:
    case ui::kind::Radio:
      return {place::Scale, size::KeepWidth | size::KeepHeight};
    case ui::kind::Entry:
    case 15:  // kinds the runtime does not have yet, laid out as entry fields
    case 16:
    case 34:
      return {place::Scale, size::KeepHeight};
    default:
      return {};
  }
}

Placement placeControl(const ResizerControl& c, const Geometry& original, int32_t width, int32_t height,
                       Ratio rx, Ratio ry) {
  const auto [x, w] = layAxis({c.POS.XPOS, c.POS.WIDTH, original.WIDTH, width, rx,
                               (c.RESIZESTRATEGY & size::KeepWidth) != 0, c.POSITIONALSTRATEGY & 0xFFu});
  const auto [y, h] =
      layAxis({c.POS.YPOS, c.POS.HEIGHT, original.HEIGHT, height, ry,
               (c.RESIZESTRATEGY & size::KeepHeight) != 0, (c.POSITIONALSTRATEGY >> 8) & 0xFFu});
  Placement p;
  p.at = ui::Rect{x, y, w, h};
  p.keepWidth = c.TYPE == ui::kind::DisplayText && c.POS.WIDTH == 1;
  return p;
}

}  // namespace client
