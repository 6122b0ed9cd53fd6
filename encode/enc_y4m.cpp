#include "encode/enc_y4m.h"

#include <cstdlib>
#include <cstring>

#include "foundation/trace.h"

namespace {

bool parse_int(const char* s, const char* end, long* out, const char** stop) {
  long v = 0;
  const char* p = s;
  while (p < end && *p >= '0' && *p <= '9' && v < 100000000) v = v * 10 + (*p++ - '0');
  if (p == s) return false;
  *out = v;
  *stop = p;
  return true;
}

}  // namespace

bool y4m_parse_header(const uint8_t* data, size_t length, Y4mHeader* out) {
  static const char kMagic[] = "YUV4MPEG2 ";
  const size_t magic = sizeof kMagic - 1;
  const size_t scan = length < 4096 ? length : 4096;
  const void* nl = data ? std::memchr(data, '\n', scan) : nullptr;
  if (!data || length < magic || std::memcmp(data, kMagic, magic) != 0 || !nl) {
    trace("y4m_parse_header (ERROR): not a YUV4MPEG2 stream header\n");
    return false;
  }
  Y4mHeader h;
  const char* p = reinterpret_cast<const char*>(data) + magic;
  const char* end = static_cast<const char*>(nl);
  h.header_bytes = static_cast<size_t>(end - reinterpret_cast<const char*>(data)) + 1;
  while (p < end) {
    while (p < end && *p == ' ') ++p;
    if (p >= end) break;
    const char tag = *p++;
    const char* tok_end = p;
    while (tok_end < end && *tok_end != ' ') ++tok_end;
    long a = 0, b = 0;
    const char* stop = nullptr;
    switch (tag) {
      case 'W':
        if (!parse_int(p, tok_end, &a, &stop) || stop != tok_end) goto bad;
        h.width = static_cast<int>(a);
        break;
      case 'H':
        if (!parse_int(p, tok_end, &a, &stop) || stop != tok_end) goto bad;
        h.height = static_cast<int>(a);
        break;
      case 'F':
        if (!parse_int(p, tok_end, &a, &stop) || stop >= tok_end || *stop != ':' ||
            !parse_int(stop + 1, tok_end, &b, &stop) || stop != tok_end || !a || !b)
          goto bad;
        h.rate_num = static_cast<int>(a);
        h.rate_den = static_cast<int>(b);
        break;
      case 'I':
        if (tok_end - p != 1 || !std::strchr("ptbm", *p)) goto bad;
        h.interlace = *p;
        break;
      case 'C': {
        const std::string c(p, tok_end);
        if (c == "420" || c == "420jpeg" || c == "420mpeg2" || c == "420paldv") h.chroma_format = 1;
        else if (c == "422") h.chroma_format = 2;
        else {
          trace("y4m_parse_header (ERROR): chroma %s not supported\n", c.c_str());
          return false;
        }
        break;
      }
      default:
        break;  // aspect, colour range and comments do not matter here
    }
    p = tok_end;
  }
  if (h.width < 1 || h.height < 1 || h.width > 4096 || h.height > 4096) {
    trace("y4m_parse_header (ERROR): bad picture size %dx%d\n", h.width, h.height);
    return false;
  }
  *out = h;
  return true;
bad:
  trace("y4m_parse_header (ERROR): bad header field\n");
  return false;
}

size_t y4m_frame_line(const uint8_t* data, size_t length) {
  if (!data || length < 6 || std::memcmp(data, "FRAME", 5) != 0) return 0;
  const size_t scan = length < 1024 ? length : 1024;
  const void* nl = std::memchr(data, '\n', scan);
  return nl ? static_cast<size_t>(static_cast<const uint8_t*>(nl) - data) + 1 : 0;
}
