// Files replaced in one step: the new bytes go to a temporary file beside the target, which is then
// renamed over it, so a reader sees the old file or the new one and never a part of either, and a crash
// or a full disk leaves the old file as it was. The one copy of that rule for settings, the trust
// store and downloads.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace kernel {

// Writes all `size` bytes to `fd`, again after an interrupted write. 0, or the errno of the failure
// (ENOSPC for a write that takes nothing).
int writeAll(int fd, const char* data, std::size_t size);

// Gives a finished temporary file its target's name in one step. With `keepExisting` an existing
// target is refused (EEXIST) instead of replaced, also on a file system without RENAME_NOREPLACE.
// 0, or the errno of the failure; the temporary then keeps its name.
int renameOver(const std::string& temporary, const std::string& target, bool keepExisting = false);

// Replaces `target` with `data` whole: written to a temporary beside it with permissions `mode`,
// flushed to the disk (fsync) and renamed over it. The target's name is used as it is (a caller that
// must write through a link resolves it first). 0, or the errno of the failure, after which the
// temporary is gone and the target untouched.
int replaceFile(const std::string& target, std::string_view data, mode_t mode);

}  // namespace kernel
