// Cutting program streams without re-encoding: header packs in front of a
// cut, the start of a stretch with the bytes that cannot be decoded blanked,
// the end of a stretch cut before the next I picture, and the in-place VBV
// rewrite. Packets keep their sizes, so pack and packet headers stay valid
// and the output keeps the source's sectors.
#include <algorithm>
#include <cstring>
#include <vector>

#include "demux/program.h"
#include "foundation/audio_header.h"
#include "foundation/bsfile.h"
#include "foundation/mpeg_fields.h"
#include "foundation/rewriters.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"

namespace {

constexpr int kDvdPack = 2048;
constexpr int kCdPack = 2324;
constexpr int kGopHeaderBytes = 8;
constexpr int kSeqBytes = 12;
constexpr int kPicBytes = 8;
// Packets read past the blanked video to find each audio stream's first.
constexpr int kAudioLookAhead = 64;

// The rest of a pack from used on: a padding packet, or zero bytes when
// fewer than its 6 header bytes are left.
void pad_pack(uint8_t* b, int used, int size) {
  const int rest = size - used;
  if (rest <= 0) return;
  if (rest < 6) {
    std::memset(b + used, 0, size_t(rest));
    return;
  }
  uint8_t* q = b + used;
  q[0] = 0, q[1] = 0, q[2] = 1, q[3] = 0xBE;
  q[4] = uint8_t((rest - 6) >> 8);
  q[5] = uint8_t(rest - 6);
  std::memset(q + 6, 0xFF, size_t(rest - 6));
}

bool write_all(BSFile* out, const uint8_t* b, size_t n) {
  if (n == 0) return true;
  if (out->write(b, n) == n) return true;
  trace("ERROR (PSDemux::trim_start): disk full (?]\n");
  return false;
}

// Zeroes the part of [from, to) (video offsets) that lies in a payload
// holding video offsets [v, v + n) at p.
void zero_range(uint8_t* p, int64_t v, int n, int64_t from, int64_t to) {
  const int64_t a = std::max(from, v), z = std::min(to, v + n);
  if (z > a) std::memset(p + (a - v), 0, size_t(z - a));
}



// Makes the packet at p (h header bytes from its start code, n payload
// bytes) begin its payload at x: the bytes in front go to a padding packet,
// or to stuffing in the header when they are fewer than a padding packet's
// header. Same size throughout. drop_pts: its time stamps belonged to a
// picture in front and go too.
void start_payload_at(uint8_t* p, int h, int n, int x, int mpeg2, bool drop_pts) {
  std::vector<uint8_t> header(p, p + h);
  if (drop_pts && mpeg2 && h >= 9 && (header[7] & 0x3F) == 0) {
    // Without other fields the time stamps are the header data: stuffing.
    header[7] &= 0x3F;
    std::memset(header.data() + 9, 0xFF, size_t(h - 9));
  }
  if (x <= 0) {
    std::memcpy(p, header.data(), size_t(h));
    return;
  }
  if (x < 6) {
    if (!mpeg2 || header[8] + x > 255) {
      std::memcpy(p, header.data(), size_t(h));
      return;  // left as it is
    }
    header.insert(header.begin() + h, size_t(x), 0xFF);
    header[8] = uint8_t(header[8] + x);
    std::memcpy(p, header.data(), header.size());  // the x bytes cut in front are overwritten
    return;
  }
  uint8_t* q = p + h;
  const int length = h - 6 + n - x;
  header[4] = uint8_t(length >> 8);
  header[5] = uint8_t(length);
  std::memmove(p + x + h, q + x, size_t(n - x));
  std::memcpy(p + x, header.data(), size_t(h));
  p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xBE;
  p[4] = uint8_t((x - 6) >> 8);
  p[5] = uint8_t(x - 6);
  std::memset(p + 6, 0xFF, size_t(x - 6));
}

// The whole packet becomes padding.
void to_padding(uint8_t* p, int size) {
  p[3] = 0xBE;
  std::memset(p + 6, 0xFF, size_t(size - 6));
}

// Makes an audio packet begin with its first whole frame; false when no
// frame starts in it (it then becomes padding).
bool start_audio_at_frame(uint8_t* p, int h, int n, int mpeg2) {
  // A header followed by another one frame later: bytes in the middle of
  // a frame can look like a header.
  FrmHdr f;
  const int x = f.find_sync(p + h, n);
  if (!f.valid || x < 0 || x + 3 >= n) {
    to_padding(p, h + n);
    return false;
  }
  start_payload_at(p, h, n, x, mpeg2, false);
  return true;
}

bool has_picture_start(const uint8_t* b, int n) { return StartCodeCursor(b, n).find(0x00); }

}  // namespace

// ---- header packs ----------------------------------------------------------------

int DeMuxerProgram::pack_size() {
  if (pack_size_) return pack_size_;
  pack_size_ = kDvdPack;
  std::vector<uint8_t> b(64 * 1024);
  // Measured on first use, which may come in the middle of a copy: the
  // reading position stays where it was.
  const FileOffset keep = current_offset();
  const int n = read_at(src_.data_start, b.data(), int(b.size()));
  goto_offset(keep);
  int last = -1, dvd = 0, cd = 0;
  StartCodeCursor c(b.data(), n);
  while (c.find(0xBA) && c.offset() + 4 < n) {
    const int i = int(c.offset());
    if (last < 0) pack_mpeg2_ = (b[i + 4] & 0xC0) == 0x40;
    if (last >= 0 && i - last == kCdPack) ++cd;
    if (last >= 0 && i - last == kDvdPack) ++dvd;
    last = i;
    c.seek(i + 12);
  }
  if (cd > dvd) pack_size_ = kCdPack;
  return pack_size_;
}

int DeMuxerProgram::write_pack_header(uint8_t* b, double scr) const {
  int rate = sys_hdr_.rate_bound > 0 ? sys_hdr_.rate_bound : st_.bit_rate;
  const int mr = std::clamp((rate + 399) / 400, 1, (1 << 22) - 1);
  b[0] = 0, b[1] = 0, b[2] = 1, b[3] = 0xBA;
  if (pack_mpeg2_) {
    encode_scr(scr, b + 4);
    b[10] = uint8_t(mr >> 14);
    b[11] = uint8_t(mr >> 6);
    b[12] = uint8_t(((mr & 0x3F) << 2) | 3);
    b[13] = 0xF8;  // no stuffing
    return 14;
  }
  encode_pts(scr, b + 4);
  b[4] |= 0x20;
  b[9] = uint8_t(0x80 | ((mr >> 15) & 0x7F));
  b[10] = uint8_t(mr >> 7);
  b[11] = uint8_t(((mr & 0x7F) << 1) | 1);
  return 12;
}

namespace {

// SCR packs packs before the cut's first pack at the file's rate.
double scr_before(double first, int packs, int pack_bytes, int bit_rate) {
  if (first == kNoTime) return 0.0;
  if (bit_rate <= 0) return first;
  return std::max(0.0, first - double(packs) * pack_bytes * 90000.0 / (bit_rate * 0.125));
}

}  // namespace

int DeMuxerProgram::format_syshdr_packet(uint8_t* b, int z) {
  const int p = pack_size();
  if (!b || z < p) {
    trace("ERROR (DeMuxerPS::format_syshdr_packet): size=%d\n", z);
    return 0;
  }
  const int len = sys_hdr_.raw_length;
  if (len < 6 || int(sys_hdr_.raw.size()) < len || sys_hdr_.raw[3] != 0xBB) return 0;
  const int rate = sys_hdr_.rate_bound > 0 ? sys_hdr_.rate_bound : st_.bit_rate;
  const int h = write_pack_header(b, scr_before(trim_scr_, 2, p, rate));
  // A header larger than the pack would spill into the next one.
  if (h + len > p) {
    trace("ERROR (DeMuxerPS::format_syshdr_packet): system header of %d bytes\n", len);
    return 0;
  }
  std::memcpy(b + h, sys_hdr_.raw.data(), size_t(len));
  pad_pack(b, h + len, p);
  return p;
}

int DeMuxerProgram::format_seqhdr_packet(uint8_t* b, int z) {
  const uint8_t* seq = st_.seq.invalid ? nullptr : st_.seq.get_coded_copy();
  const int len = seq ? st_.seq.coded_length : 0;
  if (len <= 0) {
    trace("ERROR (DeMuxerPS::format_seqhdr_packet): no seqhdr\n");
    return 0;
  }
  const int p = pack_size();
  if (!b || z < p) {
    trace("ERROR (DeMuxerPS::format_seqhdr_packet): size=%d\n", z);
    return 0;
  }
  const int rate = sys_hdr_.rate_bound > 0 ? sys_hdr_.rate_bound : st_.bit_rate;
  const int h = write_pack_header(b, scr_before(trim_scr_, 1, p, rate));
  const int pes_header = pack_mpeg2_ ? 9 : 7;
  if (h + pes_header + len > p) {
    trace("ERROR (DeMuxerPS::format_seqhdr_packet): sequence header of %d bytes\n", len);
    return 0;
  }
  uint8_t* q = b + h;
  const int pes_length = pes_header - 6 + len;
  q[0] = 0, q[1] = 0, q[2] = 1, q[3] = uint8_t(st_.video_id >= 0xE0 && st_.video_id <= 0xEF ? st_.video_id : 0xE0);
  q[4] = uint8_t(pes_length >> 8);
  q[5] = uint8_t(pes_length);
  if (pack_mpeg2_) {
    q[6] = 0x81, q[7] = 0, q[8] = 0;
  } else {
    q[6] = 0x0F;
  }
  std::memcpy(q + pes_header, seq, size_t(len));
  pad_pack(b, h + pes_header + len, p);
  return p;
}

// ---- the start of a stretch --------------------------------------------------------

int DeMuxerProgram::trim_start(BSFile* out, uint8_t* b, int z, FileOffset e) {
  copy_end_asked_ = FileOffset();  // a new stretch: its end is measured anew
  if (!out || !b || z < kCdPack) {
    trace("ERROR (PSDemux::trim_start): no output or a work buffer below %d bytes\n", kCdPack);
    return -1;
  }
  const FileOffset p = current_offset();
  pack_size();  // reads the file's start: before positioning
  goto_offset(p);
  const int vid = st_.video_id >= 0xE0 && st_.video_id <= 0xEF ? st_.video_id : 0xE0;
  TrimScan s;
  s.progressive_sequence = st_.seq.get_progressive_sequence();
  const bool mpeg2 = st_.seq.invalid ? st_.type == 6 : st_.seq.mpeg2 != 0;
  const int m = trim_min_picture_bytes(mpeg2);
  trim_scr_ = kNoTime;

  // Pass 1: the pictures behind the cut.
  int64_t lead = -1;  // video offset of the GOP's first sequence or GOP header
  int held = 0;
  int64_t fed = 0;
  while (!s.done() && e.greater(current_offset())) {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound)) break;
    if (r & kHeaderError) {
      step_past_header_error("trim_start");
      continue;
    }
    if (trim_scr_ == kNoTime && (r & kPackBefore)) trim_scr_ = pkt_.scr;
    if (pkt_.stream_id != vid || pkt_.payload_size <= 0) {
      if (!skip_packet()) break;
      continue;
    }
    if (pkt_.payload_size > z - held) break;  // more than the scan needs
    const int g = get_payload(b + held, pkt_.payload_size);
    if (g <= 0) break;
    held += g;
    fed += g;
    if (lead < 0) {
      // Pictures in front of the GOP's first header end the GOP before it.
      int at = 0, code = 0;
      while (held - at >= 4) {
        at += find_next_header_start(b + at, held - at, &code);
        if (code == 0xFFF || code == 0x1B3 || code == 0x1B8) break;
        at += 4;
      }
      if (code != 0x1B3 && code != 0x1B8) {
        at = std::max(0, std::min(at, held - 3));
        std::memmove(b, b + at, size_t(held - at));
        held -= at;
        continue;
      }
      lead = fed - held + at;
      std::memmove(b, b + at, size_t(held - at));
      held -= at;
    }
    const int c = trim_scan(b, held, fed, m, &s);
    std::memmove(b, b + c, size_t(held - c));
    held -= c;
  }
  // A stretch that ends inside the leading B pictures blanks them to its end.
  if (!s.done() && s.b_pictures > 0) s.end = fed;
  if (lead >= 0) s.first_header = lead;
  goto_offset(p);

  int written = 0;
  // A DVD GOP follows its navigation pack: that pack (system header and
  // navigation packets) is the header pack an authoring tool looks for.
  bool nav = false;
  if (pack_size() == kDvdPack && p.value() >= uint64_t(kDvdPack)) {
    const FileOffset before = FileOffset::from_u64(p.value() - kDvdPack);
    if (read_at(before, b, kDvdPack) == kDvdPack && start_code_at(b, kDvdPack, 0) == 0xBA &&
        (b[4] & 0xC0) == 0x40) {
      const int at = 14 + (b[13] & 7);
      nav = at + 6 < kDvdPack && b[at + 3] == 0xBB;
      const int pci = at + 6 + (b[at + 4] << 8 | b[at + 5]);
      nav = nav && pci + 4 < kDvdPack && start_code_at(b, kDvdPack, pci) == 0xBF;
    }
    goto_offset(p);
    if (nav && !write_all(out, b, kDvdPack)) return -1;
    if (nav) written += kDvdPack;
  }
  if (sys_hdr_.raw_length > 0 && !nav) {
    const int n = format_syshdr_packet(b, z);
    if (n > 0 && !write_all(out, b, size_t(n))) return -1;
    written += n;
  }
  if (!s.sequence_seen) {
    const int n = format_seqhdr_packet(b, z);
    if (n > 0 && !write_all(out, b, size_t(n))) return -1;
    written += n;
  }

  // Pass 2: the video bytes in front of the first header belong to the GOP
  // before the cut and the leading B pictures refer into it: both become
  // zero bytes in packets that keep their sizes.
  const bool blank = s.needs_blanking();
  const int64_t limit = blank ? s.end : std::max<int64_t>(s.first_header, 0);
  // MPEG audio packets cut in the middle of a frame: the first packet of
  // each such stream before its first whole frame becomes padding.
  std::vector<int> audio;
  for (const auto& r : st_.es_data)
    if (r.stream_id >= 0xC0 && r.stream_id <= 0xDF) audio.push_back(r.stream_id);
  int after_limit = 0;  // packets read past the video limit for the audio
  if (limit <= 0 && audio.empty()) return written;
  const int frames = blank && s.gop_seen ? s.b_fields / 2 : 0;
  const double rate = st_.seq.invalid ? 0.0 : st_.seq.get_frame_rate();
  std::vector<uint8_t> pk;
  FileOffset w = p;
  int64_t v = 0;
  bool failed = false;
  while ((v < limit || (!audio.empty() && after_limit++ < kAudioLookAhead)) && e.greater(current_offset())) {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound) || (r & kHeaderError)) break;
    const FileOffset start = current_offset();
    if (start.greater(w)) {
      // Bytes outside any packet: copied unchanged.
      goto_offset(w);
      uint64_t gap = start.value() - w.value();
      while (gap > 0) {
        const int n = copy_from_buffer(b, int(std::min<uint64_t>(gap, uint64_t(z))));
        if (n <= 0) break;
        if (!write_all(out, b, size_t(n))) failed = true;
        written += n;
        gap -= uint64_t(n);
      }
      if (gap > 0) break;
      if (next_ps_packet(0) == 0) break;  // the same packet again
    }
    const int k = pkt_.packet_size;
    const int payload_offset = pkt_.payload_offset, payload_size = pkt_.payload_size;
    const bool video = pkt_.stream_id == vid && payload_size > 0;
    pk.resize(size_t(std::max(k, 0)));
    const int got = k > 0 ? copy_from_buffer(pk.data(), k) : 0;
    if (video && got > payload_offset) {
      uint8_t* q = pk.data() + payload_offset;
      const int n = std::min(payload_size, got - payload_offset);
      if (blank) zero_range(q, v, n, s.first_b, s.end);
      if (frames > 0 && s.gop_offset >= v && s.gop_offset + kGopHeaderBytes <= v + n)
        utils_shift_gop_time_code(q + (s.gop_offset - v), kGopHeaderBytes, frames, rate);
      // The bytes in front of the first header end the GOP before the cut:
      // a decoder must not see them, not even as zeros with a time stamp.
      uint8_t* pes = pk.data() + pkt_.start_code_offset;
      const int h = payload_offset - pkt_.start_code_offset;
      if (n == payload_size && v + n <= s.first_header) {
        to_padding(pes, h + n);
      } else if (n == payload_size && v < s.first_header) {
        const int x = int(s.first_header - v);
        start_payload_at(pes, h, n, x, pkt_.mpeg2, has_picture_start(q, x + 3));
      } else {
        zero_range(q, v, n, 0, s.first_header);
      }
      v += payload_size;
    }
    const auto a = std::find(audio.begin(), audio.end(), pkt_.stream_id);
    if (a != audio.end() && got == k && payload_size > 0 && payload_offset + payload_size <= k) {
      if (start_audio_at_frame(pk.data() + pkt_.start_code_offset, payload_offset - pkt_.start_code_offset,
                               payload_size, pkt_.mpeg2))
        audio.erase(a);
    }
    if (got > 0 && !write_all(out, pk.data(), size_t(got))) return -1;
    written += got;
    w = current_offset();
    if (got < k) break;
  }
  goto_offset(w);
  return failed ? -1 : written;
}

// ---- the end of a stretch ------------------------------------------------------------

namespace {

// A DVD navigation pack: pack header, system header, then the PCI packet
// (private stream 2, sub-stream 0).
bool is_nav_pack(const uint8_t* p, int n) {
  if (n < 64 || start_code_at(p, n, 0) != 0xBA || (p[4] & 0xC0) != 0x40) return false;
  int i = 14 + (p[13] & 7);
  if (i + 6 > n || start_code_at(p, n, i) != 0xBB) return false;
  i += 6 + ((p[i + 4] << 8) | p[i + 5]);
  return i + 7 <= n && start_code_at(p, n, i) == 0xBF && p[i + 6] == 0;
}

// Stream id of the first packet of a pack (0 when the pack is not whole).
int first_packet_id(const uint8_t* p, int n) {
  if (n < 18 || start_code_at(p, n, 0) != 0xBA) return 0;
  int i = (p[4] & 0xC0) == 0x40 ? 14 + (p[13] & 7) : 12;
  while (i + 6 <= n && start_code_at(p, n, i) == 0xBB) i += 6 + ((p[i + 4] << 8) | p[i + 5]);
  return std::max(start_code_at(p, n, i), 0);
}

}  // namespace

FileOffset DeMuxerProgram::stretch_end(FileOffset from, FileOffset end) {
  constexpr uint64_t kPack = 2048;
  constexpr uint64_t kLook = 16 * kPack;  // a video unit's tail: audio and the next unit's header
  const uint64_t e = end.value();
  if (!end.greater(from) || e % kPack || pack_size() != int(kPack)) return end;
  uint64_t w = e > kLook ? e - kLook : 0;
  if (w < from.value()) w = (from.value() + kPack - 1) / kPack * kPack;
  if (w >= e) return end;
  const FileOffset here = current_offset();
  std::vector<uint8_t> b(size_t(e - w));
  goto_offset(FileOffset::from_u64(w));
  const int got = copy_from_buffer(b.data(), int(b.size()));
  goto_offset(here);
  if (got != int(b.size())) return end;
  // Walk back from the end over packs without video to a navigation pack.
  for (uint64_t at = e - kPack; at >= w; at -= kPack) {
    const uint8_t* p = b.data() + (at - w);
    if (is_nav_pack(p, int(kPack))) return FileOffset::from_u64(at);
    const int id = first_packet_id(p, int(kPack));
    if (id == 0 || (id >= 0xE0 && id <= 0xEF)) break;
    if (at < w + kPack) break;
  }
  return end;
}

int DeMuxerProgram::copy_bytes(uint8_t* out, int count, FileOffset end) {
  if (!end.equals(copy_end_asked_)) {
    copy_end_asked_ = end;
    copy_end_ = stretch_end(current_offset(), end);
  }
  return DeMuxer::copy_bytes(out, count, copy_end_);
}

int DeMuxerProgram::trim_end(uint8_t* q, int n, int) {
  if (!q || n <= 0) return 0;
  const FileOffset s = current_offset();
  const int vid = st_.video_id >= 0xE0 && st_.video_id <= 0xEF ? st_.video_id : 0xE0;
  for (;;) {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound)) return 0;
    if (r & kHeaderError) {
      step_past_header_error("trim_end");
      continue;
    }
    if (pkt_.stream_id == vid) break;
    if (!skip_packet()) return 0;
  }
  const FileOffset c = current_offset();
  const int payload_offset = pkt_.payload_offset;
  std::vector<uint8_t> work(size_t(std::max(pkt_.packet_size, 0)));
  const int k = work.empty() ? 0 : copy_from_buffer(work.data(), int(work.size()));
  const int h = std::min(payload_offset, k);
  int result = 0;
  // The next video unit's navigation pack (and what follows it) stays out.
  const FileOffset stop = stretch_end(s, c);
  if (stop.greater(s)) {
    const uint64_t need = stop.value() - s.value();
    if (need > uint64_t(n)) {
      trace("ERROR (PS::trim_end): %llu bytes before the last packet, room for %d\n", (unsigned long long)need, n);
      return -1;
    }
    goto_offset(s);
    const int got = copy_from_buffer(q, int(need));
    if (got != int(need)) {
      trace("ERROR (PS::trim_end): read %d of %llu bytes\n", got, (unsigned long long)need);
      return -1;
    }
    result = got;
    q += got;
    n -= got;
  }
  bool append = k > h;
  if (append) {
    int lead = 0;
    const int at = find_next_i_picture(work.data() + h, k - h, &lead);
    if (lead >= 0 && at == 0) {
      append = false;  // the packet starts with the next GOP
    } else if (lead >= 0) {
      // The next GOP ends the stream here: a sequence end code, then zeros.
      uint8_t* x = work.data() + h + at;
      const int rest = k - h - at;
      std::memset(x, 0, size_t(rest));
      if (rest >= 4) x[2] = 1, x[3] = 0xB7;
    }
  }
  if (append) {
    if (k > n) {
      trace("ERROR (PS::trim_end): packet of %d bytes, room for %d\n", k, n);
      return -1;
    }
    std::memcpy(q, work.data(), size_t(k));
    result += k;
  }
  goto_offset(FileOffset::from_u64(c.value() + uint64_t(k)));
  return result;
}

// ---- VBV rewrite -------------------------------------------------------------------

int DeMuxerProgram::seqhdr_modifier(int vid, int bit_rate) {
  return patch_video_headers("seqhdr_modifier", vid, to_bit_rate_value(bit_rate), 0, 0, false);
}

int DeMuxerProgram::vbv_modifier(int vid, int vbv_size, int increment) {
  return patch_video_headers("vbv_modifier", vid, -1, vbv_size ? to_vbv_size_code(vbv_size) : 0, increment, true);
}

int DeMuxerProgram::patch_video_headers(const char* who, int vid, int bit_rate_value, int code, int increment,
                                        bool count_pictures) {
  if (src_.name.empty()) {
    trace("DeMuxerProgram::%s (ERROR): fname=nil\n", who);
    return -1;
  }
  if (vid < 0xE0 || vid > 0xEF) {
    trace("DeMuxerProgram::%s (ERROR): vbs_stream_id=%d\n", who, vid);
    return -1;
  }
  const FileOffset keep = current_offset();
  auto u = demux_open_for_update(src_.name, who);
  if (!u) return -1;

  // Held video bytes and where each payload that fed them lies in the
  // file: a header may span the payloads of several packets.
  struct Piece {
    int64_t at;  // video offset of the payload's first byte
    uint64_t file;
  };
  std::vector<uint8_t> held;
  std::vector<Piece> pieces;
  int64_t base = 0, total = 0;  // video offsets of held[0] and of the next byte
  int count = 0;
  bool failed = false;

  // The file place(s) of len header bytes at video offset a: at, the bytes
  // there (split) and at2 for the rest; false when it spans more than two.
  auto locate = [&](int64_t a, int len, FileOffset* at, int* split, FileOffset* at2) {
    size_t j = pieces.size();
    while (j > 0 && pieces[j - 1].at > a) --j;
    if (j == 0) return false;
    --j;
    *at = FileOffset::from_u64(pieces[j].file + uint64_t(a - pieces[j].at));
    *split = 0;
    if (j + 1 >= pieces.size() || a + len <= pieces[j + 1].at) return true;
    if (j + 2 < pieces.size() && a + len > pieces[j + 2].at) return false;
    *split = int(pieces[j + 1].at - a);
    *at2 = FileOffset::from_u64(pieces[j + 1].file);
    return true;
  };

  goto_offset(FileOffset());
  while (!failed) {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound)) break;
    if (r & kHeaderError) {
      step_past_header_error(who);
      continue;
    }
    if (pkt_.stream_id != vid || pkt_.payload_size <= 0) {
      if (!skip_packet()) break;
      continue;
    }
    const int want = pkt_.payload_size;
    const uint64_t file = current_offset().value() + uint64_t(pkt_.payload_offset);
    const size_t old = held.size();
    held.resize(old + size_t(want));
    const int g = get_payload(held.data() + old, want);
    held.resize(old + size_t(std::max(g, 0)));
    if (g <= 0) break;
    pieces.push_back({total, file});
    total += g;

    const int n = int(held.size());
    int pos = 0;
    while (n - pos >= 4) {
      int c = 0;
      const int at = pos + find_next_header_start(held.data() + pos, n - pos, &c);
      if (c == 0xFFF) {
        pos = std::max(pos, n - 3);
        break;
      }
      const int need = c == 0x1B3 ? kSeqBytes : c == 0x100 ? kPicBytes : 4;
      if (n - at < need) {
        pos = at;
        break;
      }
      if (c == 0x1B3 && (code || bit_rate_value >= 0)) {
        FileOffset a, a2;
        int split = 0;
        if (!locate(base + at, kSeqBytes, &a, &split, &a2)) {
          trace("DeMuxerProgram::%s (): sequence header at video offset %lld spans three packets\n", who,
                (long long)(base + at));
        } else {
          const int rate = bit_rate_value >= 0 ? set_seqhdr_bit_rate(u.get(), bit_rate_value, a, split, a2) : 0;
          if (rate < 0 || (code && set_vbv_buffer_size(u.get(), code, a, split, a2) < 0)) failed = true;
          if (!count_pictures && rate > 0) ++count;
        }
      } else if (c == 0x100) {
        FileOffset a, a2;
        int split = 0;
        if (increment && !locate(base + at, kPicBytes, &a, &split, &a2))
          trace("DeMuxerProgram::%s (): picture header at video offset %lld spans three packets\n", who,
                (long long)(base + at));
        else if (increment && add_vbv_delay(u.get(), increment, a, split, a2) < 0)
          failed = true;
        if (count_pictures) ++count;
      }
      pos = at + need;
    }
    held.erase(held.begin(), held.begin() + pos);
    base += pos;
    // Payloads wholly before the held bytes are no longer needed.
    size_t drop = 0;
    while (drop + 1 < pieces.size() && pieces[drop + 1].at <= base) ++drop;
    pieces.erase(pieces.begin(), pieces.begin() + long(drop));
    if (g < want) break;
  }
  u.reset();
  empty_bs_buffer();
  buf_.end.zero();
  goto_offset(keep);
  return failed ? -1 : count;
}
