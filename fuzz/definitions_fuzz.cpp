// Window definitions: any text as a definition module. What the parser accepts keeps the rules a
// window is built on: control numbers positive and unique, no two sized controls overlapping unless
// a frame or option group holds the other, radios in option groups, menu numbers negative and
// unique, status zones that exist.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "definition_parser.h"
#include "ui/runtime.h"

namespace {

using ui::detail::ControlDef;
using ui::detail::MenuDef;
using ui::detail::WindowDef;

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "contract broken: %s\n", what);
    std::abort();
  }
}

bool isContainer(const ControlDef& c) { return c.kind == ui::kind::Frame || c.kind == ui::kind::OptionGroup; }

// Geometry in long double: exact for any int position plus any int size.
bool holds(const ControlDef& outer, const ControlDef& inner) {
  using L = long double;
  return inner.x >= outer.x && inner.y >= outer.y && L(inner.x) + inner.width <= L(outer.x) + outer.width &&
         L(inner.y) + inner.height <= L(outer.y) + outer.height;
}

bool overlap(const ControlDef& a, const ControlDef& b) {
  using L = long double;
  return L(a.x) < L(b.x) + b.width && L(b.x) < L(a.x) + a.width && L(a.y) < L(b.y) + b.height &&
         L(b.y) < L(a.y) + a.height;
}

void checkMenus(const std::vector<MenuDef>& menus, std::set<int>& numbers) {
  for (const MenuDef& m : menus) {
    require(m.number <= 0, "menu numbers are negative");
    if (m.number != 0) require(numbers.insert(m.number).second, "menu numbers are unique");
    checkMenus(m.items, numbers);
  }
}

void checkWindow(const WindowDef& w) {
  require(!w.name.empty(), "a window has a name");
  require(w.width > 0 && w.height > 0, "a window has a size");
  require(w.fontPoints >= 1 && w.fontPoints <= 72, "font points 1..72");
  for (int z : w.statusZones)
    require(z >= 0 && z < static_cast<int>(w.statusWidths.size()), "status zones exist");
  std::set<int> menuNumbers;
  checkMenus(w.menus, menuNumbers);
  std::map<int, const ControlDef*> byNumber;
  for (const ControlDef& c : w.controls) {
    require(c.number > 0, "control numbers are positive");
    require(byNumber.emplace(c.number, &c).second, "control numbers are unique");
    require(c.width >= 0 && c.height >= 0, "sizes are not negative");
    if (c.kind == ui::kind::List || c.kind == ui::kind::DropList)
      require(c.hasFormat && !c.format.columns.empty(), "a list has columns");
    if (c.hasPicture) require(c.picture.width >= 1 && c.picture.width <= 65535, "a picture's width");
    require(c.low <= c.high, "a range runs upwards");
  }
  for (const ControlDef& c : w.controls)
    if (c.kind == ui::kind::Radio) {
      auto g = byNumber.find(c.group);
      require(g != byNumber.end() && g->second->kind == ui::kind::OptionGroup,
              "a radio is in an option group");
    }
  for (size_t i = 0; i < w.controls.size(); ++i)
    for (size_t j = i + 1; j < w.controls.size(); ++j) {
      const ControlDef &a = w.controls[i], &b = w.controls[j];
      if (a.naturalSize || b.naturalSize || !overlap(a, b)) continue;
      require((isContainer(a) && holds(a, b)) || (isContainer(b) && holds(b, a)),
              "overlapping controls: one holds the other");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const auto module =
      ui::detail::readModule(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
                             "fuzz", "fuzz.json", error);
  if (!module) {
    require(!error.empty(), "a refusal says why");
    return 0;
  }
  const auto windows = ui::detail::parseWindows(*module, error);
  if (!windows) {
    require(error.rfind("Window definition " + module->name, 0) == 0, "a refusal names the module");
    return 0;
  }
  for (const auto& [key, w] : *windows) {
    require(key == ui::detail::nameKey(w->name), "windows are filed by their name");
    checkWindow(*w);
  }
  return 0;
}
