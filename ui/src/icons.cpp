// Icons: the deliverables' own files first, then stock icons standing in for the ones they name.
#include "icons.h"

#include <QApplication>
#include <QStyle>
#include <map>
#include <string>

#include "kernel/ascii.h"
#include "qtext.h"
#include "resources.h"

namespace ui::detail {
namespace {

std::string baseName(std::string_view name) {
  if (!name.empty() && name.front() == '~') name.remove_prefix(1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return kernel::asciiUppered(name);
}

// The names the system's windows use, and the stock picture closest to each.
const std::map<std::string, QStyle::StandardPixmap>& stockTable() {
  static const std::map<std::string, QStyle::StandardPixmap> table = {
      {"OPENFOLD", QStyle::SP_DirOpenIcon},
      {"CLSDFOLD", QStyle::SP_DirClosedIcon},
      {"FILES10", QStyle::SP_FileIcon},
      {"ENTIRNET", QStyle::SP_DriveNetIcon},
      {"SMDSKET", QStyle::SP_DriveFDIcon},
      {"SMDISK", QStyle::SP_DriveHDIcon},
      {"SMNETWRK", QStyle::SP_DriveNetIcon},
      {"SMCD", QStyle::SP_DriveCDIcon},
      {"SMRAM", QStyle::SP_DriveHDIcon},
      {"SMOPEN", QStyle::SP_DirOpenIcon},
      {"SMCLOSE", QStyle::SP_DirClosedIcon},
      {"NET04", QStyle::SP_DriveNetIcon},
      {"DIRPREV", QStyle::SP_FileDialogToParent},
      {"COMPUTER", QStyle::SP_ComputerIcon},
      {"FOLDER", QStyle::SP_DirIcon},
      {"FILE", QStyle::SP_FileIcon},
      {"TRASH", QStyle::SP_TrashIcon},
      {"OK", QStyle::SP_DialogOkButton},
      {"CANCEL", QStyle::SP_DialogCancelButton},
      {"HELP", QStyle::SP_DialogHelpButton},
      {"RELOAD", QStyle::SP_BrowserReload},
      {"STOP", QStyle::SP_BrowserStop},
      {"EXCLAMATION", QStyle::SP_MessageBoxWarning},
      {"ASTERISK", QStyle::SP_MessageBoxInformation},
  };
  return table;
}

}  // namespace

QIcon iconFor(std::string_view name, std::string_view preferredPrefix) {
  const std::string path = name.empty() ? std::string() : iconResource(name, preferredPrefix);
  if (!path.empty()) {
    QIcon icon(qs(path));
    if (!icon.isNull() && !icon.availableSizes().isEmpty()) return icon;
  }
  QStyle* style = QApplication::style();
  const auto& table = stockTable();
  const auto it = table.find(baseName(name));
  return style->standardIcon(it != table.end() ? it->second : QStyle::SP_FileIcon);
}

}  // namespace ui::detail
