#include "foundation/utils.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "foundation/bsfile.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/video_info.h"

void utils_strip_spaces(char* out, char* text) {
  if (!out) return;
  if (!text) {
    *out = 0;
    return;
  }
  char* end = text + std::strlen(text);
  while (end > text && std::isspace(static_cast<unsigned char>(end[-1]))) *--end = 0;
  char* begin = text;
  while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
  const size_t n = static_cast<size_t>(end - begin);
  std::memmove(out, begin, n);
  out[n] = 0;
}

int64_t utils_next_start_code(const uint8_t* bytes, int64_t length, int* code) {
  if (!code) return 0;
  *code = 0;
  if (!bytes || length < 4) return 0;
  StartCodeCursor c(bytes, length);
  if (!c.next()) return length - 3;
  *code = 0x100 + c.code();
  return c.offset();
}

int64_t utils_next_usr_start_code(uint32_t code, const uint8_t* bytes, int64_t length, uint32_t* out_code) {
  if (out_code) *out_code = 0;
  if (!bytes || length < 4) return 0;
  if ((code >> 8) == 1) {
    StartCodeCursor c(bytes, length);
    if (!c.find(static_cast<int>(code & 0xFF))) return length;
    if (out_code) *out_code = code;
    return c.offset();
  }
  // Any other 32-bit word: no prefix to skip to.
  const uint8_t needle[4] = {static_cast<uint8_t>(code >> 24), static_cast<uint8_t>(code >> 16),
                             static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
  const void* hit = memmem(bytes, static_cast<size_t>(length), needle, 4);
  if (!hit) return length;
  if (out_code) *out_code = code;
  return static_cast<const uint8_t*>(hit) - bytes;
}

int64_t utils_get_file_size(const char* name) {
  if (!name) return 0;
  FILE* f = std::fopen(name, "rb");
  if (!f) return 0;
  int64_t size = 0;
  if (fseeko(f, 0, SEEK_END) == 0) {
    const off_t at = ftello(f);
    if (at > 0) size = at;
  }
  std::fclose(f);
  return size;
}

int utils_write_sequence_end_code(FILE* stream) {
  if (!stream) return 0;
  static const uint8_t kEnd[4] = {0x00, 0x00, 0x01, 0xB7};
  return static_cast<int>(std::fwrite(kEnd, 1, 4, stream));
}

int utils_count_pictures(const uint8_t* bytes, int64_t length) {
  StartCodeCursor c(bytes, length);
  int count = 0;
  while (c.find(0x00)) ++count;
  return count;
}

int64_t utils_find_ts_sync(const uint8_t* bytes, int64_t length, int packets, int whole) {
  constexpr int64_t kPacket = 188;
  if (!bytes || packets < 1) return -1;
  int64_t n = packets;
  if (length < (n + 1) * kPacket) {
    n = (length - kPacket) / kPacket;
    if (n < 1) return -1;
  }
  const int64_t candidates = whole ? length - n * kPacket : kPacket;
  for (int64_t c = 0; c < candidates; ++c) {
    // most bytes of a file that is no transport stream are no sync byte
    const void* s = std::memchr(bytes + c, 0x47, static_cast<size_t>(candidates - c));
    if (!s) break;
    c = static_cast<const uint8_t*>(s) - bytes;
    int64_t k = 1;
    while (k < n && bytes[c + k * kPacket] == 0x47) ++k;
    if (k == n) return c;
  }
  return -1;
}

int pes_header_length(const uint8_t* bytes, int64_t length) {
  if (!bytes || length < 9) return 0;
  const int id = start_code_at(bytes, length, 0);
  if (id < 0xBC) return 0;
  if ((bytes[6] & 0xC0) != 0x80) return 0;
  switch (id) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
      return 6;
    default:
      return 9 + bytes[8];
  }
}

int utils_same_video_info(const VideoInfo& a, const VideoInfo& b) {
  if (a.video_type != b.video_type || a.mpeg2 != b.mpeg2 || a.width != b.width || a.height != b.height ||
      a.chroma_format != b.chroma_format || a.aspect_ratio_information != b.aspect_ratio_information)
    return 1;
  return std::fabs(a.frame_rate - b.frame_rate) >= 0.0001 ? 1 : 0;
}

const char* utils_get_extension(const char* name) {
  if (!name) return nullptr;
  const char* slash = std::strrchr(name, '/');
  const char* dot = std::strrchr(slash ? slash + 1 : name, '.');
  return dot && dot[1] ? dot + 1 : nullptr;
}

int utils_has_extension(const char* name, const char* extension) {
  const char* ext = utils_get_extension(name);
  if (!ext || !extension) return 0;
  if (*extension == '.') ++extension;
  return utils_compare_no_case(ext, extension) == 0 ? 1 : 0;
}

int utils_compare_no_case(const char* a, const char* b) {
  if (!a) a = "";
  if (!b) b = "";
  return strcasecmp(a, b) == 0 ? 0 : 1;
}

namespace utils {
char* replace_string(const char* source, char* target) {
  if (!source) return target;
  const size_t n = std::strlen(source);
  if (target && std::strlen(target) >= n) {
    std::memmove(target, source, n + 1);
    return target;
  }
  char* copy = static_cast<char*>(std::malloc(n + 1));
  if (!copy) return target;
  std::memcpy(copy, source, n + 1);
  std::free(target);
  return copy;
}
}  // namespace utils

int utils_get_full_pathname(const char* name, char* out, size_t capacity) {
  if (!name || !*name || !out) return 0;
  std::string full;
  if (name[0] == '/') {
    full = name;
  } else {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(name, ec);
    if (ec) return 0;
    full = p.lexically_normal().string();
    const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ::close(fd);
  }
  if (full.size() + 1 > capacity) {
    trace("utils_get_full_pathname (ERROR): path of %zu characters does not fit in %zu <%s>\n", full.size(),
          capacity, name);
    return 0;
  }
  std::memcpy(out, full.c_str(), full.size() + 1);
  return 1;
}

FileOffset utils_get_file_size64(const char* name) {
  int err = 0;
  BSFile f(name, 1, &err);
  return err ? FileOffset() : f.size();
}

int64_t utils_get_file_time(const char* name) {
  struct stat st;
  if (!name || ::stat(name, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

int utils_delete_file(const char* name) { return name && ::unlink(name) == 0 ? 1 : 0; }

std::string utils_get_date_string() {
  const std::time_t now = std::time(nullptr);
  std::tm tm {};
  localtime_r(&now, &tm);
  char buf[64];
  return asctime_r(&tm, buf) ? std::string(buf) : std::string();
}
