#include "devtool/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>

#include "devtool/command.h"
#include "foundation/mpeg_fields.h"
#include "foundation/probe.h"

namespace {

// Stills and movies are told by their first bytes; the MPEG probe does not
// know them.
InputKind magic_kind(const uint8_t* m, size_t n) {
  if (n >= 2 && m[0] == 'B' && m[1] == 'M') return InputKind::bmp;
  if (n >= 2 && m[0] == 0xFF && m[1] == 0xD8) return InputKind::jpeg;
  if (n >= 12 && !std::memcmp(m, "RIFF", 4) && !std::memcmp(m + 8, "AVI ", 4)) return InputKind::avi;
  if (n >= 8) {
    for (const char* atom : {"ftyp", "moov", "mdat", "wide", "free", "skip"})
      if (!std::memcmp(m + 4, atom, 4)) return InputKind::quicktime;
  }
  return InputKind::unknown;
}

InputKind kind_of_stream_type(int type) {
  switch (type) {
    case STREAM_TYPE_MPEG1_AUDIO:
    case STREAM_TYPE_MPEG2_AUDIO:
      return InputKind::mpeg_audio;
    case STREAM_TYPE_AC3_AUDIO:
      return InputKind::ac3;
    case STREAM_TYPE_MPEG1_VIDEO:
    case STREAM_TYPE_MPEG2_VIDEO:
      return InputKind::video;
    case STREAM_TYPE_MPEG1_SYSTEM:
    case STREAM_TYPE_MPEG1_VCD:
    case STREAM_TYPE_MPEG2_PROGRAM:
    case STREAM_TYPE_MPEG2_SVCD:
      return InputKind::program;
    case STREAM_TYPE_MPEG2_TRANSPORT:
      return InputKind::transport;
    default:
      return InputKind::unknown;
  }
}

// Opens path for reading the way the readers will; -1 with errno set when
// it cannot be read. A folder opens, so it is refused here by its cause.
int open_checked(const char* path, struct stat* st) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, st) != 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  if (S_ISDIR(st->st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

// What the first bytes alone tell: an empty file, or a still or movie by
// its magic; unknown leaves it to the MPEG probes.
void classify(const uint8_t* head, size_t n, DevInput* in) {
  if (n == 0) {
    in->kind = InputKind::empty;
    return;
  }
  in->kind = magic_kind(head, n);
}

}  // namespace

const char* dev_kind_text(const DevInput& in) {
  switch (in.kind) {
    case InputKind::empty: return "an empty file";
    case InputKind::mpeg_audio: return "an MPEG audio elementary stream";
    case InputKind::ac3: return "an AC-3 elementary stream";
    case InputKind::video:
      return in.stream_type == STREAM_TYPE_MPEG1_VIDEO ? "an MPEG-1 video elementary stream"
                                                       : "an MPEG-2 video elementary stream";
    case InputKind::program:
      switch (in.stream_type) {
        case STREAM_TYPE_MPEG1_SYSTEM: return "an MPEG-1 system stream (a program stream)";
        case STREAM_TYPE_MPEG1_VCD: return "a Video CD program stream";
        case STREAM_TYPE_MPEG2_SVCD: return "a Super Video CD program stream";
        default: return "an MPEG-2 program stream";
      }
    case InputKind::transport: return "an MPEG-2 transport stream";
    case InputKind::bmp: return "a BMP picture";
    case InputKind::jpeg: return "a JPEG picture";
    case InputKind::quicktime: return "a QuickTime movie";
    case InputKind::avi: return "an AVI file";
    case InputKind::unknown: break;
  }
  return "a file of unknown kind";
}

int dev_input_readable(const char* path, uint64_t* size) {
  struct stat st;
  const int fd = open_checked(path, &st);
  if (fd < 0) return dev_fail("<%s>: %s", path, std::strerror(errno));
  ::close(fd);
  if (size) *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

bool dev_input(const char* path, DevInput* in) {
  *in = DevInput();
  struct stat st;
  const int fd = open_checked(path, &st);
  if (fd < 0) {
    dev_fail("<%s>: %s", path, std::strerror(errno));
    return false;
  }
  in->size = static_cast<uint64_t>(st.st_size);
  uint8_t head[12] = {};
  const ssize_t got = ::pread(fd, head, sizeof head, 0);
  ::close(fd);
  if (got < 0) {
    dev_fail("<%s>: %s", path, std::strerror(errno));
    return false;
  }
  classify(head, static_cast<size_t>(got), in);
  if (in->kind != InputKind::unknown) return true;
  if (auto rec = MPEGFileList::instance().find(path)) {
    in->stream_type = rec->stream_type;
    in->kind = kind_of_stream_type(rec->stream_type);
  }
  return true;
}

DevInput dev_input_of_bytes(const uint8_t* data, uint64_t size) {
  DevInput in;
  in.size = size;
  classify(data, static_cast<size_t>(std::min<uint64_t>(size, 12)), &in);
  if (in.kind != InputKind::unknown) return in;
  MPEGFile probe;
  if (!probe.detect_type(data, static_cast<int>(std::min<uint64_t>(size, kProbeBytes)))) {
    in.stream_type = probe.stream_type;
    in.kind = kind_of_stream_type(probe.stream_type);
  }
  return in;
}

int dev_input_of(const char* path, std::initializer_list<InputKind> accepted, const char* wanted, bool unknown_ok,
                 DevInput* out) {
  DevInput in;
  if (!dev_input(path, &in)) return 1;
  if (out) *out = in;
  return dev_refuse_kind(path, in, accepted, wanted, unknown_ok);
}

int dev_refuse_kind(const char* path, const DevInput& in, std::initializer_list<InputKind> accepted,
                    const char* wanted, bool unknown_ok) {
  if (unknown_ok && in.kind == InputKind::unknown) return 0;
  for (InputKind k : accepted)
    if (k == in.kind) return 0;
  // Commands over elementary streams will read these once the program and
  // transport demultiplexers exist.
  bool reads_streams = false;
  for (InputKind k : accepted)
    reads_streams |= k == InputKind::video || k == InputKind::mpeg_audio || k == InputKind::ac3;
  if (reads_streams && (in.kind == InputKind::program || in.kind == InputKind::transport))
    return dev_fail("<%s>: not %s: it is %s (%s streams are not supported yet)", path, wanted, dev_kind_text(in),
                    in.kind == InputKind::program ? "program" : "transport");
  return dev_fail("<%s>: not %s: it is %s", path, wanted, dev_kind_text(in));
}

FILE* dev_open_output(const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (!f) dev_fail("<%s>: cannot open to write: %s", path, std::strerror(errno));
  return f;
}

bool dev_same_file(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int dev_check_range(const char* what, long long n, long long count) {
  if (n >= 0 && n < count) return 0;
  if (count <= 0) return dev_fail("%s %lld: the file has none", what, n);
  return dev_fail("%s %lld outside 0..%lld", what, n, count - 1);
}
