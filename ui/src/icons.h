// Icons by the names the system gives them.
#pragma once

#include <QIcon>
#include <string_view>

namespace ui::detail {

// A deliverable's own icon ("~openfold.ico": :/<prefix>/icons/openfold.ico or .png, in any case), else
// the stock icon the built-in table gives that name, else a generic one. Never a null icon.
QIcon iconFor(std::string_view name, std::string_view preferredPrefix);

}  // namespace ui::detail
