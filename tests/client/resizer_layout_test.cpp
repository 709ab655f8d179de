#include <gtest/gtest.h>

#include <limits>

#include "client/resizer.h"

namespace client {
namespace {

ResizerControl control(int kind, Geometry pos, uint16_t positional = 0, uint16_t resize = 0) {
  ResizerControl c;
  c.ID = 1;
  c.TYPE = kind;
  c.POS = pos;
  c.POSITIONALSTRATEGY = positional;
  c.RESIZESTRATEGY = resize;
  return c;
}

// Lays a control out in a window first 200 x 100, now w x h.
ui::Rect lay(const ResizerControl& c, int32_t w, int32_t h) {
  const Geometry original{0, 0, 200, 100};
  return placeControl(c, original, w, h, ratioOf(w, 200), ratioOf(h, 100)).at;
}

TEST(ResizerRatio, FourDecimalPlacesRounded) {
  EXPECT_EQ(ratioOf(464, 464), kUnitRatio);
  EXPECT_EQ(ratioOf(928, 464), 20000);
  EXPECT_EQ(ratioOf(700, 464), 15086);  // 1.508620...
  EXPECT_EQ(ratioOf(2, 3), 6667);       // 0.666666... rounds up at the fourth place
  EXPECT_EQ(ratioOf(1, 3), 3333);
  EXPECT_EQ(ratioOf(5, 20000), 3);  // 0.00025: half rounds away from zero
  EXPECT_EQ(ratioOf(0, 464), 0);
  EXPECT_EQ(ratioOf(300, 0), kUnitRatio);  // nothing recorded to scale from
}

TEST(ResizerStrategies, ByModeAndKind) {
  for (int kind : {ui::kind::Button, ui::kind::Entry, ui::kind::CheckBox, ui::kind::List}) {
    EXPECT_EQ(strategiesFor(kind, 1).positional, 0);
    EXPECT_EQ(strategiesFor(kind, 1).resize, 0);
    EXPECT_EQ(strategiesFor(kind, 7).resize, 0);
  }
  EXPECT_EQ(strategiesFor(ui::kind::Button, 2).positional, 0x1010);
  EXPECT_EQ(strategiesFor(ui::kind::Button, 2).resize, 3);
  EXPECT_EQ(strategiesFor(ui::kind::CheckBox, 2).resize, 3);
  EXPECT_EQ(strategiesFor(ui::kind::Radio, 2).resize, 3);
  EXPECT_EQ(strategiesFor(ui::kind::Radio, 2).positional, 0);
  for (int kind : {ui::kind::Entry, 15, 16, 34}) {
    EXPECT_EQ(strategiesFor(kind, 2).positional, 0);
    EXPECT_EQ(strategiesFor(kind, 2).resize, 2);
  }
  EXPECT_EQ(strategiesFor(ui::kind::List, 2).resize, 0);
  EXPECT_EQ(strategiesFor(ui::kind::DisplayText, 2).resize, 0);
}

TEST(ResizerLayout, InitialSizeRestoresEveryStrategy) {
  const Geometry pos{37, 41, 23, 11};
  for (uint16_t h : {0, 1, 2, 4, 8, 16, 3}) {
    for (uint16_t v : {0, 0x100, 0x200, 0x400, 0x800, 0x1000}) {
      for (uint16_t resize = 0; resize < 4; ++resize) {
        const ui::Rect r =
            lay(control(ui::kind::Button, pos, static_cast<uint16_t>(h | v), resize), 200, 100);
        EXPECT_EQ(r, (ui::Rect{37, 41, 23, 11})) << "strategy " << (h | v) << " resize " << resize;
      }
    }
  }
}

TEST(ResizerLayout, ScalingMultipliesPositionAndSizeAndDropsFractions) {
  const ResizerControl c = control(ui::kind::List, {15, 30, 45, 21});
  EXPECT_EQ(lay(c, 400, 100), (ui::Rect{30, 30, 90, 21}));  // width doubled, height as it was
  EXPECT_EQ(lay(c, 300, 150), (ui::Rect{22, 45, 67, 31}));  // 22.5, 45, 67.5, 31.5
  // Shrinking has no lower limit.
  EXPECT_EQ(lay(c, 20, 10), (ui::Rect{1, 3, 4, 2}));
  EXPECT_EQ(lay(c, 0, 0), (ui::Rect{0, 0, 0, 0}));
}

TEST(ResizerLayout, NearestEdgeButtonsKeepTheirDistanceAndSize) {
  const uint16_t nearest = place::NearestX | place::NearestY;
  const uint16_t keep = size::KeepWidth | size::KeepHeight;
  // Closer to the right and bottom edges: 20 to the right of it, 10 below it.
  const ResizerControl right = control(ui::kind::Button, {150, 75, 30, 15}, nearest, keep);
  EXPECT_EQ(lay(right, 400, 300), (ui::Rect{350, 275, 30, 15}));
  EXPECT_EQ(lay(right, 100, 50), (ui::Rect{50, 25, 30, 15}));
  // Closer to the left and top edges.
  const ResizerControl left = control(ui::kind::Button, {10, 5, 30, 15}, nearest, keep);
  EXPECT_EQ(lay(left, 400, 300), (ui::Rect{10, 5, 30, 15}));
  // Equal gaps go to the left and top edges.
  const ResizerControl tie = control(ui::kind::Button, {85, 40, 30, 20}, nearest, keep);
  EXPECT_EQ(lay(tie, 400, 300), (ui::Rect{85, 40, 30, 20}));
  // Without keeping its size, a right-edge control's distance scales too.
  const ResizerControl stretchy = control(ui::kind::List, {150, 75, 30, 15}, nearest, 0);
  EXPECT_EQ(lay(stretchy, 300, 100), (ui::Rect{225, 75, 45, 15}));
}

TEST(ResizerLayout, EachEdgeStrategyOnItsOwn) {
  const Geometry pos{50, 20, 40, 10};
  // Recorded position.
  EXPECT_EQ(lay(control(ui::kind::List, pos, place::KeepX | place::KeepY), 400, 200),
            (ui::Rect{50, 20, 80, 20}));
  // Left and top edges: scaled unless the size is kept.
  EXPECT_EQ(lay(control(ui::kind::List, pos, place::KeepLeft | place::KeepTop), 400, 200),
            (ui::Rect{100, 40, 80, 20}));
  EXPECT_EQ(lay(control(ui::kind::List, pos, place::KeepLeft | place::KeepTop, 3), 400, 200),
            (ui::Rect{50, 20, 40, 10}));
  // Right and bottom edges, size kept: x = 400 - (200 - 50), y = 200 - (100 - 20).
  EXPECT_EQ(lay(control(ui::kind::List, pos, place::KeepRight | place::KeepBottom, 3), 400, 200),
            (ui::Rect{250, 120, 40, 10}));
  // A value no strategy knows scales.
  EXPECT_EQ(lay(control(ui::kind::List, pos, 3 | 0x300), 400, 200), (ui::Rect{100, 40, 80, 20}));
}

TEST(ResizerLayout, CentreOffsetInDecimalsTruncatedTowardZero) {
  // d = 50 - 100 = -50 from the centre.
  const Geometry pos{50, 0, 20, 10};
  EXPECT_EQ(lay(control(ui::kind::List, pos, place::KeepCentreX), 300, 100).x, 75);  // 150 - 50 * 1.5
  EXPECT_EQ(lay(control(ui::kind::List, pos, place::KeepCentreX, 1), 300, 100).x, 100);
  EXPECT_EQ(lay(control(ui::kind::List, pos, place::KeepCentreX, 1), 301, 100).x, 100);  // 100.5
  // 5.5 - 100 = -94.5: the fraction is dropped, toward zero.
  EXPECT_EQ(lay(control(ui::kind::List, {0, 0, 20, 10}, place::KeepCentreX, 1), 11, 100).x, -94);
  // Vertically: d = 80 - 50 = 30 below the centre.
  EXPECT_EQ(lay(control(ui::kind::List, {0, 80, 20, 10}, place::KeepCentreY, 2), 200, 300).y, 180);
}

TEST(ResizerLayout, OnlyANarrowDisplayTextLeavesItsWidthToTheRuntime) {
  const Geometry original{0, 0, 200, 100};
  auto keepsWidth = [&](int kind, int32_t width) {
    return placeControl(control(kind, {10, 10, width, 10}), original, 400, 100, 20000, kUnitRatio).keepWidth;
  };
  EXPECT_TRUE(keepsWidth(ui::kind::DisplayText, 1));
  EXPECT_FALSE(keepsWidth(ui::kind::DisplayText, 2));
  EXPECT_FALSE(keepsWidth(ui::kind::Entry, 1));
}

TEST(ResizerLayout, ExtremeSizesStayInRange) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  const Geometry original{0, 0, 1, 1};
  const ResizerControl c =
      control(ui::kind::List, {kMax, kMax, kMax, kMax}, place::KeepCentreX | place::KeepBottom);
  const Ratio r = ratioOf(kMax, 1);
  const Placement p = placeControl(c, original, kMax, kMax, r, r);
  EXPECT_EQ(p.at.width, kMax);
  EXPECT_EQ(p.at.height, kMax);
  EXPECT_EQ(p.at.x, kMax);
  const Placement q = placeControl(control(ui::kind::List, {-5, -5, 10, 10}, place::KeepRight),
                                   {0, 0, kMax, 1}, 0, 1, ratioOf(0, kMax), kUnitRatio);
  EXPECT_LE(q.at.x, 0);
}

}  // namespace
}  // namespace client
