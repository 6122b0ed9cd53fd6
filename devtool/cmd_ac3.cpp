// ac3 FILE: every AC-3 frame of an elementary stream whose header and both
// CRC words check, one line each:
//   frame offset=N rate=N channels=N bit_rate=N size=N
// channels counts the full-band channels and the LFE channel. Damaged frames
// and junk are skipped (and traced); a frame cut off by the end of the file
// is traced, not listed.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "devtool/command.h"
#include "foundation/ac3.h"
#include "foundation/bsfile.h"
#include "foundation/trace.h"

namespace {

// A sliding window over the file: at() makes the bytes from pos on
// available, reading again only when fewer than want bytes are held.
class FileWindow {
 public:
  explicit FileWindow(BSFile& f) : file_(f), size_(f.size().value()), buf_(kCapacity) {}

  uint64_t size() const { return size_; }

  const uint8_t* at(uint64_t pos, size_t want, int* avail) {
    const bool holds_end = base_ + held_ >= size_;
    if (pos < base_ || (pos + want > base_ + held_ && !holds_end)) {
      file_.seek(FileOffset::from_u64(pos), 0);
      base_ = pos;
      held_ = file_.read(buf_.data(), buf_.size());
    }
    const uint64_t end = base_ + held_;
    *avail = pos >= end ? 0 : static_cast<int>(std::min<uint64_t>(end - pos, INT_MAX));
    return buf_.data() + (pos >= end ? 0 : pos - base_);
  }

 private:
  static constexpr size_t kCapacity = 1 << 20;
  BSFile& file_;
  uint64_t size_;
  std::vector<uint8_t> buf_;
  uint64_t base_ = 0;
  size_t held_ = 0;
};

constexpr size_t kWant = 64 * 1024;  // far more than the largest frame (3840 bytes)

int run_ac3(int argc, char** argv) {
  if (argc != 2) return dev_usage("ac3");
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

TAMSEL_DEV_COMMAND(ac3, "FILE", run_ac3);
