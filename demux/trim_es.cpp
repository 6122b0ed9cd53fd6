// Cutting an elementary stream at GOP boundaries: the start-cut scan, the
// start of a segment with its leading B pictures blanked, the byte copy up
// to the segment's end and the sequence end code after it.
#include <algorithm>
#include <cstring>

#include "demux/demuxer.h"
#include "foundation/gop_header.h"
#include "foundation/pic_header.h"
#include "foundation/rewriters.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"

namespace {

constexpr int kSequenceHeader = 0x1B3;
constexpr int kGopHeader = 0x1B8;
constexpr int kPictureHeader = 0x100;
constexpr int kGopHeaderBytes = 8;

// Keeps the scan's buffer topped up: below this many held bytes it reads on.
constexpr int kTrimRefillBelow = 256;

// Writes n bytes; false (with a trace) when the write falls short.
bool write_all(BSFile* out, const uint8_t* b, size_t n, const char* who) {
  if (n == 0) return true;
  const size_t w = out->write(b, n);
  if (w == n) return true;
  trace("ERROR (%s): wrote %zu of %zu bytes\n", who, w, n);
  return false;
}

}  // namespace

int DeMuxer::trim_scan(const uint8_t* b, int n, int64_t fed, int m, TrimScan* s) {
  if (!b || !s || m < 4 || n < m) return 0;
  const int64_t base = fed - n;
  int pos = 0;
  while (!s->done() && n - pos >= m) {
    int code = 0;
    const int at = pos + find_next_header_start(b + pos, n - pos, &code);
    if (code == 0xFFF) return std::max(pos, n - 4);  // the last 4 may begin a code
    const int behind = n - at;
    if (code == kPictureHeader ? behind < m : code == kGopHeader && behind < kGopHeaderBytes) return at;
    if (s->first_header < 0) s->first_header = base + at;
    if (code == kSequenceHeader || code == kGopHeader) {
      if (s->i_pictures > 0) {
        // The next GOP (or a repeated sequence header) starts: nothing
        // after it belongs to the leading B pictures.
        s->end = base + at;
        break;
      }
      if (code == kSequenceHeader) {
        s->sequence_seen = 1;
      } else {
        s->gop_seen = 1;
        s->closed_gop = (b[at + 7] >> 6) & 1;
        s->gop_offset = base + at;
      }
      pos = at + 4;
      continue;
    }
    pos = at + m;
    const int type = read_picture_coding_type(b + at);
    if (type == PIC_TYPE_I) ++s->i_pictures;
    if (s->i_pictures == 0) continue;  // pictures before the first I are not ours to count
    // The coding extension tells field pictures from frame pictures: the two
    // fields of a frame are one anchor (an I field may pair with a P field).
    PicHdr pic;
    pic.decode(b + at, behind);
    const bool second_field = pic.get_picture_structure() != PIC_FRAME && s->open_field;
    s->open_field = pic.get_picture_structure() != PIC_FRAME && !second_field;
    if (type == PIC_TYPE_I || type == PIC_TYPE_P) {
      if (!second_field && ++s->ip_pictures == 2) {
        s->end = base + at;
        break;
      }
    } else if (type == PIC_TYPE_B) {
      if (s->first_b < 0) s->first_b = base + at;
      ++s->b_pictures;
      s->b_fields += pic.get_field_count(s->progressive_sequence);
    }
  }
  if (s->done()) return n;
  return std::min(pos, n);
}

int DeMuxer::trim_start(BSFile* out, uint8_t* work, int size, FileOffset end) {
  return st_.elementary ? trim_parse(out, work, size, end) : 0;
}

int DeMuxer::trim_parse(BSFile* out, uint8_t* b, int z, FileOffset e) {
  if (!out || !b || z < kTrimRefillBelow) {
    trace("ERROR (trim_parse): no output or a work buffer below %d bytes\n", kTrimRefillBelow);
    return -1;
  }
  const FileOffset p = current_offset();
  const uint64_t limit = e.value() > p.value() ? e.value() - p.value() : 0;
  TrimScan s;
  s.progressive_sequence = st_.seq.get_progressive_sequence();
  const bool mpeg2 = st_.seq.invalid ? st_.type != 2 : st_.seq.mpeg2 != 0;
  const int m = trim_min_picture_bytes(mpeg2);

  // Pass 1: find the leading B pictures. The buffer is only ever filled up
  // to its size.
  int held = 0;
  int64_t fed = 0;
  bool more = limit > 0;
  while (!s.done()) {
    if (held < kTrimRefillBelow && more) {
      const int64_t want = std::min<int64_t>(z - held, int64_t(limit) - fed);
      const int got = want > 0 ? get_payload(b + held, int(want)) : 0;
      if (got <= 0) more = false;
      held += std::max(got, 0);
      fed += std::max(got, 0);
      if (uint64_t(fed) >= limit) more = false;
    }
    const int c = trim_scan(b, held, fed, m, &s);
    if (c <= 0 && !(held < kTrimRefillBelow && more)) break;
    std::memmove(b, b + c, size_t(held - c));
    held -= c;
  }
  goto_offset(p);

  int written = 0;
  if (!s.sequence_seen && !st_.seq.invalid && st_.seq.get_coded_copy() && st_.seq.coded_length > 0) {
    if (!write_all(out, st_.seq.get_coded_copy(), size_t(st_.seq.coded_length), "trim_parse")) return -1;
    written += st_.seq.coded_length;
  }
  // A range that ends inside the leading B pictures blanks them to its end.
  if (!s.done() && s.b_pictures > 0) s.end = int64_t(limit);
  if (!s.needs_blanking()) return written;

  // Pass 2: the bytes before the first B picture, the GOP time code moved on
  // by the frames blanked, then zeros for the B pictures.
  const int frames = s.gop_seen ? s.b_fields / 2 : 0;
  const double rate = st_.seq.invalid ? 0.0 : st_.seq.get_frame_rate();
  int64_t done = 0;
  while (done < s.first_b) {
    int64_t chunk_end = std::min<int64_t>(done + z, s.first_b);
    // Never split the GOP header between two chunks.
    if (frames > 0 && s.gop_offset > done && s.gop_offset < chunk_end && s.gop_offset + kGopHeaderBytes > chunk_end)
      chunk_end = s.gop_offset;
    const int want = int(chunk_end - done);
    int got = 0;
    while (got < want) {
      const int g = get_payload(b + got, want - got);
      if (g <= 0) break;
      got += g;
    }
    if (got < want) {
      trace("ERROR (trim_parse): get_payload () = 0\n");
      if (!write_all(out, b, size_t(got), "trim_parse")) return -1;
      return written + got;
    }
    if (frames > 0 && s.gop_offset >= done && s.gop_offset + kGopHeaderBytes <= chunk_end)
      utils_shift_gop_time_code(b + (s.gop_offset - done), kGopHeaderBytes, frames, rate);
    if (!write_all(out, b, size_t(got), "trim_parse")) return -1;
    written += got;
    done = chunk_end;
  }
  const int64_t blank = s.end - s.first_b;
  int64_t blanked = 0;
  while (blanked < blank) {
    const int want = int(std::min<int64_t>(z, blank - blanked));
    int got = 0;
    while (got < want) {
      const int g = get_payload(b + got, want - got);
      if (g <= 0) break;
      got += g;
    }
    std::memset(b, 0, size_t(got));
    if (!write_all(out, b, size_t(got), "trim_parse")) return -1;
    written += got;
    blanked += got;
    if (got < want) {
      trace("ERROR (trim_parse): get_payload () = 0\n");
      break;
    }
  }
  return written;
}

int DeMuxer::copy_bytes(uint8_t* out, int n, FileOffset e) {
  if (!out || n <= 0) return 0;
  const FileOffset here = current_offset();
  const double r = e.greater(here) ? FileOffset::minus(e, here).to_double() : 0.0;
  if (double(n) > r) {
    int64_t k = int64_t(r + 0.1);
    if (k < 1) return 0;
    if (st_.type == 8) k = (k + 187) / 188 * 188;  // whole transport packets
    if (k < n) n = int(k);
  }
  return take_bytes(out, n, true);
}

int64_t DeMuxer::copy_bytes_to(BSFile* out, int64_t n, FileOffset e) {
  if (!out || n <= 0 || !src_.file) return 0;
  const FileOffset here = current_offset();
  const uint64_t to_end = e.greater(here) ? e.value() - here.value() : 0;
  const uint64_t to_data = src_.end_data.greater(here) ? src_.end_data.value() - here.value() : 0;
  n = int64_t(std::min<uint64_t>({uint64_t(n), to_end, to_data}));
  if (n <= 0) return 0;
  // The bytes the read buffer holds already, then file to file.
  int64_t done = 0;
  const int held = int(std::min<int64_t>(n, buf_.unread));
  if (held > 0) {
    if (out->write(buf_.bytes.get() + buf_.rd, size_t(held)) != size_t(held)) return -1;
    buf_.rd += held;
    buf_.unread -= held;
    done = held;
  }
  if (done < n) {
    const FileOffset at = FileOffset::from_u64(here.value() + uint64_t(done));
    const size_t want = size_t(n - done);
    const size_t got = out->copy_from(*src_.file, at, want);
    // The read position follows the copy (the buffer is empty now).
    empty_bs_buffer();
    buf_.end = FileOffset::from_u64(at.value() + got);
    if (got != want) return -1;
    done += int64_t(got);
  }
  return done;
}
