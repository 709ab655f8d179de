// The registry of window definition modules.
#include "definitions.h"

#include <QRegularExpression>
#include <map>
#include <mutex>
#include <optional>

#include "qtext.h"
#include "resources.h"
#include "ui/runtime.h"

namespace ui::detail {
namespace {

struct Module {
  ModuleText text;
  std::optional<WindowDefs> windows;  // once checked
};

struct Store {
  std::mutex mutex;
  std::map<std::string, Module> modules;  // by moduleKey
};

Store& store() {
  static Store* s = new Store;  // never destroyed: threads may outlive static destruction
  return *s;
}

// "tarnwick$TARNW001" names the module TARNW001 of the program tarnwick.
std::string moduleKey(std::string_view module) {
  const std::size_t dollar = module.rfind('$');
  return nameKey(dollar == std::string_view::npos ? module : module.substr(dollar + 1));
}

bool registerText(Store& s, const QByteArray& text, std::string_view prefix, std::string_view origin,
                  std::string& error) {
  auto m = readModule(text, prefix, origin, error);
  if (!m) return false;
  const std::string key = moduleKey(m->name);
  s.modules[key] = Module{std::move(*m), std::nullopt};
  return true;
}

// Registers the definition files the resources brought since the last look.
bool registerNewFiles(Store& s, std::string& error) {
  for (const DefinitionFile& f : newDefinitionFiles())
    if (!registerText(s, f.text, f.prefix, f.origin, error)) return false;
  return true;
}

bool check(Module& m, std::string& error) {
  if (!m.windows) m.windows = parseWindows(m.text, error);
  return m.windows.has_value();
}

std::shared_ptr<const WindowDef> findLocked(Store& s, std::string_view module, std::string_view name,
                                            std::string& error) {
  const std::string key = moduleKey(module);
  // A library loaded since the last look may carry it.
  if (!s.modules.count(key) && !registerNewFiles(s, error)) return nullptr;
  auto it = s.modules.find(key);
  if (it == s.modules.end()) {
    error = "Window definition " + std::string(module) + ": no such window module";
    return nullptr;
  }
  Module& m = it->second;
  if (!check(m, error)) return nullptr;
  auto w = m.windows->find(nameKey(name));
  if (w == m.windows->end() && name.find('$') != std::string_view::npos)
    w = m.windows->find(nameKey(name.substr(name.rfind('$') + 1)));
  if (w != m.windows->end()) return w->second;
  error = "Window definition " + m.text.name + ": no window named " + std::string(name);
  return nullptr;
}

}  // namespace

void addDefinitions(std::string_view json, std::string_view prefix) {
  Store& s = store();
  std::string error;
  {
    std::lock_guard lock(s.mutex);
    static const QRegularExpression name(QStringLiteral("\"module\"\\s*:\\s*\"([^\"]*)\""));
    const QByteArray text(json.data(), static_cast<qsizetype>(json.size()));
    const auto m = name.match(QString::fromUtf8(text));
    if (registerText(s, text, prefix, m.hasMatch() ? ss(m.captured(1)) : std::string("(unnamed module)"),
                     error))
      return;
  }
  halt(1, error);
}

void checkAllDefinitions() {
  Store& s = store();
  std::string error;
  {
    std::lock_guard lock(s.mutex);
    if (registerNewFiles(s, error)) {
      for (auto& [key, m] : s.modules)
        if (!check(m, error)) break;
    }
  }
  if (!error.empty()) halt(1, error);
}

std::shared_ptr<const WindowDef> windowDefinition(std::string_view module, std::string_view name) {
  Store& s = store();
  std::string error;
  {
    std::lock_guard lock(s.mutex);
    if (auto w = findLocked(s, module, name, error)) return w;
  }
  halt(1, error);
}

}  // namespace ui::detail

namespace ui {
void addWindowDefinitions(std::string_view jsonText) { detail::addDefinitions(jsonText); }
}  // namespace ui
