// tarnwick's entry point. A termination request (SIGTERM from a session that ends, SIGINT from a
// terminal, SIGHUP) closes the program's windows one after the other, innermost first, as their close
// boxes would: a batch ends its transfer, the frame closes, the settings file is written, and the
// program exits 0.
#include "tarnwick/program.h"
#include "ui/termination.h"

int main() {
  ui::TerminationWatch watch(ui::currentThread());
  return tarnwick::run();
}
