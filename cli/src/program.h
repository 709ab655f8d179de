// nimbo-batch as a whole: the command line checked, the login found, the batch run offscreen, a line
// printed for each file as the batch's report tells of it, and the exit code (0 every file moved, 1 any
// not, 2 a usage error).
#pragma once

namespace cli {

int runProgram(int argc, char** argv);

// Overwrites, in the process's own argument memory, every password an argument carries (a URL's, a
// --password option's, or the argument after a bare --password), so that it is gone from the process
// listing at once, before it is refused.
void wipePasswords(int argc, char** argv);

}  // namespace cli
