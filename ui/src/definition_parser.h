// Window definitions: the JSON modules of ui/DEFINITIONS.md read into checked records. Pure: no
// registry, no resources; every problem comes back as a text naming module, window and control.
#pragma once

#include <QJsonObject>
#include <map>
#include <memory>
#include <optional>
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

// A module's text, read but not yet checked (its windows are checked when first needed).
struct ModuleText {
  std::string name;    // as the module spells it
  std::string prefix;  // resource prefix of the deliverable that carries it
  QJsonObject json;
};

// Reads a module's text; an error naming `origin` when it is not a definition module.
std::optional<ModuleText> readModule(const QByteArray& text, std::string_view prefix, std::string_view origin,
                                     std::string& error);

// Every window of a module, checked, by nameKey() of its name; an error naming module, window and
// control when one is malformed.
using WindowDefs = std::map<std::string, std::shared_ptr<const WindowDef>>;
std::optional<WindowDefs> parseWindows(const ModuleText& module, std::string& error);

// Module and window names match without regard to case: the key they are filed under.
std::string nameKey(std::string_view name);

}  // namespace ui::detail
