// Bitmap reader: load from a file, header from memory, conversion to 4:2:0.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "picture/bmp.h"
#include "formats/still_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader takes a file name: one scratch file, removed at exit.
  struct Scratch {
    std::string path;
    Scratch() {
      char tmpl[] = "/tmp/fuzz_bmp-XXXXXX";
      const int fd = mkstemp(tmpl);
      if (fd >= 0) close(fd);
      path = tmpl;
    }
    ~Scratch() { unlink(path.c_str()); }
  };
  static const Scratch scratch;
  const std::string& path = scratch.path;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  StillPicture pic;
  if (load_still_picture(path.c_str(), &pic)) {
    // Touch every sample so the sanitizer sees the whole buffer.
    volatile uint32_t sum = 0;
    for (uint8_t v : pic.yuv) sum = sum + v;
  }
  if (size > 14) {
    BMP bmp;
    bmp.read_dib_header(data + 14, size - 14);
  }
  return 0;
}
