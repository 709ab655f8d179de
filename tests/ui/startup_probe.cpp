// A program that carries a broken window definition in its resources: starting the runtime must stop
// it, naming the definition, before any window is opened.
#include <cstdio>

#include "ui/runtime.h"

int main() {
  if (!ui::start()) return 2;
  std::puts("started with a broken definition");
  return 0;
}
