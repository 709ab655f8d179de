#include "framework/toolbar_dispatcher.h"

namespace framework {

void ToolbarDispatcher::init() {
  TARGETS = std::make_unique<ui::Queue<ToolbarTargetRecord>>();
  TB = {};
}

ToolbarTarget* ToolbarDispatcher::current() const {
  return TARGETS && TARGETS->count() > 0 ? TB.TARGET : nullptr;
}

void ToolbarDispatcher::displayButtons() {
  if (ToolbarTarget* target = current()) target->displayButtons();
}

void ToolbarDispatcher::kill() {
  TARGETS.reset();
  TB = {};
}

void ToolbarDispatcher::takeEvent(std::int32_t& vcrRequest) {
  if (ToolbarTarget* target = current()) target->takeEvent(vcrRequest);
}

void ToolbarDispatcher::addTarget(ToolbarTarget& target) {
  if (!TARGETS) init();
  TB.TARGET = &target;
  TARGETS->add(TB);
}

}  // namespace framework
