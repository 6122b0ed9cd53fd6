// Cutting a transport stream at GOP boundaries: whole packets are copied,
// only video payload bytes change. The start cut puts the stored PAT and PMT
// first, adds a sequence header the kept GOP lacks and zeroes what a decoder
// cannot use (bytes before the first header, leading B pictures of an open
// GOP); the end cut zeroes the bytes of the next GOP and closes the video.
#include <algorithm>
#include <cstring>
#include <vector>

#include "demux/transport_demuxer.h"
#include "foundation/bsfile.h"
#include "foundation/rewriters.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"

namespace {

constexpr int kGopHeaderBytes = 8;
constexpr int kTailArea = 64 * 1024;
constexpr int kTailMoveAt = 36864;
constexpr int kTailKeep = 32768;
// Packets searched for the next PAT and PMT of a start cut (a few seconds).
constexpr int kTableLookAhead = 1 << 15;

bool put_packet(BSFile* out, const uint8_t* p, int n) {
  if (n <= 0) return true;
  if (out->write(p, size_t(n)) == size_t(n)) return true;
  trace("disk full (?]\n");
  return false;
}

// One packet of pid whose payload is the given bytes (at most 184), padded in
// front by an adaptation field of stuffing. discontinuity (with at least 2
// bytes of stuffing): the counter cannot follow the packets before it.
void build_packet(uint8_t* d, int pid, bool unit_start, int cc, const uint8_t* payload, int n,
                  bool discontinuity = false) {
  d[0] = 0x47;
  d[1] = uint8_t((unit_start ? 0x40 : 0) | ((pid >> 8) & 0x1F));
  d[2] = uint8_t(pid);
  const int pad = 184 - n;
  if (pad > 0) {
    d[3] = uint8_t(0x30 | (cc & 15));
    const int afl = pad - 1;
    d[4] = uint8_t(afl);
    if (afl > 0) {
      d[5] = discontinuity ? 0x80 : 0x00;
      std::memset(d + 6, 0xFF, size_t(afl - 1));
    }
    std::memcpy(d + 5 + afl, payload, size_t(n));
  } else {
    d[3] = uint8_t(0x10 | (cc & 15));
    std::memcpy(d + 4, payload, 184);
  }
}

}  // namespace

// The video payload of the current packet of pid (PES header left out); the
// PES header of a unit start is decoded. False for a packet that does not
// decode: its bytes count for nothing.
bool DeMuxerTransport::video_pieces(PayloadPieces* pieces) {
  *pieces = PayloadPieces();
  if (packet_.payload_length <= 0) return true;
  if (packet_.payload_unit_start_indicator && decode_pes_header()) return false;
  *pieces = payload_pieces();
  return true;
}

int DeMuxerTransport::copy_bytes(uint8_t* out, int n, FileOffset e) {
  if (!out || n <= 0) return 0;
  const FileOffset here = current_offset();
  const uint64_t room = e.greater(here) ? e.value() - here.value() : 0;
  if (uint64_t(n) > room) {
    if (room < uint64_t(kTSPacketSize)) return 0;
    n = int(room);
  }
  n -= n % kTSPacketSize;
  return n > 0 ? DeMuxer::copy_bytes(out, n, e) : 0;
}

int DeMuxerTransport::insert_seqhdr(uint8_t* buffer, int bytes, int capacity, int pid) {
  if (!buffer || bytes < 0 || st_.seq.invalid || !st_.seq.get_coded_copy() || st_.seq.coded_length <= 0) return 0;
  const uint8_t* hdr = st_.seq.get_coded_copy();
  const int L = st_.seq.coded_length;
  // The PID's payload in the buffer with the place of every byte.
  std::vector<uint8_t> data;
  std::vector<int> where;
  int first_cc = -1, stream_id = 0xE0;
  TSPacket pk;
  for (int at = 0; at + kTSPacketSize <= bytes && int(data.size()) < kTailArea; at += kTSPacketSize) {
    if (pk.decode(buffer + at, 0) != 0 || pk.PID != pid || pk.payload_length <= 0) continue;
    if (first_cc < 0) first_cc = pk.continuity_counter;
    int from = pk.payload_start(), skip_end = from;
    if (pk.payload_unit_start_indicator) {
      PesHeader h;
      if (parse_pes_header(buffer + at + from, pk.payload_length, &h) == 0) {
        for (int k = 0; k < h.start_offset; ++k) data.push_back(buffer[at + from + k]), where.push_back(at + from + k);
        stream_id = h.stream_id;
        skip_end = std::min(kTSPacketSize, at + from + h.start_offset + h.header_length) - at;
      }
    }
    for (int k = skip_end; k < kTSPacketSize; ++k) data.push_back(buffer[at + k]), where.push_back(at + k);
  }
  int lead = -1;
  const int p = data.empty() ? 0 : find_next_i_picture(data.data(), int(data.size()), &lead);
  if (lead >= 0 && p >= L) {
    for (int k = 0; k < p - L; ++k) buffer[where[size_t(k)]] = 0;
    for (int k = 0; k < L; ++k) buffer[where[size_t(p - L + k)]] = hdr[k];
    return 0;
  }
  // A PES of its own in front: 00 00 01 id, length, flags without time stamps.
  std::vector<uint8_t> pes(size_t(L) + 9);
  pes[0] = 0, pes[1] = 0, pes[2] = 1, pes[3] = uint8_t(stream_id);
  pes[4] = uint8_t((L + 3) >> 8), pes[5] = uint8_t(L + 3);
  pes[6] = 0x81, pes[7] = 0, pes[8] = 0;
  std::memcpy(pes.data() + 9, hdr, size_t(L));
  const int total = L + 9;
  const int count = (total + 183) / 184;
  const int grow = count * kTSPacketSize;
  if (int64_t(bytes) + grow > capacity) {
    trace("DeMuxerTS::insert_seqhdr (): %d bytes of packets do not fit in front of %d (capacity %d)\n", grow, bytes,
          capacity);
    return 0;
  }
  std::memmove(buffer + grow, buffer, size_t(bytes));
  // The counters run up to the one before the first kept packet of the PID.
  const int cc0 = first_cc >= 0 ? first_cc - count : 0;
  for (int k = 0; k < count; ++k) {
    const int n = std::min(184, total - k * 184);
    build_packet(buffer + k * kTSPacketSize, pid, k == 0, (cc0 + k) & 15, pes.data() + k * 184, n);
  }
  return grow;
}

int DeMuxerTransport::trim_start(BSFile* out, uint8_t* work, int size, FileOffset end) {
  constexpr int kLeast = 8 * kTSPacketSize;
  if (!out || !work || size < kLeast) {
    trace("ERROR (TSDemux::trim_start): no output or a work buffer below %d bytes\n", kLeast);
    return -1;
  }
  const int pid = video_pid_;
  if (pid == kNoPid) return 0;
  const FileOffset p = current_offset();
  TrimScan s;
  s.progressive_sequence = st_.seq.get_progressive_sequence();
  const bool mpeg2 = st_.seq.invalid ? true : st_.seq.mpeg2 != 0;
  const int m = trim_min_picture_bytes(mpeg2);

  // Analysis: the video bytes from the cut until the scan has its answer.
  header_skip_ = 0;
  int held = 0;
  int64_t fed = 0;
  const TSPMT* pmt = get_pmt(selected_program_);
  const int pmt_pid = pmt ? pmt->pmt_pid : -1;
  int table_cc[2] = {-1, -1};  // first PAT and PMT packets of the range
  while (!s.done()) {
    if (!current_offset().less(end) || read_packet()) break;
    if (packet_.PID == 0 && table_cc[0] < 0) table_cc[0] = packet_.continuity_counter;
    if (packet_.PID == pmt_pid && table_cc[1] < 0) table_cc[1] = packet_.continuity_counter;
    if (packet_.PID != pid) {
      advance_packet();
      continue;
    }
    PayloadPieces pieces;
    const bool ok = video_pieces(&pieces);
    advance_packet();
    if (!ok || pieces.total() == 0) continue;
    if (held + pieces.total() > size) {
      const int c = trim_scan(work, held, fed, m, &s);
      std::memmove(work, work + c, size_t(held - c));
      held -= c;
      if (s.done() || held + pieces.total() > size) break;
    }
    held += copy_pieces(pieces, work + held, size - held);
    fed += pieces.total();
    if (held >= 2 * m) {
      const int c = trim_scan(work, held, fed, m, &s);
      std::memmove(work, work + c, size_t(held - c));
      held -= c;
    }
  }
  // The tables' next packets may lie behind the analysed bytes.
  for (int k = 0; k < kTableLookAhead && (table_cc[0] < 0 || table_cc[1] < 0); ++k) {
    if (!current_offset().less(end) || read_packet()) break;
    if (packet_.PID == 0 && table_cc[0] < 0) table_cc[0] = packet_.continuity_counter;
    if (packet_.PID == pmt_pid && table_cc[1] < 0) table_cc[1] = packet_.continuity_counter;
    advance_packet();
  }
  if (!s.done() && held > 0) (void)trim_scan(work, held, fed, m, &s);
  // A range that ends inside the leading B pictures blanks them to its end.
  if (!s.done() && s.b_pictures > 0) s.end = fed;
  seek_exact(p);

  int written = 0;
  if (pat_.get_packet() && pmt && pmt->get_packet()) {
    // The copies' counters run into the tables' next packets in the range.
    uint8_t tables[2 * kTSPacketSize];
    std::memcpy(tables, pat_.get_packet(), kTSPacketSize);
    std::memcpy(tables + kTSPacketSize, pmt->get_packet(), kTSPacketSize);
    for (int k = 0; k < 2; ++k) {
      uint8_t& b3 = tables[k * kTSPacketSize + 3];
      if (table_cc[k] >= 0) b3 = uint8_t((b3 & 0xF0) | ((table_cc[k] - 1) & 15));
    }
    if (!put_packet(out, tables, 2 * kTSPacketSize)) return -1;
    written += 2 * kTSPacketSize;
  }
  const bool add_seq = !s.sequence_seen && !st_.seq.invalid && st_.seq.get_coded_copy() && st_.seq.coded_length > 0;
  const bool blank = s.needs_blanking();
  const int64_t front = std::max<int64_t>(s.first_header, 0);
  if (!add_seq && !blank && front == 0) return written;

  // Copy pass over the packets that change: up to the one holding the last
  // byte to zero, or the first start code.
  const int64_t last_changed = blank ? s.end - 1 : front;
  const int frames = blank && s.gop_seen ? s.b_fields / 2 : 0;
  const double rate = st_.seq.invalid ? 0.0 : st_.seq.get_frame_rate();
  const int reserve = add_seq ? (st_.seq.coded_length + 9 + 183) / 184 * kTSPacketSize : 0;
  const int room = (size - reserve) / kTSPacketSize * kTSPacketSize;
  if (room < kTSPacketSize) {
    trace("ERROR (TSDemux::trim_start): work buffer of %d bytes holds no packet behind the sequence header\n", size);
    return -1;
  }
  header_skip_ = 0;
  int64_t count = 0;
  bool first_chunk = true, finished = false;
  while (!finished) {
    int fill = 0;
    while (fill + kTSPacketSize <= room) {
      if (!current_offset().less(end) || read_packet()) {
        finished = true;
        break;
      }
      uint8_t* d = work + fill;
      std::memcpy(d, packet_bytes(), kTSPacketSize);
      fill += kTSPacketSize;
      PayloadPieces pieces;
      if (packet_.PID != pid || !video_pieces(&pieces)) {
        advance_packet();
        continue;
      }
      const uint8_t* src = packet_bytes();
      for (int k = 0; k < pieces.count; ++k) {
        uint8_t* q = d + (pieces.p[k] - src);
        for (int i = 0; i < pieces.n[k]; ++i) {
          const int64_t c = count + i;
          if (c < front || (blank && c >= s.first_b && c < s.end)) q[i] = 0;
        }
        // The GOP time code moves on by the frames blanked.
        if (frames > 0 && s.gop_offset >= count && s.gop_offset + kGopHeaderBytes <= count + pieces.n[k])
          utils_shift_gop_time_code(q + (s.gop_offset - count), kGopHeaderBytes, frames, rate);
        else if (frames > 0 && s.gop_offset >= count && s.gop_offset < count + pieces.n[k])
          trace("TSDemux::trim_start (): GOP header split by a packet end, time code kept\n");
        count += pieces.n[k];
      }
      advance_packet();
      if (count > last_changed) {
        finished = true;
        break;
      }
    }
    int n = fill;
    if (first_chunk && add_seq) n += insert_seqhdr(work, fill, size, pid);
    first_chunk = false;
    if (!put_packet(out, work, n)) return -1;
    written += n;
  }
  return written;
}

int DeMuxer::trim_end(uint8_t* work, int size, BSFile* out) {
  if (!out || !work || size < 4) return 0;
  const int n = trim_end(work, size, 0);
  if (n < 0) return -1;  // the end does not fit the work buffer
  if (n > 0 && out->write(work, size_t(n)) != size_t(n)) return -1;
  return n;
}

int DeMuxerTransport::trim_end(uint8_t* work, int size, BSFile* out) {
  if (!out) {
    trace("TS::trim_end (): out = nil\n");
    return 0;
  }
  if (!work || size < 2 * kTSPacketSize) {
    trace("ERROR (TS::trim_end): a work buffer below %d bytes\n", 2 * kTSPacketSize);
    return -1;
  }
  const int pid = video_pid_;
  const FileOffset p = current_offset();

  // Search: the video bytes up to the sequence or GOP header of the next I
  // picture are kept.
  std::vector<uint8_t> area(kTailArea);
  int held = 0;
  int64_t base = 0;
  int64_t keep = -1;
  header_skip_ = 0;
  while (pid != kNoPid && keep < 0) {
    if (read_packet()) break;
    PayloadPieces pieces;
    if (packet_.PID != pid || !video_pieces(&pieces)) {
      advance_packet();
      continue;
    }
    advance_packet();
    if (held + pieces.total() > kTailArea) break;  // cannot happen: moved below
    held += copy_pieces(pieces, area.data() + held, kTailArea - held);
    int lead = -1;
    const int at = find_next_i_picture(area.data(), held, &lead);
    if (lead >= 0) {
      keep = base + at;
      break;
    }
    if (held > kTailMoveAt) {
      std::memmove(area.data(), area.data() + held - kTailKeep, kTailKeep);
      base += held - kTailKeep;
      held = kTailKeep;
    }
  }
  seek_exact(p);

  // Copy: whole packets; without a next I picture all the rest is kept.
  int fill = 0, written = 0;
  auto flush = [&]() {
    if (!put_packet(out, work, fill)) return false;
    written += fill;
    fill = 0;
    return true;
  };
  const int room = size / kTSPacketSize * kTSPacketSize;
  int64_t count = 0;
  int next_cc = -1;
  bool end_code = false;
  header_skip_ = 0;
  while (!read_packet()) {
    const bool video = packet_.PID == pid;
    if (video && keep >= 0 && count >= keep && packet_.payload_unit_start_indicator) break;
    if (fill + kTSPacketSize > room && !flush()) return -1;
    uint8_t* d = work + fill;
    std::memcpy(d, packet_bytes(), kTSPacketSize);
    fill += kTSPacketSize;
    PayloadPieces pieces;
    if (video && video_pieces(&pieces)) {
      next_cc = (packet_.continuity_counter + 1) & 15;
      const uint8_t* src = packet_bytes();
      for (int k = 0; k < pieces.count; ++k) {
        uint8_t* q = d + (pieces.p[k] - src);
        const int64_t from = keep < 0 ? pieces.n[k] : std::clamp<int64_t>(keep - count, 0, pieces.n[k]);
        const int blanked = int(pieces.n[k] - from);
        if (blanked > 0) {
          std::memset(q + from, 0, size_t(blanked));
          if (!end_code && blanked >= 4) {
            q[from] = 0, q[from + 1] = 0, q[from + 2] = 1, q[from + 3] = 0xB7;
            end_code = true;
          }
        }
        count += pieces.n[k];
      }
    } else if (video) {
      next_cc = (packet_.continuity_counter + 1) & 15;
    }
    advance_packet();
  }
  if (!flush()) return -1;
  if (pid == kNoPid) return written;

  // Closing packets: their counters follow the last video packet written.
  const uint8_t seq_end[4] = {0, 0, 1, 0xB7};
  const uint8_t prog_end[4] = {0, 0, 1, 0xB9};
  const bool known = next_cc >= 0;
  int cc = known ? next_cc : 0;
  if (!end_code) build_packet(work + fill, pid, false, cc++, seq_end, 4, !known), fill += kTSPacketSize;
  build_packet(work + fill, pid, false, cc, prog_end, 4, !known && end_code);
  fill += kTSPacketSize;
  if (!flush()) return -1;
  return written;
}
