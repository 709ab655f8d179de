// What the deliverables carry in their Qt resources: window definition files under
// :/<prefix>/windows/ and icons under :/<prefix>/icons/. A library loaded later brings more, so each
// look finds only what is new.
#pragma once

#include <QByteArray>
#include <string>
#include <string_view>
#include <vector>

namespace ui::detail {

struct DefinitionFile {
  std::string prefix;  // the deliverable's resource prefix
  std::string origin;  // for messages: the module's file name and resource path
  QByteArray text;
};

// Looks through the resources loaded so far and returns the definition files no earlier call
// returned. Icons found on the way are filed for iconResource().
std::vector<DefinitionFile> newDefinitionFiles();

// The resource path of a deliverable's icon (".ico" or ".png", any case; a leading "~" ignored),
// preferring one prefix; empty when none exists.
std::string iconResource(std::string_view name, std::string_view preferredPrefix);

}  // namespace ui::detail
