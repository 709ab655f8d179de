// nimbo-batch: the library's batch transfer from the command line, for scripts and cron.
#include "program.h"

int main(int argc, char** argv) { return cli::runProgram(argc, argv); }
