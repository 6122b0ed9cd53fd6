// Frame walk of the audio command, shared with the commands that start at
// a frame number.
#include "devtool/audio_frames.h"

#include <algorithm>

#include "foundation/big_endian.h"
#include "foundation/trace.h"

namespace {


constexpr size_t kWant = 64 * 1024;  // far more than two of the largest frames

// Next frame of ref's stream at or after pos whose successor also belongs to
// it (or which ends the file). Returns false when none is left.
bool resync(FileWindow& w, const FrmHdr& ref, uint64_t* pos) {
  uint64_t at = *pos;
  for (;;) {
    int avail = 0;
    const uint8_t* p = w.at(at, kWant, &avail);
    if (avail < 4) return false;
    FrmHdr h;
    const int off = h.find_matching(p, avail, ref);
    if (!h.valid) {
      if (at + static_cast<uint64_t>(avail) >= w.size()) return false;
      at += static_cast<uint64_t>(std::max(1, avail - 8));
      continue;
    }
    const uint64_t cand = at + static_cast<uint64_t>(off);
    const uint64_t next = cand + static_cast<uint64_t>(h.frame_size);
    bool ok = next == w.size();
    if (!ok && next + 4 <= w.size()) {
      int a2 = 0;
      const uint8_t* q = w.at(next, 4, &a2);
      FrmHdr n;
      ok = a2 >= 4 && n.parse(load_be32(q)) == 0 && ref.same_stream(n) == 0;
    }
    if (ok) {
      *pos = cand;
      return true;
    }
    at = cand + 1;
  }
}

}  // namespace

long long walk_audio_frames(FileWindow& w, const std::function<bool(uint64_t, const FrmHdr&)>& each) {
  // First frame: one confirmed by a same-stream header a frame later.
  FrmHdr ref;
  uint64_t pos = 0;
  for (;;) {
    int avail = 0;
    const uint8_t* p = w.at(pos, kWant, &avail);
    if (avail < 4) break;
    const int off = ref.find_sync(p, avail);
    const bool at_eof = pos + static_cast<uint64_t>(avail) >= w.size();
    if (ref.valid) {
      // Unconfirmed because the window ends: look again from the header.
      if (!at_eof && off > 0 && avail - off < 2 * 2890 + 8) {
        pos += static_cast<uint64_t>(off);
        continue;
      }
      pos += static_cast<uint64_t>(off);
      break;
    }
    if (at_eof) break;
    pos += static_cast<uint64_t>(std::max(1, avail - 8));
  }
  if (!ref.valid) return -1;

  long long frames = 0;
  for (;;) {
    int avail = 0;
    const uint8_t* p = w.at(pos, 4, &avail);
    if (avail == 0) break;
    FrmHdr h;
    if (avail >= 4 && h.parse(load_be32(p)) == 0 && ref.same_stream(h) == 0) {
      if (pos + static_cast<uint64_t>(h.frame_size) > w.size()) {
        trace("audio: frame at offset %llu cut off: %llu of %d bytes\n", static_cast<unsigned long long>(pos),
              static_cast<unsigned long long>(w.size() - pos), h.frame_size);
        break;
      }
      ++frames;
      if (!each(pos, h)) break;
      pos += static_cast<uint64_t>(h.frame_size);
      continue;
    }
    if (avail < 4) {
      trace("audio: %d stray bytes at the end (offset %llu)\n", avail, static_cast<unsigned long long>(pos));
      break;
    }
    const uint64_t lost = pos;
    if (!resync(w, ref, &pos)) {
      trace("audio: lost sync at offset %llu, no further frame\n", static_cast<unsigned long long>(lost));
      break;
    }
    trace("audio: lost sync at offset %llu, found again at %llu\n", static_cast<unsigned long long>(lost),
          static_cast<unsigned long long>(pos));
  }
  return frames;
}
