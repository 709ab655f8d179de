// Texts the library shows the user: the text of an Internet error, the server's last response, the
// box for an extended error of a listing, and the short size text of the remote tree.
//
// Any thread. The last response belongs to the calling thread (the FTP layer keeps it per thread), so
// these are called on the thread that saw the failure: the status callback's for a failed request.
#pragma once

#include <cstdint>
#include <string_view>

#include "ui/text.h"

namespace engine {

// The FTP layer's own message for an Internet error code, without trailing blanks and line ends;
// for ERROR_INTERNET_EXTENDED_ERROR (12003) the server's last response instead. A code that has no
// message gives an all-blank text.
ui::PText<1024> internetErrorText(std::uint32_t code);

// The server's last response on this thread (at most 255 characters).
ui::ZText<256> lastResponseText();

// For ERROR_INTERNET_EXTENDED_ERROR only: a box captioned "INTERNET ERROR" with prefix, the reply code
// and the response text. Any other code shows nothing.
void extendedErrorBox(std::uint32_t code, std::string_view prefix);

// "" for 0, "<n> bytes" below 1024 and for negative sizes, "<n,nnn> KB" in whole KiB from 1024 on.
ui::PText<20> sizeText(std::int64_t size);

}  // namespace engine
