// The window definitions the process knows: the modules the deliverables carry in their resources and
// those tests register, each checked before its first window is built. A broken one halts the program
// with the parser's message, naming module, window and control.
#pragma once

#include <memory>
#include <string_view>

#include "definition_parser.h"

namespace ui::detail {

// Registers the modules of a definition text; halts on text that is not a definition module.
void addDefinitions(std::string_view json, std::string_view prefix = {});

// The definition of a window, checked; halts when the module, the window or one of its controls is
// missing or malformed.
std::shared_ptr<const WindowDef> windowDefinition(std::string_view module, std::string_view name);

// Reads and checks every definition the loaded deliverables carry, so that a broken one stops the
// program when it starts, not when the user first opens that window.
void checkAllDefinitions();

}  // namespace ui::detail
