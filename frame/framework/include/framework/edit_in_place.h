// Edit-in-place: the two small windows in which a list's cell is edited where it stands, one for a
// line of text ("$TXTWINDOW") and one for several lines ("$MULTIWINDOW"), both of the window module
// "ABEIP" that the program carries. The module loads them when the program starts and frees them when
// it ends; the windows of this program edit no list in place, so neither is ever opened.
#pragma once

#include <memory>

#include "ui/runtime.h"

namespace framework {

inline constexpr std::string_view kEditInPlaceModule = "ABEIP";
inline constexpr std::string_view kMultiLineWindow = "$MULTIWINDOW";
inline constexpr std::string_view kTextWindow = "$TXTWINDOW";

class EditInPlaceModule {
 public:
  // Needs the window runtime started; a missing or malformed definition halts, naming it.
  EditInPlaceModule();
  ~EditInPlaceModule();
  EditInPlaceModule(const EditInPlaceModule&) = delete;
  EditInPlaceModule& operator=(const EditInPlaceModule&) = delete;

  ui::Window& multiLineWindow() { return *multi_; }
  ui::Window& textWindow() { return *text_; }

 private:
  std::unique_ptr<ui::Window> multi_;
  std::unique_ptr<ui::Window> text_;
};

}  // namespace framework
