// Message boxes and popup menus: shared between the dialogs and the rest of the runtime.
#pragma once

#include <string>

namespace ui::detail {

// True while message boxes and popups are answered by the test hooks instead of the user. Under the
// offscreen platform this is the default, since nobody could ever answer a real box there.
bool dialogsHeadless();

// Records a standard action (print set-up, help) that headless dialogs leave unshown.
void recordStandardDialog(const std::string& name);

}  // namespace ui::detail
