// Window definitions: the JSON modules of ui/DEFINITIONS.md, found in the deliverables' resources or
// registered by tests, parsed and checked the first time one of their windows is built.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "listformat.h"

namespace ui::detail {

struct ControlDef {
  int number = 0;
  std::string kindName;
  int kind = 0;  // ui::kind
  int x = 0, y = 0, width = 0, height = 0;
  bool naturalSize = true;  // "at" gave no size
  std::string text, icon, tooltip, value;
  bool hasPicture = false;
  Picture picture;
  bool password = false, isDefault = false;
  int group = 0;  // a radio's option control
  int low = 0, high = 100;
  bool hasFormat = false;
  ListFormat format;
};

struct MenuDef {
  std::string text;
  int number = 0;
  std::string hint, standard;
  bool separator = false, windowList = false, isMenu = false;
  std::vector<MenuDef> items;
};

struct WindowDef {
  std::string module, name, kind;  // kind: window, dialog or frame
  std::string prefix;              // resource prefix of the deliverable that carries it
  std::string title;
  int width = 0, height = 0;
  bool hasPosition = false;
  int x = 0, y = 0;
  std::string fontFace = "MS Sans Serif";
  int fontPoints = 8;
  std::string icon;
  bool resizable = false;
  bool hasStatusBar = false;
  std::vector<int> statusWidths, statusZones;
  std::vector<MenuDef> menus;
  std::vector<ControlDef> controls;
};

// Registers the modules of a definition text; halts on text that is not a definition module.
void addDefinitions(std::string_view json, std::string_view prefix = {});

// The definition of a window, checked; halts with a message naming module, window and control when
// the module, the window or one of its controls is missing or malformed.
std::shared_ptr<const WindowDef> windowDefinition(std::string_view module, std::string_view name);

// Reads every deliverable's definitions and icons from the resources loaded so far.
void scanResources();

// Reads and checks every definition the loaded deliverables carry, so that a broken one stops the
// program when it starts, not when the user first opens that window.
void checkAllDefinitions();

// The resource path of a deliverable's icon (".ico" or ".png", any case), preferring one prefix;
// empty when none exists.
std::string iconResource(std::string_view name, std::string_view preferredPrefix);

}  // namespace ui::detail
