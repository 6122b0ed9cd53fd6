#include "foundation/rewriters.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "foundation/bsfile.h"
#include "foundation/gop_header.h"
#include "foundation/mpeg_fields.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

constexpr uint32_t kSequenceHeader = 0x000001B3u;
constexpr uint32_t kGopHeader = 0x000001B8u;
constexpr uint32_t kPictureHeader = 0x00000100u;
constexpr uint32_t kSequenceEnd = 0x000001B7u;

// The header decoders take int lengths.
int clamp_int(int64_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

// Offset of the first start code `code` (00 00 01 xx), or -1.
int64_t find_code(uint32_t code, const uint8_t* buffer, int64_t length) {
  StartCodeCursor c(buffer, length);
  return c.find(static_cast<int>(code & 0xFF)) ? c.offset() : -1;
}

// GOP header: time_code is bytes 4-6 and the top bit of byte 7.
void write_gop_time_code(uint8_t* p, uint32_t word) {
  p[4] = static_cast<uint8_t>(word >> 17);
  p[5] = static_cast<uint8_t>(word >> 9);
  p[6] = static_cast<uint8_t>(word >> 1);
  p[7] = static_cast<uint8_t>((p[7] & 0x7F) | ((word & 1) << 7));
}

constexpr uint32_t kGopMarkerBit = 1u << 12;

// The first GOP header with its 8 bytes decoded into g; its offset or -1.
int64_t decode_first_gop(const uint8_t* buffer, int64_t length, GopHdr& g) {
  const int64_t at = find_code(kGopHeader, buffer, length);
  if (at < 0 || length - at < 8) return -1;
  // Only the 8 header bytes: nothing after them is needed.
  return g.decode(buffer + at, 8) ? at : -1;
}

}  // namespace

int utils_set_seq_bit_rate(uint8_t* buffer, int64_t length, int64_t bit_rate, int raw) {
  if (!buffer) return 0;
  int64_t v = raw ? bit_rate : (bit_rate + 399) / 400;
  if (v < 1) {
    trace("utils_set_seq_bit_rate (ERROR): bit rate %lld refused\n", static_cast<long long>(bit_rate));
    return 0;
  }
  if (v > 0x3FFFF || (!raw && v == 0x3FFFF)) {
    // The high bits would belong in the sequence extension, which stays as
    // it is: the largest rate the header itself can say.
    trace("utils_set_seq_bit_rate: bit_rate_value %lld does not fit 18 bits, 0x3FFFE written\n",
          static_cast<long long>(v));
    v = 0x3FFFE;
  }
  const int64_t at = find_code(kSequenceHeader, buffer, length);
  if (at < 0 || length - at < 12) return 0;
  SeqHdr h;
  if (!h.decode(buffer + at, clamp_int(length - at))) return 0;
  if (h.bit_rate == v) return 0;
  uint8_t* p = buffer + at;
  p[8] = static_cast<uint8_t>(v >> 10);
  p[9] = static_cast<uint8_t>(v >> 2);
  p[10] = static_cast<uint8_t>((p[10] & 0x3F) | ((v & 3) << 6));
  return 1;
}

int utils_set_gop_time_code(uint8_t* buffer, int64_t length, uint32_t word) {
  if (!buffer) return 0;
  GopHdr g;
  const int64_t at = decode_first_gop(buffer, length, g);
  if (at < 0) return 0;
  const uint32_t w = (word & 0x1FFFFFFu) | kGopMarkerBit;
  if (g.time_code == w) return 0;
  write_gop_time_code(buffer + at, w);
  return 1;
}

int utils_shift_gop_time_code(uint8_t* buffer, int64_t length, int frames, double frame_rate) {
  if (!buffer) return 0;
  GopHdr g;
  g.set_frame_rate(frame_rate);  // refused (29.97 stays) unless an MPEG rate
  const int64_t at = decode_first_gop(buffer, length, g);
  if (at < 0) return 0;
  g.set_frame(g.get_frame() + frames, g.get_drop_frame_flag());
  write_gop_time_code(buffer + at, g.time_code | kGopMarkerBit);
  return 1;
}

int utils_set_temporal_reference(uint8_t* buffer, int64_t length, int value) {
  if (!buffer) return 0;
  const int64_t at = find_code(kPictureHeader, buffer, length);
  // The field reaches into byte 5: a header cut before it is not there.
  if (at < 0 || length - at < 6) return 0;
  const int v = value & 0x3FF;
  if (read_temporal_reference(buffer + at) == v) return 0;
  write_temporal_reference(buffer + at, v);
  return 1;
}

int utils_set_top_field_first(uint8_t* buffer, int64_t length, int flag) {
  if (!buffer) return 1;
  const int64_t pic = find_code(kPictureHeader, buffer, length);
  if (pic < 0) return 1;
  // The picture coding extension follows the picture header directly; any
  // other extension (a sequence extension further on, say) must not be
  // touched.
  StartCodeCursor c(buffer, length);
  c.seek(pic + 4);
  for (;;) {
    if (!c.next()) return 1;
    const int64_t at = c.offset();
    if (c.code() == 0xB2) continue;  // user data
    if (c.code() != 0xB5 || length - at < 8 || (buffer[at + 4] >> 4) != 8) return 1;
    if (flag >= 1)
      buffer[at + 7] |= 0x80;
    else
      buffer[at + 7] &= 0x7F;
    return 0;
  }
}

int utils_gop_temporal_reference(uint8_t* buffer, int64_t length, int* /*out*/, int /*maximum*/) {
  if (!buffer || length < 4) return 0;

  // progressive_sequence of a sequence header in front of the first picture
  // decides how long repeated fields last.
  int progressive = 1;
  const int64_t seq = find_code(kSequenceHeader, buffer, length);
  const int64_t first_pic = find_code(kPictureHeader, buffer, length);
  if (seq >= 0 && (first_pic < 0 || seq < first_pic)) {
    SeqHdr h;
    if (h.decode(buffer + seq, clamp_int(length - seq))) progressive = h.get_progressive_sequence();
  }

  struct Anchor {
    int64_t at = -1;      // picture header of the anchor (first field)
    int64_t second = -1;  // its second field, when a field pair
  } pending;
  int count = 0;  // pictures counted since the last sequence or GOP header
  auto settle = [&] {
    if (pending.at < 0) return;
    const int tr = std::max(count - 1, 0);
    utils_set_temporal_reference(buffer + pending.at, length - pending.at, tr);
    if (pending.second >= 0) utils_set_temporal_reference(buffer + pending.second, length - pending.second, tr);
    pending = Anchor();
  };

  // A first field waiting for its second.
  bool open_field = false;
  bool open_is_anchor = false;
  int open_tr = 0;
  // Leading B pictures: 0 before the first I picture, 1 while counting the B
  // pictures right after it, 2 done.
  int leading_state = 0;
  int leading_fields = 0;

  PicHdr h;
  StartCodeCursor walk(buffer, length);
  while (walk.next()) {
    const int64_t at = walk.offset();
    const int code = 0x100 + walk.code();
    walk.seek(at + 4);  // the next code begins behind this one's four bytes
    if (code == 0x1B3 || code == 0x1B8) {
      settle();
      count = 0;
      open_field = false;
      if (leading_state == 1) leading_state = 2;
      continue;
    }
    if (code != 0x100) continue;
    h.decode(buffer + at, clamp_int(std::min<int64_t>(length - at, 4096)));
    if (h.errors & PIC_ERR_FATAL) continue;
    if (length - at < 6) break;  // no whole temporal_reference to rewrite
    h.set_progressive_sequence(progressive);
    const int type = h.picture_coding_type;
    const int fields = h.get_field_count(progressive);
    // A header refused part way keeps no extension of its own: a frame.
    const bool is_field = h.mpeg2 && h.coding_ext && h.get_picture_structure() != 3;

    if (is_field && open_field) {  // second field of a pair
      open_field = false;
      if (open_is_anchor)
        pending.second = at;
      else
        utils_set_temporal_reference(buffer + at, length - at, open_tr);
      if (leading_state == 1 && !open_is_anchor) leading_fields += fields;
      continue;
    }

    int tr = 0;
    if (type == 3) {
      // A B picture first in its GOP is malformed; 0 rather than 1023.
      tr = std::max(count - 1, 0);
      utils_set_temporal_reference(buffer + at, length - at, tr);
      if (leading_state == 1) leading_fields += fields;
    } else {
      settle();
      pending.at = at;
      if (leading_state == 0 && type == 1)
        leading_state = 1;
      else if (leading_state == 1)
        leading_state = 2;
    }
    open_field = is_field;
    open_is_anchor = type != 3;
    open_tr = tr;
    ++count;
  }
  settle();
  return leading_fields;
}

int utils_bsf_write_program_end_code(BSFile* file) {
  static const uint8_t kCode[4] = {0x00, 0x00, 0x01, 0xB9};
  return file ? static_cast<int>(file->write(kCode, 4)) : 0;
}

int utils_bsf_write_sequence_end_code(BSFile* file) {
  static const uint8_t kCode[4] = {0x00, 0x00, 0x01, 0xB7};
  return file ? static_cast<int>(file->write(kCode, 4)) : 0;
}

int check_sequence_end(const char* name) {
  int err = 0;
  BSFile f(name, 3, &err);
  if (err) return 0;
  const FileOffset size = f.size();
  const int n = static_cast<int>(std::min<uint64_t>(size.value(), 128));
  uint8_t tail[128 + 32] = {};
  f.seek(FileOffset::minus_int(size, n), 0);
  if (static_cast<int>(f.read(tail, static_cast<size_t>(n))) != n) {
    trace("check_sequence_end (ERROR): cannot read the end of <%s>\n", name);
    return 0;
  }
  if (find_code(kSequenceEnd, tail, n + 32) >= 0) return 0;
  const bool zero_tail = n == 128 && !tail[124] && !tail[125] && !tail[126] && !tail[127];
  f.seek(zero_tail ? FileOffset::minus_int(size, 4) : size, 0);
  return utils_bsf_write_sequence_end_code(&f);
}

namespace {

// MPEG-1 pack header: 00 00 01 BA, the SCR with prefix '0010', mux_rate.
uint8_t* put_pack_header(uint8_t* p, double scr) {
  static const uint8_t kStart[4] = {0x00, 0x00, 0x01, 0xBA};
  std::memcpy(p, kStart, 4);
  encode_pts(scr, p + 4);
  p[4] = static_cast<uint8_t>((p[4] & 0x0F) | 0x20);
  // '1' mux_rate(22) = 3528 (50 bytes/s units: 75 sectors of 2352) '1'
  p[9] = 0x80;
  p[10] = 0x1B;
  p[11] = 0x91;
  return p + 12;
}

// System header with one stream entry: length 9, rate_bound 3528.
uint8_t* put_system_header(uint8_t* p, int audio_bound, int video_bound, uint8_t stream_id, int scale, int size_bound) {
  const uint8_t h[] = {
      0x00, 0x00, 0x01, 0xBB, 0x00, 0x09,
      0x80, 0x1B, 0x91,  // '1' rate_bound '1'
      static_cast<uint8_t>((audio_bound << 2) | 0x01),  // audio_bound, fixed 0, CSPS 1
      static_cast<uint8_t>(0xE0 | video_bound),         // both locks, marker, video_bound
      0xFF,                                              // reserved
      stream_id,
      static_cast<uint8_t>(0xC0 | (scale << 5) | (size_bound >> 8)),
      static_cast<uint8_t>(size_bound),
  };
  std::memcpy(p, h, sizeof h);
  return p + sizeof h;
}

// Padding packet whose data runs to end: 0x0F, then 0xFF bytes.
void put_padding(uint8_t* p, uint8_t* end) {
  const int length = static_cast<int>(end - p) - 6;
  p[0] = 0x00;
  p[1] = 0x00;
  p[2] = 0x01;
  p[3] = 0xBE;
  p[4] = static_cast<uint8_t>(length >> 8);
  p[5] = static_cast<uint8_t>(length);
  p[6] = 0x0F;
  std::memset(p + 7, 0xFF, static_cast<size_t>(length - 1));
}

}  // namespace

int vcd_mux_system_headers(uint8_t* buffer, int64_t length, double scr) {
  constexpr int kSector = 2324;
  if (!buffer || length < kVcdSystemHeaderBytes) return 0;
  // Sector 1: the video stream's system header.
  uint8_t* p = put_pack_header(buffer, scr);
  p = put_system_header(p, 0, 1, 0xE0, 1, 46);
  put_padding(p, buffer + kSector);
  // Sector 2, one sector later (75 sectors per second): the audio stream's,
  // ending 20 bytes short of the sector.
  uint8_t* s2 = buffer + kSector;
  p = put_pack_header(s2, scr + 1200.0);
  p = put_system_header(p, 1, 0, 0xC0, 0, 32);
  put_padding(p, s2 + kSector - 20);
  std::memset(s2 + kSector - 20, 0, 20);
  return kVcdSystemHeaderBytes;
}
