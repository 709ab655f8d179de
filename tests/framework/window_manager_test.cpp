// The window manager's loop and response, on a window of the test's own driven by posted events.
#include "framework/window_manager.h"

#include <gtest/gtest.h>

#include "framework/toolbar_dispatcher.h"
#include "ui/runtime.h"

namespace {

using framework::WindowManager;

constexpr const char* kDefinitions = R"({
  "module": "WMTEST",
  "windows": [ { "name": "WMTEST", "size": [100, 40], "controls": [
    { "number": 1, "kind": "entry", "picture": "@s20", "at": [5, 5, 60, 10] },
    { "number": 2, "kind": "button", "text": "OK", "at": [5, 20, 40, 14] },
    { "number": 3, "kind": "button", "text": "Other", "at": [50, 20, 40, 14] } ] } ]
})";

constexpr int kOk = 2;
constexpr int kOther = 3;

class TestManager final : public WindowManager {
 public:
  TestManager(ui::Window& w, framework::ToolbarDispatcher& toolbar) : WindowManager(w) {
    TOOLBAR = &toolbar;
    VCRREQUEST = &vcr;
  }
  int init() override {
    const int level = WindowManager::init();
    toolbar().init();
    if (buttonAction) addButton(kOk, buttonAction);
    window().open();
    return level;
  }
  int takeAccepted() override {
    ++accepted;
    if (window().control() == kOther) return endLevel;
    return WindowManager::takeAccepted();
  }
  framework::ToolbarDispatcher& toolbar() { return *TOOLBAR; }

  std::uint8_t buttonAction = 0;
  int endLevel = 0;
  int accepted = 0;
  std::int32_t vcr = 7;
};

class WindowManagerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ui::addWindowDefinitions(kDefinitions); }
  ui::Window window{"WMTEST", "WMTEST"};
  framework::ToolbarDispatcher toolbar;
  TestManager manager{window, toolbar};
};

TEST_F(WindowManagerTest, AWindowClosedWithoutAResponseAnswersCancelled) {
  window.post(ui::event::CloseWindow);
  EXPECT_EQ(manager.run(), framework::response::Cancelled);
  EXPECT_EQ(manager.DEAD, 1);
  EXPECT_EQ(manager.BROWSES, nullptr);
  EXPECT_EQ(manager.kill(), framework::handled::EndEvent) << "a second kill finds it dead";
}

TEST_F(WindowManagerTest, ARegisteredButtonSetsTheResponseAndClosesTheWindow) {
  manager.buttonAction = framework::response::Completed;
  window.post(ui::event::Accepted, kOk);
  EXPECT_EQ(manager.run(), framework::response::Completed);
  EXPECT_EQ(manager.vcr, 7) << "only a cancel resets the browse request";
}

TEST_F(WindowManagerTest, ACancelResponseResetsTheBrowseRequest) {
  manager.buttonAction = framework::response::Cancelled;
  window.post(ui::event::Accepted, kOk);
  EXPECT_EQ(manager.run(), framework::response::Cancelled);
  EXPECT_EQ(manager.vcr, 0);
}

TEST_F(WindowManagerTest, LevelThreeEndsTheLoopWhileOtherLevelsGoOn) {
  manager.endLevel = framework::handled::EndEvent;
  window.post(ui::event::Accepted, kOther);
  window.post(ui::event::Accepted, kOther);
  window.post(ui::event::User);
  window.post(ui::event::Accepted, kOther);
  window.post(ui::event::CloseWindow);
  EXPECT_EQ(manager.run(), framework::response::Cancelled);
  EXPECT_EQ(manager.accepted, 3) << "levels 5 and 0 leave the loop running";

  ui::Window second("WMTEST", "WMTEST");
  TestManager ending(second, toolbar);
  ending.endLevel = framework::handled::EndLoop;
  second.post(ui::event::Accepted, kOther);
  second.post(ui::event::Accepted, kOther);
  EXPECT_EQ(ending.run(), framework::response::Cancelled);
  EXPECT_EQ(ending.accepted, 1);
  EXPECT_TRUE(second.isOpen()) << "the procedure, not the loop, closes the window";
}

}  // namespace
