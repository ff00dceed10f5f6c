/* SPDX-License-Identifier: MIT */
/* The floor for the command-line benchmark: the least C program that reads
   lines with fgets, converts Fahrenheit to Celsius with strtod and prints
   "%.15g" through stdio's full buffering. Not exact: binary doubles. */
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  static char out[1 << 16];
  setvbuf(stdout, out, _IOFBF, sizeof out);
  char line[256];
  while (fgets(line, sizeof line, stdin) != NULL) printf("%.15g\n", (strtod(line, NULL) - 32) * 5 / 9);
  return 0;
}
