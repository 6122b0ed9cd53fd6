// ac3-decode FILE OUT.pcm [--drc SCALE]: every AC-3 frame of an elementary
// stream, found by its header alone (a damaged frame reaches the decoder and
// is concealed), through one AC3Decoder into interleaved 16-bit little-endian
// stereo:
//   decoded frames=N failed=N crc_errors=N rate=N channels=2
// failed counts frames that gave no samples or failed a CRC part (their
// concealed samples are still written, so the time line stays whole),
// crc_errors those whose first or second CRC part failed. A file in which no
// frame decoded cleanly holds no AC-3 and is refused: a sync word inside
// other data (E-AC-3, noise) can pass the header check but not the CRCs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/codec/ac3_decoder.h"
#include "devtool/command.h"
#include "devtool/file_window.h"
#include "devtool/input.h"
#include "foundation/ac3.h"
#include "foundation/bsfile.h"
#include "foundation/trace.h"

namespace {

constexpr size_t kWant = 64 * 1024;

int run_ac3_decode(int argc, char** argv) {
  if (argc != 3 && argc != 5) return dev_bad_count("ac3-decode", argc);
  double drc = 1.0;
  if (argc == 5) {
    char* end = nullptr;
    drc = std::strtod(argv[4], &end);
    if (std::strcmp(argv[3], "--drc") != 0 || !end || *end || drc < 0.0 || drc > 1.0)
      return dev_usage("ac3-decode", "--drc takes a scale from 0 to 1");
  }
  if (dev_input_of(argv[1], {InputKind::ac3}, "an AC-3 elementary stream", true)) return 1;
  int err = 0;
  BSFile file(argv[1], 1, &err);
  if (err || !file.is_open()) return dev_fail("<%s>: cannot open to read", argv[1]);
  BSFile out(argv[2], 2, &err);
  if (err || !out.is_open()) return dev_fail("<%s>: cannot open to write", argv[2]);
  FileWindow w(file);

  AC3Decoder dec;
  dec.set_drc_scale(drc, drc);
  std::vector<int16_t> pcm(static_cast<size_t>(dec.get_pcm_samples()));
  std::vector<uint8_t> bytes(pcm.size() * 2);
  long long frames = 0, failed = 0, crc_errors = 0;
  uint64_t pos = 0;
  for (;;) {
    int avail = 0;
    const uint8_t* p = w.at(pos, kWant, &avail);
    if (avail < 5) break;
    const bool at_eof = pos + static_cast<uint64_t>(avail) >= w.size();
    AC3FrmHdr h;
    const int skipped = h.decode(p, avail, 0);
    const uint64_t at = pos + static_cast<uint64_t>(skipped);
    if (!h.valid) {
      if (at_eof || skipped + 5 <= avail) {
        if (skipped + 5 <= avail) {  // a sync word the header check refused
          pos = at + 2;
          continue;
        }
        break;
      }
      pos = at;
      continue;
    }
    if (skipped + h.frame_size > avail) {
      if (!at_eof) {
        pos = at;
        continue;
      }
      trace("ac3-decode: frame at offset %llu cut off\n", static_cast<unsigned long long>(at));
      break;
    }
    const int n = dec.decode_frame(p + skipped, avail - skipped, pcm.data());
    ++frames;
    const bool crc_failed = dec.crc_errors() != 0;
    if (crc_failed) ++crc_errors;
    if (n <= 0 || crc_failed) ++failed;
    if (n <= 0) {
      pos = at + 2;
      continue;
    }
    for (int i = 0; i < n; ++i) {
      bytes[2 * i] = static_cast<uint8_t>(pcm[i]);
      bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
    }
    if (out.write(bytes.data(), static_cast<size_t>(2 * n)) != static_cast<size_t>(2 * n))
      return dev_fail("<%s>: write failed", argv[2]);
    pos = at + static_cast<uint64_t>(h.frame_size);
  }
  if (frames == failed) return dev_fail("<%s>: no AC-3 frame decoded", argv[1]);
  std::printf("decoded frames=%lld failed=%lld crc_errors=%lld rate=%d channels=2\n", frames, failed, crc_errors,
              dec.sample_rate());
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(ac3-decode, "FILE OUT.pcm [--drc SCALE]",
                   "decode an AC-3 elementary stream to 16-bit stereo PCM", run_ac3_decode);
