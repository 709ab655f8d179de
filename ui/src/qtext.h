// Texts between the system (bytes, UTF-8 where they are not plain ASCII) and Qt.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace ui::detail {

inline QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string ss(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace ui::detail
