// The resizer on real windows: a small window of our own, and the client window.
#include <gtest/gtest.h>

#include <map>

#include "client/resizer.h"
#include "window_fixture.h"

namespace client {
namespace {

constexpr const char* kTestWindows = R"({
  "module": "RESIZE01",
  "windows": [
    {
      "name": "RESIZE01", "kind": "window", "title": "Resizer", "size": [200, 100], "position": [20, 20],
      "resizable": true,
      "controls": [
        { "number": 1, "kind": "button", "text": "Right", "at": [150, 75, 30, 15] },
        { "number": 2, "kind": "button", "text": "Left", "at": [10, 5, 30, 15] },
        { "number": 3, "kind": "button", "text": "Tie", "at": [85, 40, 30, 20] },
        { "number": 4, "kind": "entry", "picture": "@s20", "at": [20, 30, 60, 10] },
        { "number": 5, "kind": "display", "picture": "@s10", "at": [100, 65, 1, 9] },
        { "number": 6, "kind": "check", "text": "Check", "at": [10, 80, 40, 10] },
        { "number": 7, "kind": "list", "format": "60L~Name~@s20@", "at": [130, 5, 60, 30] }
      ]
    }
  ]
})";

using Layout = std::map<int, ui::Rect>;

Layout layoutOf(const ui::Window& w) {
  Layout out;
  for (int f = w.firstControl(); f <= w.lastControl(); ++f) {
    const int kind = w.controlKind(f);
    if (kind != ui::kind::None && kind != ui::kind::Menu && kind != ui::kind::MenuItem)
      out[f] = w.controlPosition(f);
  }
  return out;
}

class ResizerWindow : public ::testing::Test {
 protected:
  void open(const char* module) {
    window_ = std::make_unique<ui::Window>(module, module);
    window_->open();
    pump();
    start_ = window_->position();
  }
  void TearDown() override {
    release(resizer_);
    window_.reset();
  }

  // Resizes the window and lets it re-lay out, as the client window does on its resize events.
  void resizeTo(int width, int height) {
    ui::Rect r = window_->position();
    r.width = width;
    r.height = height;
    window_->setPosition(r);
    pump();
  }
  void pump() {
    testing::pump(*window_, [&](int event, int) {
      if (event == ui::event::Resized) reLayout(resizer_, *window_);
    });
  }

  static void SetUpTestSuite() {
    ui::addWindowDefinitions(kTestWindows);
    testing::addClientWindowDefinitions();
  }

  std::unique_ptr<ui::Window> window_;
  Resizer resizer_;
  ui::Rect start_;
};

TEST_F(ResizerWindow, ModeOneScalesEverythingAndComesBackWhole) {
  open("RESIZE01");
  setUp(resizer_, *window_, 1);
  const Layout recorded = layoutOf(*window_);
  ASSERT_EQ(recorded.size(), 7u);

  resizeTo(400, 100);
  for (const auto& [id, r] : layoutOf(*window_)) {
    const ui::Rect was = recorded.at(id);
    if (id == 5) {
      EXPECT_EQ(r.width, was.width) << "a display 1 unit wide keeps its width";
    } else {
      EXPECT_EQ(r.width, 2 * was.width) << id;
    }
    EXPECT_EQ(r.x, 2 * was.x) << id;
    EXPECT_EQ(r.y, was.y) << id;
    EXPECT_EQ(r.height, was.height) << id;
  }

  resizeTo(start_.width, start_.height);
  EXPECT_EQ(layoutOf(*window_), recorded);
}

TEST_F(ResizerWindow, AMoveWithoutResizeTouchesNothing) {
  open("RESIZE01");
  setUp(resizer_, *window_, 1);
  window_->setControlPosition(7, {120, 40, 50, 20});
  ui::Rect moved = window_->position();
  moved.x += 15;
  moved.y += 10;
  window_->setPosition(moved);
  pump();
  reLayout(resizer_, *window_);
  EXPECT_EQ(window_->controlPosition(7), (ui::Rect{120, 40, 50, 20}));
}

TEST_F(ResizerWindow, ModeTwoKeepsButtonsAtTheirNearestEdges) {
  open("RESIZE01");
  setUp(resizer_, *window_, 2);
  const Layout recorded = layoutOf(*window_);

  resizeTo(400, 200);
  const Layout grown = layoutOf(*window_);
  EXPECT_EQ(grown.at(1), (ui::Rect{350, 175, 30, 15}));  // right and bottom
  EXPECT_EQ(grown.at(2), (ui::Rect{10, 5, 30, 15}));     // left and top
  EXPECT_EQ(grown.at(3), (ui::Rect{85, 40, 30, 20}));    // equal gaps: left and top
  EXPECT_EQ(grown.at(4), (ui::Rect{40, 60, 120, 10}));   // an entry stretches in width only
  EXPECT_EQ(grown.at(5).width, recorded.at(5).width);
  EXPECT_EQ(grown.at(6), (ui::Rect{20, 160, 40, 10}));  // a check box moves but keeps its size
  EXPECT_EQ(grown.at(7), (ui::Rect{260, 10, 120, 60}));

  // Shrinking shrinks with it.
  resizeTo(150, 75);
  ASSERT_EQ(window_->position().width, 150);
  ASSERT_EQ(window_->position().height, 75);
  const Layout shrunk = layoutOf(*window_);
  EXPECT_EQ(shrunk.at(4), (ui::Rect{15, 22, 45, 10}));
  EXPECT_EQ(shrunk.at(7), (ui::Rect{97, 3, 45, 22}));
  EXPECT_EQ(shrunk.at(1), (ui::Rect{100, 50, 30, 15}));

  resizeTo(start_.width, start_.height);
  EXPECT_EQ(layoutOf(*window_), recorded);
}

TEST_F(ResizerWindow, ACollectingDeferredCountIsGivenBack) {
  open("RESIZE01");
  setUp(resizer_, *window_, 1);
  window_->setDeferredMoves(-1);
  resizeTo(300, 100);
  EXPECT_EQ(window_->deferredMoves(), -1);
  window_->setDeferredMoves(0);
  EXPECT_EQ(window_->controlPosition(4), (ui::Rect{30, 30, 90, 10}));
}

TEST_F(ResizerWindow, TheClientWindowScalesAndComesBack) {
  open("NIMBO001");
  EXPECT_EQ(start_.width, 464);
  EXPECT_EQ(start_.height, 243);
  setUp(resizer_, *window_, 1);
  const Layout recorded = layoutOf(*window_);
  EXPECT_EQ(recorded.size(), 33u);

  resizeTo(928, 486);
  for (const auto& [id, r] : layoutOf(*window_)) {
    const ui::Rect was = recorded.at(id);
    EXPECT_EQ(r, (ui::Rect{2 * was.x, 2 * was.y, 2 * was.width, 2 * was.height})) << id;
  }
  resizeTo(300, 200);
  resizeTo(464, 243);
  EXPECT_EQ(layoutOf(*window_), recorded);
}

}  // namespace
}  // namespace client
