/* A plain C program that downloads a list of files in one batch, as a program would that a user or a
 * session may stop (SIGTERM) and start again.
 *
 * Usage: download_program SERVER USER PASSWORD REMOTE LOCAL LIST; exit code 0 once the batch is done. */
#include "nimbo.h"

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  UPLDNL_AS(argv[1], argv[2], argv[3], argv[4], argv[5], argv[6], 1, 1);
  return 0;
}
