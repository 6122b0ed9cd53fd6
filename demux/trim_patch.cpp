// In-place patches of a finished file: bit rate and VBV buffer size of the
// sequence headers, vbv_delay of the picture headers. One sequential pass
// over the file; only the header bytes that change are written, so a file
// of gigabytes is patched without a copy.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/utils.h"
#include "foundation/video_finders.h"

namespace {

constexpr uint32_t kSequenceHeader = 0x1B3;
constexpr uint32_t kPictureHeader = 0x100;
constexpr int kSeqBytes = 12;
constexpr int kPicBytes = 8;
constexpr int kVbrDelay = 0xFFFF;

// Moves n bytes between b and the file at at (split bytes there and the rest
// at at2 when 0 < split < n); the file position is restored. True when all
// bytes moved.
template <bool kWrite, class Bytes>
bool move_header(BSFile* f, Bytes b, int n, FileOffset at, int split, FileOffset at2, int first = 0) {
  if (!f || !b) return false;
  const FileOffset keep = f->tell();
  auto io = [&](int from, int count, FileOffset where) {
    if (count <= 0) return true;
    f->seek(where, 0);
    size_t moved;
    if constexpr (kWrite)
      moved = f->write(b + from, size_t(count));
    else
      moved = f->read(b + from, size_t(count));
    return moved == size_t(count);
  };
  const bool ok = split > 0 && split < n ? io(0, split, at) && io(split, n - split, at2)
                                         : io(first, n - first, FileOffset::plus_int(at, first));
  f->seek(keep, 0);
  return ok;
}

bool is_code(const uint8_t* b, uint8_t code) { return start_code_at(b, 4, 0) == code; }

// The 16-bit vbv_delay of a picture header: bits 2..0 of byte 5, byte 6 and
// bits 7..3 of byte 7.
//   byte 5: t t c c c V V V   byte 6: V V V V V V V V   byte 7: V V V V V x x x
int get_delay(const uint8_t* h) { return ((h[5] & 7) << 13) | (h[6] << 5) | (h[7] >> 3); }
void put_delay(uint8_t* h, int v) {
  h[5] = uint8_t((h[5] & 0xF8) | ((v >> 13) & 7));
  h[6] = uint8_t(v >> 5);
  h[7] = uint8_t((h[7] & 7) | ((v & 31) << 3));
}

// One sequential pass over a file with a window that always holds the
// bytes a header needs behind its start code (when the file has them).
class HeaderWalk {
 public:
  explicit HeaderWalk(BSFile* f) : f_(f), size_(f->size().value()), w_(kWindow + 8) {}

  // Calls visit(offset in file, bytes at it, bytes held behind it, code) for
  // every start code that find reports; visit returns the bytes to step
  // over, or -1 to stop. False when a read failed.
  template <class Find, class Visit>
  bool run(Find find, Visit visit) {
    for (;;) {
      if (len_ - pos_ < kRefillBelow && next_ < size_) {
        if (!refill()) return false;
      }
      const int avail = len_ - pos_;
      if (avail <= 4 && next_ >= size_) return true;
      int code = 0;
      const int rel = find(w_.data() + pos_, avail, &code);
      if (code == 0) {  // none: keep the last bytes that may begin a code
        if (next_ >= size_) return true;
        pos_ = std::max(pos_, len_ - 4);
        if (!refill()) return false;
        continue;
      }
      const int at = pos_ + rel;
      const int behind = len_ - at;
      // Enough of the header to judge, or all the file has.
      if (behind < kNeedBehind && next_ < size_) {
        pos_ = at;
        if (!refill()) return false;
        continue;
      }
      const int step = visit(FileOffset::from_u64(base_ + uint64_t(at)), w_.data() + at, behind, code);
      if (step < 0) return true;
      pos_ = at + std::max(step, 4);
      if (pos_ > len_) pos_ = len_;
    }
  }

 private:
  static constexpr int kWindow = 1 << 20;
  static constexpr int kRefillBelow = 1024;
  static constexpr int kNeedBehind = 128;

  bool refill() {
    if (pos_ > 0) {
      std::memmove(w_.data(), w_.data() + pos_, size_t(len_ - pos_));
      base_ += uint64_t(pos_);
      len_ -= pos_;
      pos_ = 0;
    }
    const uint64_t want = std::min<uint64_t>(uint64_t(kWindow - len_), size_ - next_);
    if (want == 0) return true;
    f_->seek(FileOffset::from_u64(next_), 0);
    const size_t got = f_->read(w_.data() + len_, size_t(want));
    if (got != want) {
      trace("ERROR (DeMuxer modifier): read %zu of %llu bytes at %llu\n", got, (unsigned long long)want,
            (unsigned long long)next_);
      return false;
    }
    next_ += got;
    len_ += int(got);
    return true;
  }

  BSFile* f_;
  uint64_t size_;
  std::vector<uint8_t> w_;
  uint64_t base_ = 0;  // file offset of w_[0]
  uint64_t next_ = 0;  // file offset of the next read
  int len_ = 0;
  int pos_ = 0;
};

int find_sequence(const uint8_t* b, int n, int* code) {
  uint32_t found = 0;
  const int64_t at = utils_next_usr_start_code(kSequenceHeader, b, n, &found);
  *code = found ? int(found) : 0;
  return int(at);
}

int find_header(const uint8_t* b, int n, int* code) {
  const int at = find_next_header_start(b, n, code);
  if (*code == 0xFFF) *code = 0;
  return at;
}

}  // namespace

// ---- helpers -------------------------------------------------------------------

int DeMuxer::to_vbv_size_code(int64_t bits) {
  if (bits <= 0) return 0;
  const int64_t code = (bits + 16383) / 16384;
  if (code > 1023) {
    trace("DeMuxer::to_vbv_size_code (): %lld bits exceed the field, 1023 used (the extension is not touched)\n",
          (long long)bits);
    return 1023;
  }
  return int(code);
}

int DeMuxer::to_bit_rate_value(int64_t bits) {
  if (bits <= 0) return 0;
  const int64_t v = (bits + 399) / 400;
  if (v > 0x3FFFE) {
    trace("DeMuxer::to_bit_rate_value (): %lld bit/s exceed the field, 0x3FFFE used (the extension is not touched)\n",
          (long long)bits);
    return 0x3FFFE;
  }
  return int(v);
}

int DeMuxer::read_seqhdr(BSFile* f, uint8_t* b, FileOffset at, int split, FileOffset at2) {
  if (move_header<false>(f, b, kSeqBytes, at, split, at2)) return 1;
  trace("ERROR (DeMuxer::read_seqhdr): short read at %.0f\n", at.to_double());
  return 0;
}

int DeMuxer::write_seqhdr(BSFile* f, const uint8_t* b, FileOffset at, int split, FileOffset at2) {
  // Unsplit, only bytes 8-11 (bit rate, VBV size) can have changed.
  const int first = split > 0 && split < kSeqBytes ? 0 : 8;
  if (move_header<true>(f, b, kSeqBytes, at, split, at2, first)) return 1;
  trace("ERROR (DeMuxer::write_seqhdr): short write at %.0f\n", at.to_double());
  return 0;
}

int DeMuxer::read_vbv_delay(BSFile* f, uint8_t* b, FileOffset at, int split, FileOffset at2) {
  if (move_header<false>(f, b, kPicBytes, at, split, at2)) return 1;
  trace("ERROR (DeMuxer::read_vbv_delay): short read at %.0f\n", at.to_double());
  return 0;
}

int DeMuxer::write_vbv_delay(BSFile* f, const uint8_t* b, FileOffset at, int split, FileOffset at2) {
  if (move_header<true>(f, b, kPicBytes, at, split, at2)) return 1;
  trace("ERROR (DeMuxer::write_vbv_delay): short write at %.0f\n", at.to_double());
  return 0;
}

int DeMuxer::set_vbv_buffer_size(BSFile* f, int code, FileOffset at, int split, FileOffset at2) {
  uint8_t h[kSeqBytes];
  if (!read_seqhdr(f, h, at, split, at2)) return -1;
  if (!is_code(h, 0xB3)) return 0;
  code = std::clamp(code, 0, 1023);
  //   byte 10: r r m S S S S S   byte 11: S S S S S c x x   (S: vbv_buffer_size)
  const int old = ((h[10] & 0x1F) << 5) | (h[11] >> 3);
  if (old == code) return 0;
  h[10] = uint8_t((h[10] & 0xE0) | (code >> 5));
  h[11] = uint8_t((h[11] & 7) | ((code & 31) << 3));
  return write_seqhdr(f, h, at, split, at2) ? 1 : -1;
}

int DeMuxer::add_vbv_delay(BSFile* f, int d, FileOffset at, int split, FileOffset at2) {
  uint8_t h[kPicBytes];
  if (!read_vbv_delay(f, h, at, split, at2)) return -1;
  if (!is_code(h, 0x00)) return 0;
  const int old = get_delay(h);
  // 0xFFFF marks variable bit rate: it stays. Sums clamp to the field
  // instead of wrapping to a tiny delay.
  if (old == kVbrDelay || d == 0) return 0;
  const int v = std::clamp(old + d, 0, kVbrDelay - 1);
  if (v == old) return 0;
  put_delay(h, v);
  return write_vbv_delay(f, h, at, split, at2) ? 1 : -1;
}

int DeMuxer::set_seqhdr_bit_rate(BSFile* f, int v, FileOffset at, int split, FileOffset at2) {
  uint8_t h[kSeqBytes];
  if (!read_seqhdr(f, h, at, split, at2)) return -1;
  if (!is_code(h, 0xB3)) return 0;
  v = std::clamp(v, 0, 0x3FFFF);
  //   byte 8: R*8   byte 9: R*8   byte 10: R R m S S S S S   (R: bit_rate_value)
  const int old = (h[8] << 10) | (h[9] << 2) | (h[10] >> 6);
  if (old == v) return 0;
  h[8] = uint8_t(v >> 10);
  h[9] = uint8_t(v >> 2);
  h[10] = uint8_t((h[10] & 0x3F) | ((v & 3) << 6));
  return write_seqhdr(f, h, at, split, at2) ? 1 : -1;
}

// ---- the modifiers of elementary streams ----------------------------------------------

std::unique_ptr<BSFile> demux_open_for_update(const std::string& name, const char* who) {
  int err = 0;
  auto f = std::make_unique<BSFile>(name.c_str(), 3, &err);
  if (err || !f->is_open() || f->kind() != BSFile::Kind::plain) {
    trace("DeMuxer::%s (ERROR: fopen (r+b)): <%s>\n", who, name.c_str());
    return nullptr;
  }
  return f;
}

int DeMuxer::seqhdr_modifier(int /*stream_id*/, int bit_rate) {
  if (src_.name.empty()) {
    trace("DeMuxer::seqhdr_modifier (ERROR): fname=nil\n");
    return -1;
  }
  const FileOffset keep = current_offset();
  auto u = demux_open_for_update(src_.name, "seqhdr_modifier");
  if (!u) return -1;
  const int v = to_bit_rate_value(bit_rate);
  int count = 0;
  bool failed = false;
  HeaderWalk walk(u.get());
  // Every header is visited: a file joined from several cuts may carry the rate in
  // its first header and not in later ones.
  const bool read_ok = walk.run(find_sequence, [&](FileOffset at, const uint8_t*, int behind, int) {
    if (behind < kSeqBytes) return -1;
    const int r = set_seqhdr_bit_rate(u.get(), v, at);
    if (r < 0) {
      failed = true;
      return -1;
    }
    count += r;
    return 32;
  });
  u.reset();
  empty_bs_buffer();
  buf_.end.zero();
  goto_offset(keep);
  return failed || !read_ok ? -1 : count;
}

int DeMuxer::vbv_modifier(int stream_id, int vbv_size, int increment) {
  if (src_.name.empty()) {
    trace("DeMuxer::vbv_modifier (ERROR): fname=nil\n");
    return -1;
  }
  if (stream_id < 0xE0 || stream_id > 0xEF) {
    trace("DeMuxer::vbv_modifier (ERROR): vbs_stream_id=%d\n", stream_id);
    return -1;
  }
  const int code = vbv_size ? to_vbv_size_code(vbv_size) : 0;
  const FileOffset keep = current_offset();
  auto u = demux_open_for_update(src_.name, "vbv_modifier");
  if (!u) return -1;
  int pictures = 0;
  bool failed = false;
  HeaderWalk walk(u.get());
  const bool read_ok = walk.run(find_header, [&](FileOffset at, const uint8_t*, int behind, int c) {
    if (c == int(kSequenceHeader)) {
      if (code && behind >= kSeqBytes && set_vbv_buffer_size(u.get(), code, at) < 0) failed = true;
      return failed ? -1 : 4;
    }
    if (c != int(kPictureHeader)) return 4;
    if (behind < kPicBytes) return -1;
    if (increment && add_vbv_delay(u.get(), increment, at) < 0) {
      failed = true;
      return -1;
    }
    ++pictures;
    return kPicBytes;
  });
  u.reset();
  empty_bs_buffer();
  buf_.end.zero();
  goto_offset(keep);
  return failed || !read_ok ? -1 : pictures;
}
