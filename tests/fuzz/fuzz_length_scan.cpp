// Opening a stream of arbitrary bytes: probe, length scan (first and last
// GOP, time-code check, DVD field repair) and a walk over the GOP index,
// through a file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "demux/goplist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  // One scratch folder per process, removed at exit.
  struct Scratch {
    std::string dir;
    Scratch() {
      char tmpl[] = "/tmp/fuzz_length_scanXXXXXX";
      const char* d = mkdtemp(tmpl);
      dir = d ? d : "";
    }
    ~Scratch() {
      if (!dir.empty()) rmdir(dir.c_str());
    }
  };
  static const Scratch scratch;
  if (scratch.dir.empty()) return 0;
  const std::string& dir = scratch.dir;
  static int counter = 0;
  // A new name each run: the process-wide caches key on the name. Every
  // second one is named as a DVD file, whose index repairs field numbers.
  const int run = counter++;
  const std::string path = dir + "/in" + std::to_string(run) + (run % 2 ? ".vob" : ".mpg");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  if (DeMuxer* d = demuxer_create(path.c_str(), 0)) {
    d->get_total_length();
    ESBuffer span(4096);
    d->load_abs(&span, 0, 0);
    delete d;
  }
  {
    GOPList list(path.c_str());
    if (list.is_open() && list.build_index() == 0) {
      GOP g;
      int n = 0;
      for (int p = list.get_first_gop(&g, 1); p > 0 && n < 10000; p = list.next_gop(&g, 1)) ++n;
      list.get_total_frames();
      list.get_gop(n / 2, &g, 1, 1);
    }
  }
  DeMuxerCache::instance().clear();
  std::remove(path.c_str());
  return 0;
}
