// alist FILE [--id ID] [--pid PID] [--seek SECONDS...] [--frames OUT]: the
// audio access-unit list of one audio stream, a seek line per asked time and,
// with --frames, every frame handed out from the start written to OUT.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/dalist.h"
#include "devtool/command.h"

namespace {

bool seconds_of(const char* text, double* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (end == text || *end || errno || !(v >= 0.0) || v > 1e9) return false;
  *out = v;
  return true;
}

}  // namespace

static int run_alist(int argc, char** argv) {
  const char* file = nullptr;
  const char* frames_out = nullptr;
  long long id = 0, pid = 0;
  std::vector<double> seeks;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--id") || !std::strcmp(a, "--pid")) {
      long long* v = a[2] == 'i' ? &id : &pid;
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], v) || *v < 0 || *v > 0x1FFF)
        return dev_usage("alist", "%s takes a number", a);
      ++i;
    } else if (!std::strcmp(a, "--frames")) {
      if (i + 1 >= argc) return dev_usage("alist", "--frames takes a file name");
      frames_out = argv[++i];
    } else if (!std::strcmp(a, "--seek")) {
      double s = 0;
      if (i + 1 >= argc || !seconds_of(argv[i + 1], &s)) return dev_usage("alist", "--seek takes seconds");
      seeks.push_back(s);
      ++i;
      while (i + 1 < argc && seconds_of(argv[i + 1], &s)) {
        seeks.push_back(s);
        ++i;
      }
    } else if (a[0] == '-' && a[1]) {
      return dev_usage("alist", "unknown option %s", a);
    } else if (!file) {
      file = a;
    } else {
      return dev_usage("alist", "one FILE only");
    }
  }
  if (!file) return dev_usage("alist", "FILE is missing");
  DAList list;
  if (list.init(file, int(id), int(pid)) != 0) return dev_fail("<%s>: no audio stream to list", file);
  int sel_pid = 0;
  const int sel = list.get_stream_id(&sel_pid);
  const char* kind = list.is_ac3() ? "ac3" : list.is_lpcm() ? "lpcm" : "mpeg";
  std::printf("alist kind=%s id=%d pid=%d layer=%d sample_rate=%d channels=%d bit_rate=%d frame_period=%.6f "
              "length=%.6f\n",
              kind, sel, sel_pid, list.get_layer(), list.get_sample_rate(), list.get_channels(), list.get_bit_rate(),
              list.get_frame_period(), list.get_length());
  for (double s : seeks) {
    const double reached = list.goto_time(s);
    std::printf("seek want=%.6f reached=%.6f\n", s, reached);
  }
  if (frames_out) {
    FILE* f = std::fopen(frames_out, "wb");
    if (!f) return dev_fail("<%s>: cannot create", frames_out);
    list.goto_time(0.0);
    std::vector<uint8_t> buf(65536);
    long long count = 0, bytes = 0;
    bool ok = true;
    for (;;) {
      const int n = list.next_frame(buf.data(), int(buf.size()));
      if (n <= 0) break;
      ok = ok && std::fwrite(buf.data(), 1, size_t(n), f) == size_t(n);
      ++count;
      bytes += n;
    }
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) return dev_fail("<%s>: write failed", frames_out);
    std::printf("frames count=%lld bytes=%lld\n", count, bytes);
  }
  return 0;
}

TAMSEL_DEV_COMMAND(alist, "FILE [--id ID] [--pid PID] [--seek SECONDS...] [--frames OUT]",
                   "the audio access-unit list of a stream: facts, seeks and its frames", run_alist);
