// Window definitions read and checked: every field of a known type, every kind known, numbers unique,
// radios in option groups, and no two sized controls overlapping unless one holds the other.
#include "definition_parser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdint>
#include <set>

#include "kernel/ascii.h"
#include "qtext.h"
#include "ui/runtime.h"

namespace ui::detail {
namespace {

// Thrown only inside this file: the first problem found ends the check of a module.
class DefinitionError {
 public:
  std::string text;
};

[[noreturn]] void bad(const std::string& where, const std::string& what) {
  throw DefinitionError{where + ": " + what};
}

const std::set<std::string> kWindowFields = {"name",     "kind",     "title",     "size",
                                             "position", "font",     "icon",      "resizable",
                                             "menus",    "controls", "statusbar", "comment"};
const std::set<std::string> kControlFields = {"number", "kind", "at", "text", "tooltip", "comment"};
const std::map<std::string, std::pair<int, std::set<std::string>>> kKinds = {
    {"prompt", {kind::Prompt, {}}},
    {"entry", {kind::Entry, {"picture", "password"}}},
    {"button", {kind::Button, {"icon", "default"}}},
    {"check", {kind::CheckBox, {}}},
    {"option", {kind::OptionGroup, {}}},
    {"radio", {kind::Radio, {"group", "value"}}},
    {"display", {kind::DisplayText, {"picture"}}},
    {"frame", {kind::Frame, {}}},
    {"progress", {kind::ProgressBar, {"range"}}},
    {"image", {kind::Image, {"icon"}}},
    {"list", {kind::List, {"format"}}},
    {"droplist", {kind::DropList, {"format"}}},
};
const std::set<std::string> kStandardActions = {"printsetup",   "exit",       "cut",       "copy",
                                                "paste",        "tile",       "cascade",   "arrange",
                                                "helpcontents", "helpsearch", "helponhelp"};

std::string str(const QJsonObject& o, const char* field, const std::string& where) {
  if (!o.contains(field)) return {};
  if (!o[field].isString()) bad(where, std::string("\"") + field + "\" must be a text");
  return ss(o[field].toString());
}

bool flag(const QJsonObject& o, const char* field, const std::string& where) {
  if (!o.contains(field)) return false;
  if (!o[field].isBool()) bad(where, std::string("\"") + field + "\" must be true or false");
  return o[field].toBool();
}

int integer(const QJsonValue& v, const std::string& where, const std::string& what) {
  if (!v.isDouble() || v.toDouble() != static_cast<double>(v.toInt()))
    bad(where, what + " must be a whole number");
  return v.toInt();
}

std::vector<int> integers(const QJsonObject& o, const char* field, const std::string& where) {
  std::vector<int> out;
  if (!o.contains(field)) return out;
  if (!o[field].isArray()) bad(where, std::string("\"") + field + "\" must be a list of numbers");
  for (const QJsonValue& v : o[field].toArray())
    out.push_back(integer(v, where, std::string("\"") + field + "\""));
  return out;
}

void checkFields(const QJsonObject& o, const std::set<std::string>& allowed,
                 const std::set<std::string>& extra, const std::string& where) {
  for (const QString& k : o.keys()) {
    const std::string key = ss(k);
    if (!allowed.count(key) && !extra.count(key)) bad(where, "unknown field \"" + key + "\"");
  }
}

MenuDef parseMenu(const QJsonValue& v, const std::string& where) {
  if (!v.isObject()) bad(where, "a menu entry must be an object");
  const QJsonObject o = v.toObject();
  checkFields(o, {"text", "number", "hint", "standard", "separator", "windowlist", "items", "comment"}, {},
              where);
  MenuDef m;
  m.separator = flag(o, "separator", where);
  m.text = str(o, "text", where);
  m.hint = str(o, "hint", where);
  m.standard = str(o, "standard", where);
  m.windowList = flag(o, "windowlist", where);
  if (o.contains("number")) m.number = integer(o["number"], where, "\"number\"");
  const std::string here = where + ", menu \"" + m.text + "\"";
  if (!m.standard.empty() && !kStandardActions.count(m.standard))
    bad(here, "unknown standard action \"" + m.standard + "\"");
  if (m.number > 0) bad(here, "menu numbers are negative");
  if (o.contains("items")) {
    if (!o["items"].isArray()) bad(here, "\"items\" must be a list");
    m.isMenu = true;
    for (const QJsonValue& item : o["items"].toArray()) m.items.push_back(parseMenu(item, here));
  }
  return m;
}

void collectMenuNumbers(const std::vector<MenuDef>& menus, std::set<int>& numbers, const std::string& where) {
  for (const MenuDef& m : menus) {
    if (m.number != 0 && !numbers.insert(m.number).second)
      bad(where, "menu number " + std::to_string(m.number) + " used twice");
    collectMenuNumbers(m.items, numbers, where);
  }
}

ControlDef parseControl(const QJsonValue& v, const std::string& windowWhere) {
  if (!v.isObject()) bad(windowWhere, "a control must be an object");
  const QJsonObject o = v.toObject();
  ControlDef c;
  if (!o.contains("number")) bad(windowWhere, "a control without a number");
  c.number = integer(o["number"], windowWhere, "a control's \"number\"");
  const std::string where = windowWhere + ", control " + std::to_string(c.number);
  if (c.number <= 0) bad(where, "control numbers start at 1");
  c.kindName = str(o, "kind", where);
  const auto k = kKinds.find(c.kindName);
  if (k == kKinds.end()) bad(where, "unknown kind \"" + c.kindName + "\"");
  c.kind = k->second.first;
  checkFields(o, kControlFields, k->second.second, where);
  const std::vector<int> at = integers(o, "at", where);
  if (at.size() != 2 && at.size() != 4) bad(where, "\"at\" is [x, y] or [x, y, width, height]");
  c.x = at[0];
  c.y = at[1];
  if (at.size() == 4) {
    if (at[2] < 0 || at[3] < 0) bad(where, "a size cannot be negative");
    c.width = at[2];
    c.height = at[3];
    c.naturalSize = false;
  }
  c.text = str(o, "text", where);
  c.tooltip = str(o, "tooltip", where);
  c.icon = str(o, "icon", where);
  c.password = flag(o, "password", where);
  c.isDefault = flag(o, "default", where);
  if (o.contains("picture")) {
    std::string err;
    auto p = parsePicture(str(o, "picture", where), err);
    if (!p) bad(where, err);
    c.hasPicture = true;
    c.picture = *p;
  }
  if (o.contains("group")) c.group = integer(o["group"], where, "\"group\"");
  if (o.contains("value")) {
    if (o["value"].isString())
      c.value = ss(o["value"].toString());
    else
      c.value = std::to_string(integer(o["value"], where, "\"value\""));
  }
  if (o.contains("range")) {
    const auto r = integers(o, "range", where);
    if (r.size() != 2 || r[0] > r[1]) bad(where, "\"range\" is [low, high]");
    c.low = r[0];
    c.high = r[1];
  }
  if (c.kind == kind::List || c.kind == kind::DropList) {
    std::string format = o.contains("format") ? str(o, "format", where) : std::string("@s255@");
    if (format == "@s255@") format = "255L@s255@";
    std::string err;
    auto f = parseListFormat(format, err);
    if (!f) bad(where, err);
    c.hasFormat = true;
    c.format = std::move(*f);
  }
  if (c.kind == kind::Radio && c.group == 0) bad(where, "a radio names its option control in \"group\"");
  return c;
}

// Edges in 64 bits: a position near the int limit plus a size must not wrap round and let two
// controls that overlap pass as apart.
struct Edges {
  std::int64_t left, top, right, bottom;
};

Edges edgesOf(const ControlDef& c) {
  return {c.x, c.y, std::int64_t{c.x} + c.width, std::int64_t{c.y} + c.height};
}

bool inside(const ControlDef& inner, const ControlDef& outer) {
  const Edges i = edgesOf(inner), o = edgesOf(outer);
  return i.left >= o.left && i.top >= o.top && i.right <= o.right && i.bottom <= o.bottom;
}

bool overlap(const ControlDef& a, const ControlDef& b) {
  const Edges e = edgesOf(a), f = edgesOf(b);
  return e.left < f.right && f.left < e.right && e.top < f.bottom && f.top < e.bottom;
}

bool isContainer(const ControlDef& c) { return c.kind == kind::Frame || c.kind == kind::OptionGroup; }

WindowDef parseWindow(const QJsonValue& v, const ModuleText& m) {
  const std::string moduleWhere = "Window definition " + m.name;
  if (!v.isObject()) bad(moduleWhere, "a window must be an object");
  const QJsonObject o = v.toObject();
  WindowDef w;
  w.module = m.name;
  w.prefix = m.prefix;
  w.name = str(o, "name", moduleWhere);
  if (w.name.empty()) bad(moduleWhere, "a window without a name");
  const std::string where = moduleWhere + ", window " + w.name;
  checkFields(o, kWindowFields, {}, where);
  w.kind = o.contains("kind") ? str(o, "kind", where) : "window";
  if (w.kind != "window" && w.kind != "dialog" && w.kind != "frame")
    bad(where, "unknown kind \"" + w.kind + "\"");
  w.title = str(o, "title", where);
  const auto size = integers(o, "size", where);
  if (size.size() != 2 || size[0] <= 0 || size[1] <= 0)
    bad(where, "\"size\" is [width, height], both positive");
  w.width = size[0];
  w.height = size[1];
  if (o.contains("position")) {
    const auto pos = integers(o, "position", where);
    if (pos.size() != 2) bad(where, "\"position\" is [x, y]");
    w.hasPosition = true;
    w.x = pos[0];
    w.y = pos[1];
  }
  if (o.contains("font")) {
    if (!o["font"].isObject()) bad(where, "\"font\" must be an object");
    const QJsonObject f = o["font"].toObject();
    checkFields(f, {"face", "points"}, {}, where + ", font");
    if (f.contains("face")) w.fontFace = str(f, "face", where + ", font");
    if (f.contains("points")) w.fontPoints = integer(f["points"], where, "the font's \"points\"");
    if (w.fontPoints <= 0 || w.fontPoints > 72) bad(where, "the font's \"points\" must lie between 1 and 72");
  }
  w.icon = str(o, "icon", where);
  w.resizable = flag(o, "resizable", where);
  if (o.contains("statusbar")) {
    if (!o["statusbar"].isObject()) bad(where, "\"statusbar\" must be an object");
    const QJsonObject sb = o["statusbar"].toObject();
    checkFields(sb, {"widths", "zones"}, {}, where + ", status bar");
    w.hasStatusBar = true;
    w.statusWidths = integers(sb, "widths", where + ", status bar");
    w.statusZones = integers(sb, "zones", where + ", status bar");
    if (w.statusWidths.empty()) bad(where, "a status bar needs at least one zone width");
    for (std::size_t i = 0; i < w.statusWidths.size(); ++i)
      if (w.statusWidths[i] <= 0 && !(w.statusWidths[i] == -1 && i + 1 == w.statusWidths.size()))
        bad(where, "status zone widths are positive (only the last may be -1)");
    for (int z : w.statusZones)
      if (z < 0 || z >= static_cast<int>(w.statusWidths.size()))
        bad(where, "status zone map names zone " + std::to_string(z) + ", which the bar lacks");
  }
  if (o.contains("menus")) {
    if (!o["menus"].isArray()) bad(where, "\"menus\" must be a list");
    for (const QJsonValue& mv : o["menus"].toArray()) w.menus.push_back(parseMenu(mv, where));
    std::set<int> numbers;
    collectMenuNumbers(w.menus, numbers, where);
  }
  if (o.contains("controls")) {
    if (!o["controls"].isArray()) bad(where, "\"controls\" must be a list");
    std::set<int> numbers;
    for (const QJsonValue& cv : o["controls"].toArray()) {
      ControlDef c = parseControl(cv, where);
      if (!numbers.insert(c.number).second)
        bad(where + ", control " + std::to_string(c.number), "number used twice");
      w.controls.push_back(std::move(c));
    }
  }
  if (w.kind == "frame" && !w.controls.empty())
    bad(where, "an application frame holds child windows, not controls");
  std::map<int, const ControlDef*> byNumber;
  for (const ControlDef& c : w.controls) byNumber[c.number] = &c;
  for (const ControlDef& c : w.controls) {
    const std::string here = where + ", control " + std::to_string(c.number);
    if (c.kind == kind::Radio) {
      auto g = byNumber.find(c.group);
      if (g == byNumber.end() || g->second->kind != kind::OptionGroup)
        bad(here, "its group " + std::to_string(c.group) + " is not an option control");
    }
  }
  // Controls that both give their size may not overlap, except what lies wholly inside a frame or
  // an option group.
  for (std::size_t i = 0; i < w.controls.size(); ++i) {
    const ControlDef& a = w.controls[i];
    if (a.naturalSize) continue;
    for (std::size_t j = i + 1; j < w.controls.size(); ++j) {
      const ControlDef& b = w.controls[j];
      if (b.naturalSize || !overlap(a, b)) continue;
      if ((isContainer(a) && inside(b, a)) || (isContainer(b) && inside(a, b))) continue;
      bad(where + ", control " + std::to_string(b.number), "overlaps control " + std::to_string(a.number));
    }
  }
  return w;
}

}  // namespace

std::string nameKey(std::string_view name) { return kernel::asciiUppered(name); }

std::optional<ModuleText> readModule(const QByteArray& text, std::string_view prefix, std::string_view origin,
                                     std::string& error) {
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject()) {
    error = "Window definition " + std::string(origin) + ": not a definition module (" +
            (err.error != QJsonParseError::NoError
                 ? ss(err.errorString()) + " at offset " + std::to_string(err.offset)
                 : std::string("not an object")) +
            ")";
    return std::nullopt;
  }
  const QJsonObject o = doc.object();
  if (!o["module"].isString() || o["module"].toString().isEmpty()) {
    error = "Window definition " + std::string(origin) + ": the module has no \"module\" name";
    return std::nullopt;
  }
  return ModuleText{ss(o["module"].toString()), std::string(prefix), o};
}

std::optional<WindowDefs> parseWindows(const ModuleText& m, std::string& error) {
  try {
    WindowDefs windows;
    const std::string where = "Window definition " + m.name;
    if (!m.json.contains("windows") || !m.json["windows"].isArray()) bad(where, "\"windows\" must be a list");
    for (const QJsonValue& wv : m.json["windows"].toArray()) {
      auto def = std::make_shared<WindowDef>(parseWindow(wv, m));
      const std::string key = nameKey(def->name);
      if (windows.count(key)) bad(where + ", window " + def->name, "defined twice");
      windows[key] = std::move(def);
    }
    return windows;
  } catch (const DefinitionError& e) {
    error = e.text;
    return std::nullopt;
  }
}

}  // namespace ui::detail
