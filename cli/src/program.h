// nimbo-batch as a whole: the command line checked, the login found, the batch run offscreen, a line
// printed for each file as the batch's report tells of it, and the exit code (0 every file moved, 1 any
// not, 2 a usage error).
#pragma once

namespace cli {

int runProgram(int argc, char** argv);

}  // namespace cli
