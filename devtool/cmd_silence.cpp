// silence mpa|ac3|pcm RATE CHANNELS BIT_RATE LAYER COUNT OUT: COUNT silent
// frames of one format from AudioMuteFrame:
//   silence frame_size=N frames=N bytes=N bit_rate=N
// (frame_size: the last frame's bytes; bit_rate: the rate in use).
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/codec/audio_mute.h"
#include "devtool/command.h"
#include "foundation/bsfile.h"

namespace {

int run_silence(int argc, char** argv) {
  if (argc != 8) return dev_bad_count("silence", argc);
  int type = 0;
  if (std::strcmp(argv[1], "mpa") == 0)
    type = AudioMuteFrame::kMpeg;
  else if (std::strcmp(argv[1], "ac3") == 0)
    type = AudioMuteFrame::kAC3;
  else if (std::strcmp(argv[1], "pcm") == 0)
    type = AudioMuteFrame::kLPCM;
  else
    return dev_usage("silence", "the type is mpa, ac3 or pcm");
  long long v[5];
  for (int i = 0; i < 5; ++i)
    if (!dev_parse_int(argv[2 + i], &v[i]) || v[i] < 0 || v[i] > 100000000)
      return dev_usage("silence", "RATE CHANNELS BIT_RATE LAYER COUNT are numbers");
  AudioMuteFrame m;
  if (m.init(type, static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])) != 0)
    return dev_fail("%s %lld Hz, %lld channels, %lld bit/s, layer %lld: not supported", argv[1], v[0], v[1], v[2],
                    v[3]);
  int err = 0;
  BSFile out(argv[7], 2, &err);
  if (err || !out.is_open()) return dev_fail("<%s>: cannot open to write", argv[7]);
  std::vector<uint8_t> buf(16384);
  long long bytes = 0;
  int size = 0;
  for (long long i = 0; i < v[4]; ++i) {
    size = m.next_frame(buf.data(), static_cast<int>(buf.size()));
    if (size <= 0) return dev_fail("silence: no frame");
    if (out.write(buf.data(), static_cast<size_t>(size)) != static_cast<size_t>(size))
      return dev_fail("<%s>: write failed", argv[7]);
    bytes += size;
  }
  std::printf("silence frame_size=%d frames=%lld bytes=%lld bit_rate=%d\n", size, v[4], bytes, m.bit_rate);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(silence, "mpa|ac3|pcm RATE CHANNELS BIT_RATE LAYER COUNT OUT",
                   "silent audio frames of one format", run_silence);
