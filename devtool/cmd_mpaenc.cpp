// mpa-encode IN.pcm RATE CHANNELS BIT_RATE LAYER OUT [--model 1|2] [--crc]:
// interleaved signed 16-bit little-endian PCM, frame after frame through one
// AudioEncoder (the short last frame padded with silence); prints
//   encoded frames=N bytes=N padded=N rate=N channels=N bit_rate=N layer=N
// with the settings the encoder kept after its checks.
//
// mpa-silence RATE CHANNELS BIT_RATE LAYER COUNT OUT: COUNT calls of
// encode_silent_frame of one AudioEncoder made with these settings; prints
// "silence frame_size=N frames=N bytes=N bit_rate=N" (frame_size is the
// unpadded size, bit_rate the one the encoder kept after its checks).
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/codec/mpaenc_encoder.h"
#include "devtool/command.h"
#include "devtool/input.h"

namespace {

bool read_pcm(const char* path, std::vector<int16_t>* pcm) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  pcm->resize(bytes.size() / 2);
  for (size_t i = 0; i < pcm->size(); ++i)
    (*pcm)[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return ok;
}

bool parse_ints(const char* name, char** argv, int count, long long* out) {
  for (int i = 0; i < count; ++i)
    if (!dev_parse_int(argv[i], &out[i])) {
      dev_usage(name, "'%s' is not a number", argv[i]);
      return false;
    }
  return true;
}

int run_mpa_encode(int argc, char** argv) {
  if (argc < 7) return dev_bad_count("mpa-encode", argc);
  long long v[4];
  if (!parse_ints("mpa-encode", argv + 2, 4, v)) return 2;
  int model = 2;
  bool crc = false;
  for (int i = 7; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--crc")) {
      crc = true;
    } else if (!std::strcmp(argv[i], "--model") && i + 1 < argc &&
               (!std::strcmp(argv[i + 1], "1") || !std::strcmp(argv[i + 1], "2"))) {
      model = argv[++i][0] - '0';
    } else {
      return dev_usage("mpa-encode", "unknown option '%s' (--model 1|2, --crc)", argv[i]);
    }
  }
  if (dev_input_readable(argv[1])) return 1;
  std::vector<int16_t> pcm;
  if (!read_pcm(argv[1], &pcm)) return dev_fail("<%s>: cannot read", argv[1]);
  AudioEncoder enc{int(v[0]), int(v[1]), int(v[2]), int(v[3]), model};
  enc.set_error_protection(crc);
  FILE* f = dev_open_output(argv[6]);
  if (!f) return 1;
  const int ch = enc.channels(), spf = enc.samples_per_frame();
  const size_t total = pcm.size() / size_t(ch);
  std::vector<uint8_t> frame(size_t(enc.max_frame_bytes()));
  long long frames = 0, bytes = 0, padded = 0;
  bool ok = true;
  for (size_t at = 0; at < total && ok; at += size_t(spf)) {
    const int count = int(std::min<size_t>(size_t(spf), total - at));
    const int n = enc.encode_next_frame(frame.data(), int(frame.size()), &pcm[at * size_t(ch)], count);
    ok = n > 0 && std::fwrite(frame.data(), 1, size_t(n), f) == size_t(n);
    ++frames;
    bytes += n;
    padded += enc.padding();
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) return dev_fail("<%s>: cannot write the frames", argv[6]);
  std::printf("encoded frames=%lld bytes=%lld padded=%lld rate=%d channels=%d bit_rate=%d layer=%d\n", frames, bytes,
              padded, enc.sample_rate(), ch, enc.bit_rate(), enc.layer());
  return 0;
}

int run_mpa_silence(int argc, char** argv) {
  if (argc != 7) return dev_bad_count("mpa-silence", argc);
  long long v[5];
  if (!parse_ints("mpa-silence", argv + 1, 5, v)) return 2;
  if (v[4] < 0) return dev_usage("mpa-silence", "COUNT must be 0 or more");
  // The settings go to the encoder as given: its own checks substitute and
  // trace what it cannot make.
  AudioEncoder enc{int(v[0]), int(v[1]), int(v[2]), int(v[3]), 2};
  FILE* f = dev_open_output(argv[6]);
  if (!f) return 1;
  std::vector<uint8_t> frame(size_t(enc.max_frame_bytes()));
  long long bytes = 0;
  bool ok = true;
  for (long long i = 0; i < v[4] && ok; ++i) {
    const int n = enc.encode_silent_frame(frame.data(), int(frame.size()));
    ok = n > 0 && std::fwrite(frame.data(), 1, size_t(n), f) == size_t(n);
    bytes += n;
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) return dev_fail("<%s>: cannot write the frames", argv[6]);
  std::printf("silence frame_size=%d frames=%lld bytes=%lld bit_rate=%d\n",
              enc.frame_bytes(),
              v[4], bytes, enc.bit_rate());
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(mpa-encode, "IN.pcm RATE CHANNELS BIT_RATE LAYER OUT [--model 1|2] [--crc]",
                   "encode 16-bit little-endian PCM as MPEG-1 audio layer I or II", run_mpa_encode);
TAMSEL_DEV_COMMAND(mpa-silence, "RATE CHANNELS BIT_RATE LAYER COUNT OUT",
                   "write COUNT silent MPEG-1 audio layer I/II frames", run_mpa_silence);
