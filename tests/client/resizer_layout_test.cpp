// The resizer's decimal arithmetic; the strategies on real windows are in resizer_window_test.
#include <gtest/gtest.h>

#include <limits>

#include "client/resizer.h"

namespace client {
namespace {

// Lays a control out in a window first 200 x 100, now w x h.
ui::Rect lay(Geometry pos, uint16_t positional, uint16_t resize, int32_t w, int32_t h) {
  ResizerControl c;
  c.TYPE = ui::kind::List;
  c.POS = pos;
  c.POSITIONALSTRATEGY = positional;
  c.RESIZESTRATEGY = resize;
  return placeControl(c, {0, 0, 200, 100}, w, h, ratioOf(w, 200), ratioOf(h, 100)).at;
}

TEST(ResizerLayout, RatiosHaveFourPlacesRounded) {
  EXPECT_EQ(ratioOf(700, 464), 15086);  // 1.508620...
  EXPECT_EQ(ratioOf(2, 3), 6667);
  EXPECT_EQ(ratioOf(5, 20000), 3);         // 0.00025: half rounds away from zero
  EXPECT_EQ(ratioOf(300, 0), kUnitRatio);  // nothing recorded to scale from
}

TEST(ResizerLayout, InitialSizeRestoresEveryStrategy) {
  for (uint16_t h : {0, 1, 2, 4, 8, 16, 3})
    for (uint16_t v : {0, 0x100, 0x200, 0x400, 0x800, 0x1000})
      for (uint16_t resize = 0; resize < 4; ++resize)
        EXPECT_EQ(lay({37, 41, 23, 11}, static_cast<uint16_t>(h | v), resize, 200, 100),
                  (ui::Rect{37, 41, 23, 11}))
            << (h | v) << " " << resize;
}

TEST(ResizerLayout, ResultsDropTheirFractionTowardZero) {
  EXPECT_EQ(lay({15, 30, 45, 21}, 0, 0, 300, 150), (ui::Rect{22, 45, 67, 31}));  // 22.5, 45, 67.5, 31.5
  EXPECT_EQ(lay({15, 30, 45, 21}, 0, 0, 20, 10), (ui::Rect{1, 3, 4, 2}));        // no lower limit
  // Centre offset d = 50 - 100: 150 + d * 1.5, and with the width kept 150 + d, 150.5 + d.
  EXPECT_EQ(lay({50, 0, 20, 10}, place::KeepCentreX, 0, 300, 100).x, 75);
  EXPECT_EQ(lay({50, 0, 20, 10}, place::KeepCentreX, 1, 301, 100).x, 100);
  EXPECT_EQ(lay({0, 0, 20, 10}, place::KeepCentreX, 1, 11, 100).x, -94);  // 5.5 - 100 = -94.5
  EXPECT_EQ(lay({0, 80, 20, 10}, place::KeepCentreY, 2, 200, 300).y, 180);
  // Recorded position; a right edge whose distance scales (300 - 50 * 1.5); an unknown value scales.
  EXPECT_EQ(lay({50, 20, 40, 10}, place::KeepX | place::KeepY, 0, 400, 200), (ui::Rect{50, 20, 80, 20}));
  EXPECT_EQ(lay({150, 75, 30, 15}, place::KeepRight, 0, 300, 100).x, 225);
  EXPECT_EQ(lay({50, 20, 40, 10}, 3 | 0x300, 0, 400, 200), (ui::Rect{100, 40, 80, 20}));
}

TEST(ResizerLayout, ExtremeSizesStayInRange) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  ResizerControl c;
  c.POS = {kMax, kMax, kMax, kMax};
  c.POSITIONALSTRATEGY = place::KeepCentreX | place::KeepBottom;
  const Ratio r = ratioOf(kMax, 1);
  EXPECT_EQ(placeControl(c, {0, 0, 1, 1}, kMax, kMax, r, r).at, (ui::Rect{kMax, kMax, kMax, kMax}));
}

TEST(ResizerLayout, KindsWithoutARuntimeControlYetFollowTheEntryDefault) {
  for (int kind : {15, 16, 34}) {
    EXPECT_EQ(strategiesFor(kind, 2).resize, size::KeepHeight);
    EXPECT_EQ(strategiesFor(kind, 1).resize, 0);
  }
}

}  // namespace
}  // namespace client
