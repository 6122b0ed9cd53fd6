// ac3 FILE: every AC-3 frame of an elementary stream whose header and both
// CRC words check, one line each:
//   frame offset=N rate=N channels=N bit_rate=N size=N
// channels counts the full-band channels and the LFE channel. Damaged frames
// and junk are skipped (and traced); a frame cut off by the end of the file
// is traced, not listed.
#include <cstdio>

#include "devtool/command.h"
#include "devtool/file_window.h"
#include "devtool/input.h"
#include "foundation/ac3.h"
#include "foundation/bsfile.h"
#include "foundation/trace.h"

namespace {

constexpr size_t kWant = 64 * 1024;  // far more than the largest frame (3840 bytes)

int run_ac3(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("ac3", argc);
  if (dev_input_of(argv[1], {InputKind::ac3}, "an AC-3 elementary stream", true)) return 1;
  int err = 0;
  BSFile file(argv[1], 1, &err);
  if (err || !file.is_open()) return dev_fail("<%s>: cannot open to read", argv[1]);
  FileWindow w(file);

  long long frames = 0;
  uint64_t pos = 0;
  for (;;) {
    int avail = 0;
    const uint8_t* p = w.at(pos, kWant, &avail);
    if (avail < 5) {
      if (avail > 0) trace("ac3: %d stray bytes at the end\n", avail);
      break;
    }
    const bool at_eof = pos + static_cast<uint64_t>(avail) >= w.size();
    AC3FrmHdr h;
    const int skipped = h.decode(p, avail, kAC3CheckCrc);
    const uint64_t at = pos + static_cast<uint64_t>(skipped);
    if (h.valid && skipped + h.frame_size > avail) {
      if (!at_eof) {  // the window ends inside the frame
        pos = at;
        continue;
      }
      trace("ac3: frame at offset %llu cut off: %llu of %d bytes\n", static_cast<unsigned long long>(at),
            static_cast<unsigned long long>(w.size() - at), h.frame_size);
      break;
    }
    if (!h.valid) {
      if (skipped + 5 > avail) {  // no sync word left in the window
        if (at_eof) {
          if (skipped) trace("ac3: %d bytes without a frame at the end\n", avail);
          break;
        }
        pos = at;
        continue;
      }
      trace("ac3: damaged frame at offset %llu skipped\n", static_cast<unsigned long long>(at));
      pos = at + 2;
      continue;
    }
    if (skipped) trace("ac3: %d bytes skipped at offset %llu\n", skipped, static_cast<unsigned long long>(pos));
    std::printf("frame offset=%llu rate=%d channels=%d bit_rate=%d size=%d\n", static_cast<unsigned long long>(at),
                h.sample_rate, h.get_channels(), h.bit_rate, h.frame_size);
    ++frames;
    pos = at + static_cast<uint64_t>(h.frame_size);
  }
  if (!frames) return dev_fail("<%s>: no AC-3 frame found", argv[1]);
  trace("ac3: %lld frames\n", frames);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(ac3, "FILE", "every AC-3 frame of an AC-3 elementary stream whose CRCs check", run_ac3);
