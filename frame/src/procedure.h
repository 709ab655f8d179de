// What the program's two window procedures share: a window manager whose init registers the
// procedure's name with the error manager, binds the program's codes and toolbar, and shows the window
// with its variables; and whose kill takes the name back.
#pragma once

#include <string>
#include <string_view>

#include "framework/toolbar_dispatcher.h"
#include "framework/window_manager.h"

namespace tarnwick {

class Procedure : public framework::WindowManager {
 public:
  Procedure(ui::Window& window, std::string_view name, int firstField);

  int init() override;
  int kill() override;

 protected:
  // Runs after the common init, before the window is shown.
  virtual void prepare() {}

 private:
  std::string name_;
  int firstField_;
  framework::ToolbarDispatcher toolbar_;
};

}  // namespace tarnwick
