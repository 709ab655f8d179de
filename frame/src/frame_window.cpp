// Main: the application frame "TEST FTP CLIENT". Its standard menu entries are the runtime's; the two
// entries of the FTP menu call into the library, and the frame's loop waits until they return.
#include <atomic>

#include "nimbo.h"
#include "procedure.h"
#include "tarnwick/controls.h"
#include "tarnwick/program.h"

namespace tarnwick {
namespace {

std::atomic<ui::WindowRef> theFrame{0};

class FrameManager final : public Procedure {
 public:
  explicit FrameManager(ui::Window& window) : Procedure(window, "Main", 1) {}

  int takeAccepted() override {
    switch (window().control()) {
      case kStartAsyncClient:
        CLIENT_AS();
        break;
      case kStartAutoUploadDownload:
        SetUplDnlParameters();
        break;
      default:
        break;
    }
    return Procedure::takeAccepted();
  }
};

}  // namespace

ui::WindowRef frameWindow() { return theFrame.load(); }

void Main() {
  ui::Window window("tarnwick$TARNW001", "P1$APPFRAME");
  theFrame = window.ref();
  {
    FrameManager manager(window);
    GlobalResponse = static_cast<std::uint8_t>(manager.run());
  }
  theFrame = 0;
}

}  // namespace tarnwick
