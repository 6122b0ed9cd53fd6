// streams FILE [--select-video ID[:PID]] [--select-audio ID[:PID]]: the ES
// table of a system stream after opening and the given selections, one line
// per stream in table order:
//   es index=N kind=N id=0xNN pid=N program=N bit_rate=N rate=N channels=N layer=N
// (rate: the audio sample rate, 0 for video; channels: the full count), then
//   select video_id=0xNN video_pid=N audio_id=0xNN audio_pid=N
// and each part of a file whose time stamps start again (transport streams):
//   tstable index=N offset=N start_pts=N end_pts=N correction=N
// or each cut-off segment of a program stream (DVD cells, recorder joins):
//   segment index=N start=N start_time=N end_time=N delta=N
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/program.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_key.h"

namespace {

int full_channels(const ESData& r) {
  if (r.get_ac3_header()) return r.get_ac3_channels();
  return r.get_channel_count();
}

}  // namespace

static int run_streams(int argc, char** argv) {
  if (argc < 2) return dev_bad_count("streams", argc);
  const char* path = nullptr;
  int vid = -1, vpid = 0, aid = -1, apid = 0;
  for (int i = 1; i < argc; ++i) {
    const bool video = std::strcmp(argv[i], "--select-video") == 0;
    const bool audio = std::strcmp(argv[i], "--select-audio") == 0;
    if (video || audio) {
      if (i + 1 >= argc) return dev_usage("streams", "%s needs ID[:PID]", argv[i]);
      int id = 0, pid = 0;
      if (!dev_parse_stream_key(argv[i + 1], &id, &pid))
        return dev_usage("streams", "'%s' is not ID[:PID]", argv[i + 1]);
      (video ? vid : aid) = id;
      (video ? vpid : apid) = pid;
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1]) {
      return dev_usage("streams", "unknown option '%s'", argv[i]);
    } else if (!path) {
      path = argv[i];
    } else {
      return dev_bad_count("streams", argc);
    }
  }
  if (!path) return dev_bad_count("streams", argc);
  DevInput in;
  if (dev_input_of(path, {InputKind::transport, InputKind::program}, "a program or transport stream", true, &in))
    return 1;
  std::unique_ptr<DeMuxer> d(demuxer_create(path, 0));
  if (!d) return dev_fail("<%s>: cannot read %s", path, dev_kind_text(in));
  if (vid >= 0) d->select_video_es(vid, vpid);
  if (aid >= 0) d->select_audio_es(aid, apid);
  int count = 0;
  ESData* es = d->get_es_data(&count);
  for (int i = 0; i < count; ++i) {
    const ESData& r = es[i];
    std::printf("es index=%d kind=%d id=0x%02X pid=%d program=%d bit_rate=%d rate=%d channels=%d layer=%d\n", i,
                r.kind, r.stream_id, r.pid, r.program_index, r.bit_rate, r.is_video() ? 0 : r.sample_rate,
                r.is_video() ? 0 : full_channels(r), r.is_video() ? 0 : r.layer);
  }
  int video_pid = 0, audio_pid = 0;
  const int video_id = d->get_video_selection(&video_pid);
  const int audio_id = d->get_audio_selection(&audio_pid);
  std::printf("select video_id=0x%02X video_pid=%d audio_id=0x%02X audio_pid=%d\n", video_id, video_pid, audio_id,
              audio_pid);
  std::vector<TimeStampPart> parts;
  d->get_time_stamp_parts(&parts);
  for (size_t i = 0; i < parts.size(); ++i)
    std::printf("tstable index=%zu offset=%llu start_pts=%.0f end_pts=%.0f correction=%.0f\n", i,
                (unsigned long long)parts[i].offset.value(), parts[i].start_pts, parts[i].end_pts,
                parts[i].correction);
  if (const auto* ps = dynamic_cast<const DeMuxerProgram*>(d.get())) {
    const auto& seg = ps->get_segments();
    for (size_t i = 0; i < seg.size(); ++i)
      std::printf("segment index=%zu start=%llu start_time=%.0f end_time=%.0f delta=%.0f\n", i,
                  (unsigned long long)seg[i].start.value(), seg[i].start_time, seg[i].end_time, seg[i].delta);
  }
  return 0;
}

TAMSEL_DEV_COMMAND(streams, "FILE [--select-video ID[:PID]] [--select-audio ID[:PID]]",
                   "the elementary streams of a program or transport stream and the selection", run_streams);
