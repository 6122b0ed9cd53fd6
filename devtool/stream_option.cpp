#include "devtool/stream_option.h"

#include <sys/stat.h>

#include <cstring>

#include "devtool/command.h"

bool dev_parse_stream(const char* text, int* id, int* pid) {
  if (!text) return false;
  std::string s(text);
  const size_t colon = s.find(':');
  long long a = 0, b = 0;
  if (!dev_parse_int(s.substr(0, colon).c_str(), &a) || a < 0 || a > 0xFF) return false;
  if (colon != std::string::npos && (!dev_parse_int(s.substr(colon + 1).c_str(), &b) || b < 0 || b > 0x1FFF))
    return false;
  *id = int(a);
  *pid = int(b);
  return true;
}

int dev_check_not_input(const char* out, const std::vector<std::string>& inputs) {
  struct stat so;
  if (stat(out, &so) != 0) return 0;
  for (const auto& in : inputs) {
    struct stat si;
    if (stat(in.c_str(), &si) == 0 && si.st_dev == so.st_dev && si.st_ino == so.st_ino)
      return dev_fail("<%s>: the output is the input <%s>", out, in.c_str());
  }
  return 0;
}

