// info FILE: what the demultiplexer measured of an elementary stream, the
// fields that apply to its kind:
//   video: frames=N length=S width=N height=N frame_rate=F chroma=420|422|444
//          header_bit_rate=N|vbr measured_bit_rate=N
//   audio: length=S rate=HZ channels=N header_bit_rate=N measured_bit_rate=N
#include <cstdio>
#include <memory>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/rates.h"
#include "devtool/summary.h"
#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/seq_header.h"

int dev_print_stream_summary(const char* path, const DevInput& in, const char* prefix, const char* suffix) {
  std::unique_ptr<DeMuxer> d(demuxer_create(path, 0));
  if (!d) return dev_fail("<%s>: cannot read %s", path, dev_kind_text(in));
  const double length = d->get_total_length();
  const long long measured = dev_measured_bit_rate(d->get_file_size().value(), length);
  if (in.kind == InputKind::video || in.kind == InputKind::program || in.kind == InputKind::transport) {
    int pid = 0;
    const int id = d->get_video_selection(&pid);
    const SeqHdr* seq = d->find_video_header(id, pid);
    if (!seq) return dev_fail("<%s>: no sequence header", path);
    GOPList list(path);
    int frames = 0;
    if (list.is_open() && list.build_index() == 0) frames = list.get_total_frames();
    std::printf("%sframes=%d length=%.6f width=%d height=%d frame_rate=%.6f chroma=%d header_bit_rate=%s "
                "measured_bit_rate=%lld%s\n",
                prefix, frames, length, seq->get_horizontal_size(), seq->get_vertical_size(), d->get_frame_rate(),
                dev_chroma_notation(seq->get_chroma_format()), dev_header_bit_rate(*seq).c_str(), measured, suffix);
    return 0;
  }
  int rate = 0, channels = 0, header_rate = 0;
  if (in.kind == InputKind::ac3) {
    const AC3FrmHdr* h = d->get_ac3_header(0, 0);
    if (!h || !h->valid) return dev_fail("<%s>: no AC-3 frame header", path);
    rate = h->sample_rate;
    channels = h->get_channels();
    header_rate = h->bit_rate;
  } else {
    const FrmHdr* h = d->get_audio_header(0, 0);
    if (!h || !h->valid) return dev_fail("<%s>: no MPEG audio frame header", path);
    rate = h->sample_rate;
    channels = h->channels;
    header_rate = h->bit_rate;
  }
  std::printf("%slength=%.6f rate=%d channels=%d header_bit_rate=%d measured_bit_rate=%lld%s\n", prefix, length,
              rate, channels, header_rate, measured, suffix);
  return 0;
}

static int run_info(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("info", argc);
  DevInput in;
  if (dev_input_of(argv[1],
                   {InputKind::video, InputKind::program, InputKind::transport, InputKind::mpeg_audio, InputKind::ac3},
                   "an elementary, program or transport stream", false, &in))
    return 1;
  return dev_print_stream_summary(argv[1], in, "", "");
}

TAMSEL_DEV_COMMAND(info, "FILE", "length, size and bit rates of a video or audio elementary stream (transport: its video)",
                   run_info);
