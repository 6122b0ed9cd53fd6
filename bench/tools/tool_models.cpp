// The stream tool windows' rules driven without a window, for
// bench/tools.sh: one conversion, demultiplexing or multiplexing through
// the model and its job, polled as the window's timer would (10 ms here,
// so the poll adds no measurable wait), then the outcome.
//   bench_tool_models convert IN OUT FORMAT        (1 MPEG-1 .. 4 transport)
//   bench_tool_models demux IN VIDEO_OUT AUDIO_OUT
//   bench_tool_models mux VIDEO AUDIO OUT FORMAT
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/tools/demultiplexer.h"
#include "app/tools/multiplexer.h"
#include "app/tools/stream_convertor.h"

namespace {

template <class Model>
int finish(Model& m, bool started) {
  if (!started) {
    std::fprintf(stderr, "the job did not start\n");
    return 1;
  }
  while (m.busy()) {
    m.job().poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const bool done = m.last_outcome() == JobOutcome::done;
  std::printf("outcome=%s\n", done ? "done" : "failed");
  return done ? 0 : 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: bench_tool_models convert IN OUT FORMAT | demux IN VIDEO_OUT AUDIO_OUT | "
               "mux VIDEO AUDIO OUT FORMAT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string what = argv[1];
  if (what == "convert" && argc == 5) {
    StreamConvertor c;
    if (!c.load(argv[2]) || !c.add_all()) return 1;
    c.set_format(std::atoi(argv[4]));
    if (!c.choose_output(argv[3])) return 1;
    return finish(c, c.convert());
  }
  if (what == "demux" && argc == 5) {
    Demultiplexer d;
    if (!d.load(argv[2]) || !d.set_video_output(argv[3]) || !d.set_audio_output(argv[4])) return 1;
    return finish(d, d.save());
  }
  if (what == "mux" && argc == 6) {
    Multiplexer m;
    if (!m.add_video(argv[2]) || !m.add_audio(argv[3])) return 1;
    m.set_format(std::atoi(argv[5]));
    if (!m.set_output(argv[4])) return 1;
    return finish(m, m.save());
  }
  return usage();
}
