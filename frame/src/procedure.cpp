#include "procedure.h"

#include "tarnwick/program.h"

namespace tarnwick {

Procedure::Procedure(ui::Window& window, std::string_view name, int firstField)
    : WindowManager(window), name_(name), firstField_(firstField) {}

int Procedure::init() {
  errors().setProcedureName(name_);
  REQUEST = GlobalRequest;
  if (const int level = WindowManager::init(); level != 0) return level;
  FIRSTFIELD = firstField_;
  VCRREQUEST = &VCRRequest;
  ERRORS = &errors();
  toolbar_.init();
  TOOLBAR = &toolbar_;
  prepare();
  GlobalRequest = 0;
  GlobalResponse = 0;
  window().open();
  window().redisplay();
  OPENED = 1;
  setAlerts();
  return 0;
}

int Procedure::kill() {
  const int level = WindowManager::kill();
  if (level == 0) errors().setProcedureName({}, true);
  return level;
}

}  // namespace tarnwick
