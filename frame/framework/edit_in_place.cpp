#include "framework/edit_in_place.h"

namespace framework {

EditInPlaceModule::EditInPlaceModule()
    : multi_(std::make_unique<ui::Window>(kEditInPlaceModule, kMultiLineWindow)),
      text_(std::make_unique<ui::Window>(kEditInPlaceModule, kTextWindow)) {}

EditInPlaceModule::~EditInPlaceModule() = default;

}  // namespace framework
