/* A plain C program using the library as the frame program does: it downloads the default list from
 * a server's remote directory into a local one, uploads it back into another remote directory, and
 * checks what the library leaves behind after each batch.
 *
 * Usage: c_program SERVER USER PASSWORD REMOTE LOCAL BACK; exit code 0 when all went as it should. */
#include <stdio.h>

#include "nimbo.h"

static int leftClean(const char* what) {
  if (hOpen != 0 || hConnection != 0) {
    fprintf(stderr, "%s: handles left open (%u, %u)\n", what, (unsigned)hOpen, (unsigned)hConnection);
    return 0;
  }
  if (GlobalResponse != 2) {
    fprintf(stderr, "%s: GlobalResponse is %d\n", what, (int)GlobalResponse);
    return 0;
  }
  if (NullString[0] != '\0') {
    fprintf(stderr, "%s: NullString is not empty\n", what);
    return 0;
  }
  return 1;
}

int main(int argc, char** argv) {
  /* The parameters window's fields: fixed widths, blank-padded. */
  char list[512];
  if (argc != 7) {
    fprintf(stderr, "usage: %s SERVER USER PASSWORD REMOTE LOCAL BACK\n", argv[0]);
    return 2;
  }
  snprintf(list, sizeof list, "%-511s", "FTPClient.txt, !how to upload.txt,garbage,Quillmere.zip");
  UPLDNL_AS(argv[1], argv[2], argv[3], argv[4], argv[5], list, 1, 1);
  if (!leftClean("download")) return 1;
  UPLDNL_AS(argv[1], argv[2], argv[3], argv[6], argv[5], list, 0, 0);
  if (!leftClean("upload")) return 1;
  puts("ok");
  return 0;
}
