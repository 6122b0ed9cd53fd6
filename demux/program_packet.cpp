// Packet layer of the program-stream demultiplexer: pack headers, system
// headers and PES packets found by start code in the read buffer, the
// sub-streams of private stream 1 and the size checks that resynchronise
// on implausible packet lengths.
#include <algorithm>
#include <cstring>

#include "demux/program.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"

namespace {

// A 33-bit field with its top bit set reads as field - 2^33.
double signed33(uint64_t v) {
  v &= 0x1FFFFFFFFull;
  return (v & 0x100000000ull) ? double(int64_t(v) - int64_t(0x200000000ll)) : double(v);
}

// PTS / DTS / MPEG-1 SCR: 3 + 15 + 15 bits with marker bits between.
double read_ts(const uint8_t* b) {
  const uint64_t v = (uint64_t(b[0] >> 1) & 7) << 30 | uint64_t(b[1]) << 22 | uint64_t(b[2] >> 1) << 15 |
                     uint64_t(b[3]) << 7 | uint64_t(b[4] >> 1);
  return signed33(v);
}

// MPEG-2 pack: 33-bit base in bytes 4-8 and a 9-bit extension in 8-9.
double read_scr2(const uint8_t* b) {
  const uint64_t base = (uint64_t(b[4] >> 3) & 7) << 30 | uint64_t(b[4] & 3) << 28 | uint64_t(b[5]) << 20 |
                        uint64_t(b[6] >> 3) << 15 | uint64_t(b[6] & 3) << 13 | uint64_t(b[7]) << 5 |
                        uint64_t(b[8] >> 3);
  const int ext = (b[8] & 3) << 7 | b[9] >> 1;
  return signed33(base) + ext / 300.0;
}

bool header_less(int id) {
  return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xF2 || id == 0xF8 ||
         id == 0xFF;
}

}  // namespace

int ps_next_start_code(const uint8_t* data, int length, int* code) {
  if (code) *code = 0xFFF;
  if (!data || length < 4) return 0;
  const int64_t at = start_code_scan(data, length, [](uint8_t c) { return c >= 0xBA; });
  if (at < 0) return length - 4;
  if (code) *code = 0x100 | data[at + 3];
  return int(at);
}

int DeMuxerProgram::get_next_ps_packet(int selected_only) {
  PacketState& k = pkt_;
  const double keep_scr = k.scr;
  k = PacketState();
  k.scr = keep_scr;
  for (;;) {
    const FileOffset here = current_offset();
    if (stop_at_limit_ && here.greater_or_equal(stop_offset_)) return 0;
    if (here.greater_or_equal(src_.end_data)) return 0;
    if (buf_.unread < 1024) fill_bs_buffer();
    if (buf_.unread < 26) return 0;
    const uint8_t* b = buf_.bytes.get() + buf_.rd;
    int code = 0;
    int at = ps_next_start_code(b, buf_.unread, &code);
    if (code == 0xFFF || code >= 0x1F0) {
      const int adv = std::min(buf_.unread, at + 4);
      buf_.rd += adv;
      buf_.unread -= adv;
      continue;
    }
    buf_.rd += at;
    buf_.unread -= at;
    k.packet_offset = current_offset();
    // Pack and system headers in any order before the PES start code.
    int p = 0;  // start code position from the read position
    bool resync = false;
    for (;;) {
      b = buf_.bytes.get() + buf_.rd;
      if (code == 0x1BA) {
        if (p > 0) {  // a pack after a pack: it is the one the packet follows
          buf_.rd += p;
          buf_.unread -= p;
          p = 0;
          b = buf_.bytes.get() + buf_.rd;
        }
        k.flags = 0;
        if (buf_.unread < 64) {
          fill_bs_buffer();
          b = buf_.bytes.get() + buf_.rd;
        }
        if (buf_.unread < 18) return 0;
        k.packet_offset = current_offset();
        // The layout is in the bits: '01' MPEG-2, '0010' MPEG-1.
        const bool mpeg2 = (b[4] & 0xC0) == 0x40;
        k.scr = mpeg2 ? read_scr2(b) : read_ts(b + 4);
        k.flags |= kPackBefore;
        int skip = 12;
        if (mpeg2) skip = 14 + (b[13] & 7);
        if (skip > buf_.unread - 4) skip = 12;
        int c2 = 0;
        const int d = ps_next_start_code(b + skip, buf_.unread - skip, &c2);
        if (c2 == 0xFFF) {
          resync = true;
          break;
        }
        p = skip + d;
        code = c2;
      } else if (code == 0x1BB) {
        k.flags |= kSysHdrBefore;
        if (decode_system_headers_ && buf_.unread - p > 12) {
          SysHdr h;
          if (h.decode(b + p, buf_.unread - p) > 0) sys_hdr_ = h;
        }
        int skip = 4;
        if (buf_.unread - p >= 6) {
          const int len = (b[p + 4] << 8 | b[p + 5]) + 6;
          if (len <= buf_.unread - p - 4) skip = len;
        }
        int c2 = 0;
        const int d = ps_next_start_code(b + p + skip, buf_.unread - p - skip, &c2);
        if (c2 == 0xFFF) {
          resync = true;
          break;
        }
        p += skip + d;
        code = c2;
      } else {
        break;
      }
    }
    if (resync || code >= 0x1F0) {
      // No PES start code within the buffer: go on from behind the headers.
      const int adv = std::max(4, std::min(p + 4, buf_.unread));
      buf_.rd += std::min(adv, buf_.unread);
      buf_.unread -= std::min(adv, buf_.unread);
      continue;
    }
    if (buf_.unread - p < 1024) {
      fill_bs_buffer();
      b = buf_.bytes.get() + buf_.rd;
    }
    if (buf_.unread - p < 6) return 0;
    const int id = code & 0xFF;
    if (selected_only && id != 0xE0 && id != 0xC0) {
      bool ok;
      if (!wanted_.empty())
        ok = std::find(wanted_.begin(), wanted_.end(), id) != wanted_.end();
      else
        ok = id >= 0xC0 && id <= 0xEF;
      if (!ok) {
        buf_.rd += p + 4;
        buf_.unread -= p + 4;
        k.flags = 0;
        continue;
      }
    }
    const uint8_t* s = b + p;
    const int held = buf_.unread - p;  // bytes from the start code
    k.flags |= kPesFound;
    k.start_code_offset = p;
    k.stream_id = id;
    const int len = s[4] << 8 | s[5];
    k.packet_size = len + p + 6;
    k.payload_offset = k.pes_fields_offset = p + 6;
    k.unbounded = len == 0;
    if (id < 0xBC || held < 9) {
      k.flags |= kTruncated;
      return int(k.flags);
    }
    // Header bytes lie within the packet (bounded) and within what is held.
    const int limit = k.unbounded ? held : std::min(held, len + 6);
    if (!header_less(id)) {
      if ((s[6] & 0xC0) == 0x80) {
        k.mpeg2 = 1;
        const int hl = s[8];
        k.pes_fields_offset += 3;
        k.payload_offset += hl + 3;
        k.pts_dts_flags = s[7] >> 6;
        if (9 + hl > held && (k.unbounded || len + 6 > held)) {
          k.flags |= kTruncated;  // the file ends inside the header
        } else if (9 + hl > limit) {
          k.flags |= kHeaderError;  // a header longer than its packet
        } else if (k.pts_dts_flags >= 2 && hl >= 5) {
          k.flags |= kHasPts;
          k.pts = read_ts(s + 9);
          if (k.pts_dts_flags == 3 && hl >= 10) k.dts = read_ts(s + 14);
        }
        if (id == 0xBD && parse_sub_streams_ && !(k.flags & (kHeaderError | kTruncated)) &&
            k.payload_offset - p < limit) {
          const int sub = s[k.payload_offset - p];
          if (sub >= 0x80 && sub <= 0x87) {
            k.ac3_sub_stream = 1;
            k.sub_stream_id = sub;
          } else if (sub >= 0xA0 && sub <= 0xA7) {
            k.lpcm_sub_stream = 1;
            k.sub_stream_id = sub;
          }
        }
      } else {
        int q = 6;
        int stuffing = 0;
        while (q < limit && s[q] == 0xFF && stuffing < 16) ++q, ++stuffing;
        if (q < limit && (s[q] & 0xC0) == 0x40) q += 2;
        k.pes_fields_offset = p + q;
        if (q >= limit) {
          k.flags |= (limit == held && (k.unbounded || len + 6 > held)) ? kTruncated : kHeaderError;
        } else {
          const int f = (s[q] >> 4) & 3;
          k.pts_dts_flags = f;
          const int nibble = s[q] >> 4;
          if (f == 2 && nibble == 2 && q + 5 <= limit) {
            k.pts = k.dts = read_ts(s + q);
            k.flags |= kHasPts;
            k.payload_offset = p + q + 5;
          } else if (f == 3 && nibble == 3 && q + 10 <= limit) {
            k.pts = read_ts(s + q);
            k.dts = read_ts(s + q + 5);
            k.flags |= kHasPts;
            k.payload_offset = p + q + 10;
          } else if (s[q] == 0x0F) {
            k.payload_offset = p + q + 1;
          } else {
            k.flags |= kHeaderError;
          }
        }
      }
    }
    k.payload_size = k.packet_size - k.payload_offset;
    if (k.payload_size < 0) {
      k.packet_size = k.payload_offset;
      k.payload_size = 0;
      if (!k.unbounded) k.flags |= kHeaderError;
    }
    return int(k.flags);
  }
}

int DeMuxerProgram::next_ps_packet(int selected_only) {
  pkt_.size_resync = 0;
  const int r = get_next_ps_packet(selected_only);
  if (!(r & kPesFound) || pkt_.stream_id < 0xC0 || pkt_.stream_id > 0xEF) return r;
  // The size of a packet is found by where the next unit starts.
  auto measure = [&](int need) -> int {
    if (buf_.unread < need) fill_bs_buffer();
    const FileOffset at = current_offset();
    const PacketState saved = pkt_;
    const int adv = std::min(saved.payload_offset, buf_.unread);
    buf_.rd += adv;
    buf_.unread -= adv;
    const int keep_stop = stop_at_limit_;
    stop_at_limit_ = 0;
    const int got = get_next_ps_packet(0);
    stop_at_limit_ = keep_stop;
    const FileOffset next = got ? pkt_.packet_offset : current_offset();
    goto_offset(at);
    pkt_ = saved;
    if (!got && !(next.greater(at))) return saved.packet_size;
    const double size = next.to_double() - at.to_double() + 0.1;
    return size > 2147483647.0 ? saved.packet_size : int(size);
  };
  if (pkt_.unbounded) {
    const int size = measure(1024);
    pkt_.packet_size = std::max(size, pkt_.payload_offset);
    pkt_.payload_size = pkt_.packet_size - pkt_.payload_offset;
    pkt_.flags &= ~kHeaderError;
    pkt_.unbounded = 1;
    return int(pkt_.flags);
  }
  if (pkt_.packet_size >= 512 && pkt_.payload_size >= 512) {
    const int idx = pkt_.stream_id < 0xE0 ? 1 : 0;
    const int a = average_packet_size(idx);
    if (a > 0 && (pkt_.packet_size > 5 * a || pkt_.packet_size < a / 5)) {
      const int size = measure(std::min(5 * a, kReadBufferSize));
      if (size != pkt_.packet_size && size >= pkt_.payload_offset) {
        pkt_.size_resync = 1;
        pkt_.packet_size = size;
        pkt_.payload_size = size - pkt_.payload_offset;
      }
    }
    pkt_.flags &= ~kHeaderError;
    ++packet_count_[idx];
    packet_bytes_[idx] += pkt_.packet_size;
    payload_bytes_[idx] += pkt_.payload_size;
  }
  return int(pkt_.flags);
}

int DeMuxerProgram::average_packet_size(int index) const {
  if (index < 0 || index > 1) return pkt_.packet_size;
  if (packet_count_[index] >= 2) return int(packet_bytes_[index] / packet_count_[index]);
  return pkt_.packet_size;
}

int DeMuxerProgram::detect_sub_stream() {
  pkt_.sub_stream_id = pkt_.ac3_sub_stream = pkt_.lpcm_sub_stream = pkt_.raw_ac3 = 0;
  if (!(pkt_.flags & kPesFound) || pkt_.payload_size < 1) return 0;
  if (buf_.unread < pkt_.payload_offset + 2) fill_bs_buffer();
  if (buf_.unread < pkt_.payload_offset + 2) return 0;
  const uint8_t* q = buf_.bytes.get() + buf_.rd + pkt_.payload_offset;
  const int sub = q[0];
  if (sub >= 0x80 && sub <= 0x87) {
    pkt_.ac3_sub_stream = 1;
    pkt_.sub_stream_id = sub;
  } else if (sub >= 0xA0 && sub <= 0xA7) {
    pkt_.lpcm_sub_stream = 1;
    pkt_.sub_stream_id = sub;
  } else if (pkt_.payload_size >= 2 && q[0] == 0x0B && q[1] == 0x77) {
    pkt_.raw_ac3 = 1;
    pkt_.sub_stream_id = pkt_.stream_id;
  }
  return pkt_.sub_stream_id;
}

int DeMuxerProgram::packet_is_of(int key) const {
  if (pkt_.stream_id == key) return 1;
  return parse_sub_streams_ && pkt_.sub_stream_id != 0 && pkt_.sub_stream_id == key ? 1 : 0;
}

int DeMuxerProgram::get_pcm_es_data(ESData* record, int stream_id, const uint8_t* data, int length) {
  if (!record || !data || length < 7) {
    trace("ERROR (PS::get_pcm_es_data): invalid input(s)\n");
    return 0;
  }
  static const int kBits[4] = {16, 20, 24, 0};
  static const int kRates[4] = {48000, 96000, 0, 0};
  const int bits = kBits[data[5] >> 6];
  const int rate = kRates[(data[5] >> 4) & 3];
  const int channels = (data[5] & 7) + 1;
  if (bits != 16 || rate == 0) {
    trace("ERROR (PS::get_pcm_es_data): unsupported LPCM header (%d bits, rate code %d)\n", bits,
          (data[5] >> 4) & 3);
    return 0;
  }
  record->set_lpcm_header(stream_id, rate, channels);
  return 1;
}

// ---- packet access -------------------------------------------------------------

void DeMuxerProgram::step_past_header_error(const char* where) {
  trace("DeMuxerProgram::%s (): packet-header error\n\toffset = %.0f\n", where,
        current_offset().to_double() + pkt_.start_code_offset);
  const int adv = std::min(buf_.unread, pkt_.start_code_offset + 6);
  buf_.rd += adv;
  buf_.unread -= adv;
}

int DeMuxerProgram::next_packet() {
  int r = next_ps_packet(selected_only());
  if (r & kHeaderError) {
    step_past_header_error("next_packet");
    r = next_ps_packet(selected_only());
  }
  if (!(r & kPesFound)) return 0;
  return pkt_.sub_stream_id ? pkt_.sub_stream_id : pkt_.stream_id;
}

int DeMuxerProgram::skip_packet() {
  const int n = pkt_.packet_size;
  if (n <= 0) return 1;
  if (buf_.unread < n) fill_bs_buffer();
  if (buf_.unread >= n) {
    buf_.rd += n;
    buf_.unread -= n;
    return 1;
  }
  const uint64_t target = current_offset().value() + uint64_t(n);
  if (target <= src_.end_data.value()) {
    goto_offset(FileOffset::from_u64(target));
    return 1;
  }
  empty_bs_buffer();
  buf_.end = src_.end_data;
  return 0;
}

int DeMuxerProgram::get_payload_size() {
  int n = pkt_.payload_size;
  if (pkt_.sub_stream_id && pkt_.ac3_sub_stream) n -= 4;
  else if (pkt_.sub_stream_id && pkt_.lpcm_sub_stream) n -= 7;
  return n < 0 ? 0 : n;
}

int DeMuxerProgram::get_payload(uint8_t* out, int count) {
  if (pkt_.payload_size > pkt_.packet_size) {
    trace("ERROR (PSDemux::get_payload): payload_size = %d > %d = packet_size\n", pkt_.payload_size, pkt_.packet_size);
    pkt_.payload_size = std::max(0, pkt_.packet_size - pkt_.payload_offset);
  }
  int hdr = 0;
  if (pkt_.ac3_sub_stream) hdr = 4;
  else if (pkt_.lpcm_sub_stream) hdr = 7;
  const int n = std::min(count, pkt_.payload_size - hdr);
  if (!out || n <= 0) {
    if (n <= 0) trace("ERROR (PSDemux::get_payload): payload size = %d\n", n);
    skip_packet();
    return 0;
  }
  // Step to the first byte to copy, then copy in pieces, refilling.
  int skip = pkt_.payload_offset + hdr;
  if (buf_.unread < skip + n) fill_bs_buffer();
  if (buf_.unread < skip) {
    empty_bs_buffer();
    buf_.end = src_.end_data;
    return 0;
  }
  buf_.rd += skip;
  buf_.unread -= skip;
  return copy_from_buffer(out, n);
}
