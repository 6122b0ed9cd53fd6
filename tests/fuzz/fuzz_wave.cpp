// WaveFile::init_reader and reading over arbitrary files, and WaveFmt::decode
// over arbitrary bodies.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "audio/codec/wave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WaveFmt f;
  f.decode(data, static_cast<int>(size > 64 ? 64 : size));
  uint8_t back[18];
  f.encode(back, 18);

  const int fd = memfd_create("wave", 0);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  char name[64];
  std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  WaveFile w;
  if (w.open(name, 1) == 0) {
    uint8_t buf[4608];
    for (int i = 0; i < 64 && w.read(buf, sizeof buf) > 0; ++i) {
    }
    w.goto_time(w.get_duration() / 2);
    w.get_time();
    w.read(buf, sizeof buf);
    w.goto_time(1e9);
    w.is_eof();
  }
  w.close();
  close(fd);
  return 0;
}
