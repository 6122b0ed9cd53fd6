#include "devtool/stream_option.h"

#include <sys/stat.h>

#include <cstring>

#include "devtool/command.h"
#include "record/es.h"

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

int dev_output_kind(const std::string& k, int* svcd, int* dvd) {
  if (k == "es") return MUX_MPEG2_VIDEO_ES;
  if (k == "mpeg1") return MUX_MPEG1_SYSTEM;
  if (k == "vcd") return MUX_VCD;
  if (k == "ps") return MUX_MPEG2_PROGRAM;
  if (k == "svcd") return *svcd = 1, MUX_MPEG2_PROGRAM;
  if (k == "dvd") return *dvd = 1, MUX_MPEG2_PROGRAM;
  if (k == "ts") return MUX_TRANSPORT;
  return -1;
}
