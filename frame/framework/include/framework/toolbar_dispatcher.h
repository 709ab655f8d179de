// The toolbar dispatcher: hands a window's events to the toolbar target that is current, so that one
// toolbar can drive whichever list or form has the focus. Each window procedure has one; the windows
// of this program register no target, so it forwards nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/queue.h"

namespace framework {

// Something a toolbar drives (a list or a form).
class ToolbarTarget {
 public:
  virtual ~ToolbarTarget() = default;
  virtual void displayButtons() = 0;  // enables the toolbar's buttons as the target allows
  virtual void takeEvent(std::int32_t& vcrRequest) = 0;
};

struct ToolbarTargetRecord {
  ToolbarTarget* TARGET = nullptr;
};

class ToolbarDispatcher {
 public:
  ToolbarDispatcher() = default;
  virtual ~ToolbarDispatcher() = default;
  ToolbarDispatcher(const ToolbarDispatcher&) = delete;
  ToolbarDispatcher& operator=(const ToolbarDispatcher&) = delete;

  // Creates the target queue.
  void init();

  // ---- Operation table.
  virtual void displayButtons();  // the current target's first operation
  virtual void kill();            // disposes of the target queue
  virtual void takeEvent(std::int32_t& vcrRequest);

  // Makes a target current; it stays the caller's.
  void addTarget(ToolbarTarget& target);

  std::unique_ptr<ui::Queue<ToolbarTargetRecord>> TARGETS;

 private:
  ToolbarTarget* current() const;

  ToolbarTargetRecord TB;  // the current record
};

}  // namespace framework
