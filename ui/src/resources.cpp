// The scan of the deliverables' resources for window definitions and icons.
#include "resources.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "definition_parser.h"
#include "qtext.h"

namespace ui::detail {
namespace {

struct Index {
  std::mutex mutex;
  std::set<std::string> seen;  // resource paths
  std::map<std::string, std::vector<std::pair<std::string, std::string>>>
      icons;                              // base name → (prefix, path)
  std::vector<DefinitionFile> unclaimed;  // definition files found but not yet returned
};

Index& index() {
  static Index* i = new Index;  // never destroyed: threads may outlive static destruction
  return *i;
}

void scanLocked(Index& x) {
  static const QRegularExpression windowFile(QStringLiteral("^:/(.+)/windows/([^/]+)\\.json$"),
                                             QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression iconFile(QStringLiteral("^:/(.+)/icons/([^/]+)$"));
  QDirIterator it(QStringLiteral(":/"), QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const std::string p = ss(path);
    if (!x.seen.insert(p).second) continue;
    if (const auto w = windowFile.match(path); w.hasMatch()) {
      QFile f(path);
      if (!f.open(QIODevice::ReadOnly)) continue;
      x.unclaimed.push_back({ss(w.captured(1)), ss(w.captured(2)) + " (" + p + ")", f.readAll()});
    } else if (const auto i = iconFile.match(path); i.hasMatch()) {
      QString base = i.captured(2);
      const int dot = base.lastIndexOf('.');
      if (dot > 0) base = base.left(dot);
      x.icons[nameKey(ss(base))].emplace_back(ss(i.captured(1)), p);
    }
  }
}

}  // namespace

std::vector<DefinitionFile> newDefinitionFiles() {
  Index& x = index();
  std::lock_guard lock(x.mutex);
  scanLocked(x);
  return std::exchange(x.unclaimed, {});
}

std::string iconResource(std::string_view name, std::string_view preferredPrefix) {
  Index& x = index();
  std::lock_guard lock(x.mutex);
  if (x.seen.empty()) scanLocked(x);
  std::string_view base = name;
  if (!base.empty() && base.front() == '~') base.remove_prefix(1);
  const std::size_t dot = base.rfind('.');
  if (dot != std::string_view::npos && dot > 0) base = base.substr(0, dot);
  auto it = x.icons.find(nameKey(base));
  if (it == x.icons.end()) return {};
  for (const auto& [prefix, path] : it->second)
    if (prefix == preferredPrefix) return path;
  return it->second.front().second;
}

}  // namespace ui::detail
