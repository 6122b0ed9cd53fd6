// mpa-decode FILE OUT.pcm [--from K] [--eq GAIN]: the file's bytes, in
// windows, through one MpegAudioDecoder as the clip player feeds it (the
// decoder finds the frames itself); interleaved signed 16-bit little-endian
// PCM to OUT, then one line:
//   decoded frames=N empty=N samples=N rate=N channels=N layer=N
// frames counts calls that gave samples, empty frames that gave none,
// samples is per channel. --from K starts at frame K as `audio` numbers
// them, with a cleared decoder, as a seek does; --eq sets all 64 gains.
//
// mpa-rescale IN OUT GAIN: every frame of IN through rescale_frame, in
// order, into OUT; prints "rescaled frames=N bytes=N".
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/codec/mpa_decoder.h"
#include "devtool/audio_frames.h"
#include "devtool/command.h"
#include "devtool/file_window.h"
#include "devtool/input.h"
#include "foundation/bsfile.h"

namespace {

constexpr size_t kWant = 64 * 1024;  // many frames: the decoder confirms a header by its successor

bool parse_double(const char* text, double* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (*end || errno == ERANGE) return false;
  *out = v;
  return true;
}

bool same_file(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino &&
         S_ISREG(sa.st_mode);
}

bool write_pcm(FILE* f, const int16_t* v, int n) {
  uint8_t bytes[2 * MpegAudioDecoder::kMaxOutput];
  for (int i = 0; i < n; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(v[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(v[i]) >> 8) & 0xFF);
  }
  return std::fwrite(bytes, 2, static_cast<size_t>(n), f) == static_cast<size_t>(n);
}

int run_mpa_decode(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  long long from = -1;
  double eq = 0.0;
  bool use_eq = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--from")) {
      if (++i >= argc || !dev_parse_int(argv[i], &from) || from < 0)
        return dev_usage("mpa-decode", "--from takes a frame number from 0");
    } else if (!std::strcmp(argv[i], "--eq")) {
      if (++i >= argc || !parse_double(argv[i], &eq)) return dev_usage("mpa-decode", "--eq takes a gain");
      use_eq = true;
    } else if (!in) {
      in = argv[i];
    } else if (!out) {
      out = argv[i];
    } else {
      return dev_bad_count("mpa-decode", argc);
    }
  }
  if (!out) return dev_bad_count("mpa-decode", argc);
  if (dev_input_readable(in)) return 1;
  if (same_file(in, out)) return dev_fail("<%s>: the output is the input", out);
  int err = 0;
  BSFile file(in, 1, &err);
  if (err || !file.is_open()) return dev_fail("<%s>: cannot open to read", in);
  FileWindow w(file);

  MpegAudioDecoder dec;
  if (use_eq) {
    double gains[64];
    for (double& g : gains) g = eq;
    dec.set_equalizer(gains);
  }
  uint64_t pos = 0;
  if (from >= 0) {
    long long k = 0;
    bool found = false;
    walk_audio_frames(w, [&](uint64_t at, const FrmHdr&) {
      if (k++ < from) return true;
      pos = at;
      found = true;
      return false;
    });
    if (!found) return dev_fail("<%s>: no frame %lld (the stream has %lld)", in, from, k);
    dec.clear();
  }

  FILE* f = dev_open_output(out);
  if (!f) return 1;
  long long frames = 0, empty = 0, values = 0;
  int16_t pcm[MpegAudioDecoder::kMaxOutput];
  bool write_ok = true;
  for (;;) {
    int avail = 0;
    const uint8_t* p = w.at(pos, kWant, &avail);
    if (avail <= 0) break;
    const int n = dec.decode_frame(p, avail, pcm);
    if (dec.frame_bytes()) {
      if (n > 0) {
        ++frames;
        values += n;
        write_ok = write_ok && write_pcm(f, pcm, n);
      } else {
        ++empty;
      }
    }
    const int used = dec.consumed();
    if (used <= 0) {
      // A frame that needs bytes the file does not have, or too few bytes
      // left for a header.
      if (pos + static_cast<uint64_t>(avail) >= w.size()) break;
      ++pos;
      continue;
    }
    pos += static_cast<uint64_t>(used);
  }
  if (std::fclose(f) != 0) write_ok = false;
  if (!write_ok) return dev_fail("<%s>: cannot write the PCM", out);
  const FrmHdr& h = dec.reference();
  const int channels = h.valid ? h.channels : 0;
  std::printf("decoded frames=%lld empty=%lld samples=%lld rate=%d channels=%d layer=%d\n", frames, empty,
              channels ? values / channels : 0, h.valid ? h.sample_rate : 0, channels, h.valid ? h.layer : 0);
  return 0;
}

int run_mpa_rescale(int argc, char** argv) {
  if (argc != 4) return dev_bad_count("mpa-rescale", argc);
  double gain = 0.0;
  if (!parse_double(argv[3], &gain) || !(gain >= 0.0))
    return dev_usage("mpa-rescale", "GAIN must be a number from 0 ('%s')", argv[3]);
  if (dev_input_readable(argv[1])) return 1;
  if (same_file(argv[1], argv[2])) return dev_fail("<%s>: the output is the input", argv[2]);
  int err = 0;
  BSFile file(argv[1], 1, &err);
  if (err || !file.is_open()) return dev_fail("<%s>: cannot open to read", argv[1]);
  FileWindow w(file);
  FILE* f = dev_open_output(argv[2]);
  if (!f) return 1;
  long long frames = 0, bytes = 0;
  bool ok = true;
  uint8_t frame[4096];
  walk_audio_frames(w, [&](uint64_t at, const FrmHdr& h) {
    int avail = 0;
    const uint8_t* p = w.at(at, static_cast<size_t>(h.frame_size), &avail);
    const int n = MpegAudioDecoder::rescale_frame(p, std::min(avail, h.frame_size), gain, frame, sizeof frame);
    if (n <= 0) return true;
    ok = ok && std::fwrite(frame, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
    ++frames;
    bytes += n;
    return ok;
  });
  if (std::fclose(f) != 0) ok = false;
  if (!ok) return dev_fail("<%s>: cannot write the frames", argv[2]);
  std::printf("rescaled frames=%lld bytes=%lld\n", frames, bytes);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(mpa-decode, "FILE OUT.pcm [--from K] [--eq GAIN]",
                   "decode an MPEG audio stream (layers I-III) to 16-bit little-endian PCM", run_mpa_decode);
TAMSEL_DEV_COMMAND(mpa-rescale, "IN OUT GAIN", "rescale every layer I/II frame of an MPEG audio stream by GAIN",
                   run_mpa_rescale);
