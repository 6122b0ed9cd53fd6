// tsscan FILE [--stop-at PERCENT]: where the system clock starts again and
// where the video and audio parameters change:
//   timebase index=N start=N end=N clock_start=N clock_end=N
//   video index=N start=N end=N width=N height=N frame_rate=R bit_rate=N
//   audio index=N start=N end=N type=N rate=N channels=N bit_rate=N
//   tsscan changes=N status=finished|stopped progress=P
#include <cstdio>
#include <cstdlib>
#include <string>

#include "demux/timestamp_scan.h"
#include "devtool/command.h"
#include "devtool/input.h"

namespace {

int run_tsscan(int argc, char** argv) {
  if (argc != 2 && argc != 4) return dev_bad_count("tsscan", argc);
  const char* name = argv[1];
  double stop_at = 101.0;
  if (argc == 4) {
    if (std::string(argv[2]) != "--stop-at") return dev_usage("tsscan", "unknown option '%s'", argv[2]);
    char* end = nullptr;
    stop_at = std::strtod(argv[3], &end);
    if (!end || *end || stop_at < 0.0) return dev_usage("tsscan", "bad percent '%s'", argv[3]);
  }
  if (dev_input_of(name, {InputKind::video, InputKind::program, InputKind::transport, InputKind::mpeg_audio,
                          InputKind::ac3},
                   "an MPEG stream", false))
    return 1;
  TimeStampScan scan;
  if (scan.open(name)) return dev_fail("<%s>: cannot be read as an MPEG stream", name);
  JobControl control;
  control.set_progress_callback([&control, stop_at](double percent) {
    if (!control.finished() && percent >= stop_at) control.stop(true);
  });
  const int changes = scan.scan(&control);
  const TimeStampEntry* e = nullptr;
  int n = scan.get_list(TimeStampEntry::kTimeBase, &e);
  for (int i = 0; i < n; ++i)
    std::printf("timebase index=%d start=%.0f end=%.0f clock_start=%.0f clock_end=%.0f\n", i, e[i].start, e[i].end,
                e[i].clock_start, e[i].clock_end);
  n = scan.get_list(TimeStampEntry::kVideo, &e);
  for (int i = 0; i < n; ++i)
    std::printf("video index=%d start=%.0f end=%.0f width=%d height=%d frame_rate=%.6f bit_rate=%d\n", i, e[i].start,
                e[i].end, e[i].video.width, e[i].video.height, e[i].video.frame_rate, e[i].video.bit_rate);
  n = scan.get_list(TimeStampEntry::kAudio, &e);
  for (int i = 0; i < n; ++i)
    std::printf("audio index=%d start=%.0f end=%.0f type=%d rate=%d channels=%d bit_rate=%d\n", i, e[i].start,
                e[i].end, e[i].audio.get_audio_type(), e[i].audio.sample_rate, e[i].audio.channels,
                e[i].audio.bit_rate);
  std::printf("tsscan changes=%d status=%s progress=%.1f\n", changes, scan.done() ? "finished" : "stopped",
              control.progress());
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(tsscan, "FILE [--stop-at PERCENT]",
                   "lists where the system clock starts again and where video or audio parameters change", run_tsscan);
