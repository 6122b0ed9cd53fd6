// file-info FILE: the stream information the editor keeps per file version:
//   file type=N size=N length=S bit_rate=N pmt_pid=N changes=N videos=N audios=N
//   video index=N id=0xNN pid=N width=N height=N frame_rate=R bit_rate=N vbr=0|1 mpeg2=0|1 chroma=N aspect=N
//         progressive=N length=S
//   audio index=N id=0xNN pid=N type=N layer=N rate=N channels=N bit_rate=N length=S   (selected audio first;
//         AC-3: its full channel count)
#include <cstdio>

#include "devtool/command.h"
#include "devtool/input.h"
#include "engine/clips/file_info.h"

namespace {

int run_file_info(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("file-info", argc);
  const char* name = argv[1];
  if (dev_input_of(name, {InputKind::video, InputKind::program, InputKind::transport, InputKind::mpeg_audio,
                          InputKind::ac3},
                   "an MPEG stream", false))
    return 1;
  FileInfoFacade f;
  if (f.open(name)) return dev_fail("<%s>: no stream information", name);
  const MpegFileInfo& m = *f.info();
  std::printf("file type=%d size=%.0f length=%.6f bit_rate=%d pmt_pid=%d changes=%d videos=%zu audios=%zu\n",
              m.stream_type, m.file_size, m.length, m.bit_rate, m.pmt_pid, m.changes, m.videos.size(),
              m.audios.size());
  for (size_t i = 0; i < m.videos.size(); ++i) {
    const VideoInfo& v = m.videos[i];
    std::printf(
        "video index=%zu id=0x%02X pid=%d width=%d height=%d frame_rate=%.6f bit_rate=%d vbr=%d mpeg2=%d chroma=%d "
        "aspect=%d progressive=%d length=%.6f\n",
        i, unsigned(v.stream_id), v.pid, v.width, v.height, v.frame_rate, v.bit_rate, v.vbr ? 1 : 0, v.mpeg2 ? 1 : 0,
        dev_chroma_notation(v.chroma_format), v.aspect_ratio_information, v.progressive_sequence, v.length);
  }
  for (size_t i = 0; i < m.audios.size(); ++i) {
    const AudioInfo& a = m.audios[i];
    std::printf("audio index=%zu id=0x%02X pid=%d type=%d layer=%d rate=%d channels=%d bit_rate=%d length=%.6f\n", i,
                unsigned(a.stream_id), a.pid, a.get_audio_type(), a.layer, a.sample_rate,
                a.get_audio_type() == AUDIO_TYPE_AC3 && a.full_channels > 0 ? a.full_channels : a.channels, a.bit_rate,
                a.length);
  }
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(file-info, "FILE", "stream information of a file as the editor caches it", run_file_info);
