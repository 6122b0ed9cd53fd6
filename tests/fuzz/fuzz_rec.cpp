// Save-project reader over arbitrary text: a clean refusal or records that
// are all usable clips.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/clips/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader takes a file name: one scratch file, removed at exit.
  struct Scratch {
    std::string path;
    Scratch() {
      char tmpl[] = "/tmp/fuzz_rec-XXXXXX";
      const int fd = mkstemp(tmpl);
      if (fd >= 0) close(fd);
      path = tmpl;
    }
    ~Scratch() { unlink(path.c_str()); }
  };
  static const Scratch scratch;
  FILE* f = std::fopen(scratch.path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  EditorRecordData r;
  const int res = r.load(scratch.path.c_str());
  if (res != 0 && res != 2) __builtin_trap();
  for (const Clip& c : r.project.clips)
    if (c.clip_type < 1 || c.clip_type > 14 || c.count < 1) __builtin_trap();
  return 0;
}
