// The data types used the way the engine and the batch use them, in a program that links no Qt:
// a guarded server name, a queue of records sorted and searched by a text key.
#include <cstdio>

#include "ui/guarded.h"
#include "ui/queue.h"
#include "ui/text.h"

#if defined(QT_VERSION)
#error "the data types reach Qt"
#endif

namespace {
struct Record {
  ui::ZText<20> NAME;
  ui::PText<8> SIZESTR;
  int SIZE = 0;
};
}  // namespace

int main() {
  ui::Guarded<ui::ZText<8>> server;
  server = std::string_view("ftp.example.org");
  ui::Queue<Record> files;
  files.add({"b", "2", 2});
  files.add({"a", "1", 1});
  files.sort(ui::by(&Record::NAME));
  Record found;
  const bool ok = server.get() == "ftp.exa" &&
                  files.getByKey({"b", "", 0}, ui::by(&Record::NAME), found) == 2 && found.SIZESTR == "2" &&
                  found.SIZE == 2;
  if (!ok) std::fputs("the data types misbehave without the runtime\n", stderr);
  return ok ? 0 : 1;
}
