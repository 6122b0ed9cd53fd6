// convert IN OUT --kind mpeg1|vcd|ps|ts [--only ID[:PID]]... [--pmt-pid N]
//   [--video-pid N] [--audio-pid N] [--stop CODE@PERCENT]
// Converts a system stream or a video elementary stream into another
// multiplex without touching a picture. Prints
//   stream id=0xNN pid=N kind=N start_pts=N selected=0|1   per source stream
//   estimate kind=N bytes=N                                for kinds 2, 4, 5, 6, 8
//   pid id=0xNN pid=N                                      per output stream (ts)
//   convert kind=N bytes_in=N bytes_out=N result=N status=done|stopped|failed
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devtool/command.h"
#include "devtool/stop_option.h"
#include "devtool/stream_key.h"
#include "mux/convertor.h"
#include "mux/mux_drivers.h"

namespace {

long long file_bytes(const char* name) {
  struct stat st;
  return stat(name, &st) == 0 ? (long long)st.st_size : 0;
}

bool parse_pid(const char* text, int* pid) {
  long long v = 0;
  if (!dev_parse_int(text, &v) || v < 0 || v > 8191) return false;
  *pid = int(v);
  return true;
}

}  // namespace

static int run_convert(int argc, char** argv) {
  std::vector<const char*> paths;
  struct Only {
    int id, pid;
  };
  std::vector<Only> only;
  int kind = 0, pmt_pid = -1, video_pid = -1, audio_pid = -1;
  bool stop = false;
  DevStopAt stop_at;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool has_value = i + 1 < argc;
    if (std::strcmp(a, "--kind") == 0) {
      if (!has_value) return dev_usage("convert", "--kind needs mpeg1|vcd|ps|ts");
      const char* k = argv[++i];
      kind = !std::strcmp(k, "mpeg1") ? 4 : !std::strcmp(k, "vcd") ? 5 : !std::strcmp(k, "ps") ? 6 : !std::strcmp(k, "ts") ? 8 : 0;
      if (!kind) return dev_usage("convert", "'%s' is not mpeg1, vcd, ps or ts", k);
    } else if (std::strcmp(a, "--only") == 0) {
      if (!has_value) return dev_usage("convert", "--only needs ID[:PID]");
      Only o{};
      if (!dev_parse_stream_key(argv[i + 1], &o.id, &o.pid))
        return dev_usage("convert", "'%s' is not ID[:PID]", argv[i + 1]);
      only.push_back(o);
      ++i;
    } else if (!std::strcmp(a, "--pmt-pid") || !std::strcmp(a, "--video-pid") || !std::strcmp(a, "--audio-pid")) {
      if (!has_value) return dev_usage("convert", "%s needs a PID", a);
      int* target = !std::strcmp(a, "--pmt-pid") ? &pmt_pid : !std::strcmp(a, "--video-pid") ? &video_pid : &audio_pid;
      if (!parse_pid(argv[i + 1], target)) return dev_usage("convert", "'%s' is not a PID", argv[i + 1]);
      ++i;
    } else if (std::strcmp(a, "--stop") == 0) {
      if (!has_value) return dev_usage("convert", "--stop needs CODE@PERCENT");
      if (!dev_parse_stop(argv[i + 1], &stop_at))
        return dev_usage("convert", "'%s' is not CODE@PERCENT", argv[i + 1]);
      stop = true;
      ++i;
    } else if (a[0] == '-' && a[1]) {
      return dev_usage("convert", "unknown option '%s'", a);
    } else {
      paths.push_back(a);
    }
  }
  if (paths.size() != 2) return dev_bad_count("convert", argc);
  if (!kind) return dev_usage("convert", "--kind is needed");
  const char* in = paths[0];
  const char* out = paths[1];

  Convertor conv;
  if (!conv.load(in)) return dev_fail("<%s>: not a system stream or video elementary stream", in);
  std::vector<int> kinds(64), ids(64), pids(64);
  const int n = conv.get_es_list(kinds.data(), ids.data(), pids.data(), 64);
  std::vector<uint8_t> matched(only.size(), 0);
  for (int i = 0; i < n; ++i) {
    bool wanted = only.empty();
    for (size_t k = 0; k < only.size(); ++k)
      if (only[k].id == ids[size_t(i)] && (only[k].pid == 0 || only[k].pid == pids[size_t(i)])) {
        wanted = true;
        matched[k] = 1;
      }
    if (wanted) conv.select_stream(ids[size_t(i)], pids[size_t(i)]);
  }
  for (size_t k = 0; k < only.size(); ++k)
    if (!matched[k]) return dev_fail("<%s>: no stream 0x%02X:%d", in, only[k].id, only[k].pid);
  if (pmt_pid >= 0 && conv.set_pmt_pid(pmt_pid) != pmt_pid) return dev_fail("PMT PID %d refused", pmt_pid);
  if (video_pid >= 0 && conv.set_video_pid(video_pid) != video_pid) return dev_fail("video PID %d refused", video_pid);
  if (audio_pid >= 0 && conv.set_audio_pid(audio_pid) != audio_pid) return dev_fail("audio PID %d refused", audio_pid);
  for (int i = 0; i < n; ++i)
    std::printf("stream id=0x%02X pid=%d kind=%d start_pts=%.0f selected=%d\n", ids[size_t(i)], pids[size_t(i)],
                kinds[size_t(i)], conv.start_pts(i), conv.is_selected(i));
  double sizes[5];
  conv.estimate_sizes(sizes);
  const int estimate_kinds[5] = {2, 4, 5, 6, 8};
  for (int k = 0; k < 5; ++k) std::printf("estimate kind=%d bytes=%.0f\n", estimate_kinds[k], sizes[k]);

  JobControl control;
  if (stop) dev_arm_stop(stop_at, &control);
  const double done = conv.save(out, kind, &control);
  if (kind == 8)
    for (const ESData& e : conv.output_streams()) std::printf("pid id=0x%02X pid=%d\n", e.stream_id, e.pid);
  const int result = int(control.result());
  const char* outcome = result == kMuxStopped ? "stopped" : result != 0 || done <= 0 ? "failed" : "done";
  std::printf("convert kind=%d bytes_in=%.0f bytes_out=%lld result=%d status=%s\n", kind, done > 0 ? done : 0.0,
              file_bytes(out), result, outcome);
  if (std::strcmp(outcome, "failed") == 0) return dev_fail("<%s>: conversion failed", in);
  return 0;
}

TAMSEL_DEV_COMMAND(convert,
                   "IN OUT --kind mpeg1|vcd|ps|ts [--only ID[:PID]]... [--pmt-pid N] [--video-pid N] "
                   "[--audio-pid N] [--stop CODE@PERCENT]",
                   "converts a system stream or video elementary stream into another multiplex", run_convert);
