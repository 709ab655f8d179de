// The text of an FTP layer error code, as the user is shown it.
#pragma once

#include <string>

#include "kernel/winbase.h"

namespace batch {

// The message the FTP layer has for `code`, trailing blanks and line ends removed; for an extended
// error the server's own last response instead. Empty when there is no text for the code.
std::string internetErrorText(DWORD code);

}  // namespace batch
