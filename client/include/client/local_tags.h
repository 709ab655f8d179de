// Tags on the local file list: files the user marks to be put together. A tag is ALLF.MARKFIELD; the
// file list shows it as a tick box before the name, toggled by a click on the box or by Space. Put
// sends the tagged files one after the other and clears each tag as its file is sent.
//
// AllFiles is shared with the FTP callback threads (a finished download lists the folder again), so
// every change goes through the queue's lock and names the file it means: a tag never lands on the
// file that took another's place in a new listing.
#pragma once

#include <cstddef>
#include <string_view>

#include "client/local.h"

namespace client {

// Toggles the tag of the file at a position of AllFiles, if it is still the named file.
void toggleLocalTag(std::size_t position, std::string_view name);
// Clears the tag of the file at a position of AllFiles, if it is still the named file.
void clearLocalTag(std::size_t position, std::string_view name);
// Clears the tag of every file.
void clearLocalTags();
// The first tagged file (its position, 0 when there is none) read into `file`.
std::size_t firstTaggedFile(AllFilesRecord& file);

}  // namespace client
