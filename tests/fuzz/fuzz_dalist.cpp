// Audio access-unit lists over arbitrary bytes: open, walk every frame,
// seek, switch streams and walk again, through a file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/dalist.h"
#include "demux/demuxer_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  struct Scratch {
    std::string dir;
    Scratch() {
      char tmpl[] = "/tmp/fuzz_dalistXXXXXX";
      const char* d = mkdtemp(tmpl);
      dir = d ? d : "";
    }
    ~Scratch() {
      if (!dir.empty()) rmdir(dir.c_str());
    }
  };
  static const Scratch scratch;
  if (scratch.dir.empty()) return 0;
  static int counter = 0;
  // A new name each run: the caches key on the name.
  const std::string path = scratch.dir + "/in" + std::to_string(counter++) + ".mpg";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  {
    DAList list;
    if (list.init(path.c_str(), 0, 0) == 0) {
      std::vector<uint8_t> buf(65536);
      int frames = 0;
      while (list.next_frame(buf.data(), int(buf.size())) > 0 && ++frames < 100000) {
      }
      list.goto_time(list.get_length() / 2);
      list.next_frame(buf.data(), int(buf.size()));
      list.goto_time(0.3);
      list.read_frames(buf.data(), int(buf.size()));
      int ids[8], pids[8];
      const int n = list.get_stream_list(ids, pids, 8);
      if (n > 1) list.set_abs_id(ids[n - 1], pids[n - 1]);
      while (list.next_frame(buf.data(), int(buf.size())) > 0 && ++frames < 200000) {
      }
    }
  }
  DAListCache::instance().clear();
  DeMuxerCache::instance().clear();
  std::remove(path.c_str());
  return 0;
}
