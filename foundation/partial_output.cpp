#include "foundation/partial_output.h"

#include <sys/stat.h>

#include <cstdio>

int utils_remove_partial_output(const char* name) {
  struct stat st;
  if (!name || lstat(name, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return std::remove(name) == 0 ? 1 : 0;
}
