// Names compared the Windows way: without regard to case, and with the wildcards of a search pattern.
// The one folding and the one matcher of the library, so a mask finds the same names on a local disk
// and on a server.
#pragma once

#include <string>
#include <string_view>

namespace kernel::names {

// Case folding over UTF-8: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters fold to lower
// case; bytes that are not valid UTF-8 stand for themselves, so such names still compare exactly.
bool equalIgnoringCase(std::string_view a, std::string_view b);

// The folded form of a name, for keys of an index.
std::string folded(std::string_view name);

// "*" any run of characters and "?" one, without regard to case, and nothing more: host names in a
// proxy bypass list.
bool globMatch(std::string_view pattern, std::string_view name);

// Windows wildcard matching, without regard to case, for local and remote names alike: "*" any run of
// characters, "?" one character;
// "*" and "*.*" match every name; a name without a dot also matches as if it ended with one, so
// "*." finds the names without an extension and "readme.*" finds "readme".
bool wildcardMatch(std::string_view pattern, std::string_view name);

bool hasWildcards(std::string_view pattern);

}  // namespace kernel::names
