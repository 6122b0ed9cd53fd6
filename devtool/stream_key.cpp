#include "devtool/stream_key.h"

#include <cstdlib>
#include <cstring>

#include "devtool/command.h"

bool dev_parse_stream_key(const char* text, int* id, int* pid) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const long i = std::strtol(text, &end, 0);
  if (end == text || i < 0 || i > 0xFF) return false;
  long p = 0;
  if (*end == ':') {
    const char* q = end + 1;
    p = std::strtol(q, &end, 0);
    if (end == q || p < 0 || p > 0x1FFF) return false;
  }
  if (*end) return false;
  *id = int(i);
  *pid = int(p);
  return true;
}

int dev_take_stream_option(const char* name, int* argc, char** argv, int* id, int* pid) {
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], "--stream") != 0) continue;
    if (i + 1 >= *argc) return dev_usage(name, "--stream needs ID[:PID]");
    if (!dev_parse_stream_key(argv[i + 1], id, pid)) return dev_usage(name, "'%s' is not ID[:PID]", argv[i + 1]);
    for (int k = i; k + 2 < *argc; ++k) argv[k] = argv[k + 2];
    *argc -= 2;
    argv[*argc] = nullptr;
    return 0;
  }
  return 0;
}
