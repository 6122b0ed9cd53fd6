// Transport packets: the 188-byte walk over the read buffer with
// resynchronisation, packet-aligned seeks, PES headers inside payloads and
// payload bytes gathered across the packets of one PID.
#include <algorithm>
#include <cstring>

#include "demux/transport_demuxer.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

// Stream ids whose PES packets have no optional header.
bool has_optional_header(int id) {
  switch (id) {
    case 0xBC:
    case 0xBE:
    case 0xBF:
    case 0xF0:
    case 0xF1:
    case 0xF2:
    case 0xF8:
    case 0xFF:
      return false;
    default:
      return true;
  }
}

// A 33-bit time stamp from the five bytes at p; the top bit set reads as a
// negative value.
double read_time_stamp(const uint8_t* p) {
  const int64_t v = (int64_t((p[0] >> 1) & 7) << 30) | (int64_t(p[1]) << 22) | (int64_t(p[2] >> 1) << 15) |
                    (int64_t(p[3]) << 7) | int64_t(p[4] >> 1);
  return double(v >= (int64_t(1) << 32) ? v - (int64_t(1) << 33) : v);
}

}  // namespace

int DeMuxerTransport::parse_pes_header(const uint8_t* p, int n, PesHeader* h) {
  StartCodeCursor c(p, n);
  if (!c.find_if([](uint8_t id) { return id >= 0xBC; }) || n - c.offset() < 9) return 1;
  const int i = int(c.offset());
  const uint8_t* q = p + i;
  if ((q[6] & 0xC0) != 0x80) return 4;
  PesHeader r;
  r.start_offset = i;
  r.stream_id = q[3];
  const int len = (q[4] << 8) | q[5];
  r.total_length = len + 6;
  r.header_length = 6;
  if (has_optional_header(r.stream_id)) {
    const int hdl = q[8];
    r.header_length = hdl + 9;
    const int flags = q[7] >> 6;
    // The time stamps are taken only when their bytes are held (a header cut
    // by the packet end reads as one without time stamps); '01' is forbidden.
    const int held = n - i;
    if ((flags & 2) && hdl >= 5 && held >= 14) {
      r.pts = read_time_stamp(q + 9);
      r.pts_flag = 1;
      r.pts_kind = 2;
      if (flags == 3 && hdl >= 10 && held >= 19) {
        r.dts = read_time_stamp(q + 14);
        r.pts_kind = 3;
      }
    }
  }
  if (len == 0) {
    r.total_length = r.payload_length = 0;
  } else {
    if (r.total_length < r.header_length) return 4;  // a length that lies
    r.payload_length = r.total_length - r.header_length;
  }
  *h = r;
  return 0;
}

DeMuxerTransport::PayloadPieces DeMuxerTransport::payload_pieces() {
  PayloadPieces out;
  const uint8_t* p = payload_bytes();
  const int n = packet_.payload_length;
  if (n <= 0) return out;
  if (packet_.payload_unit_start_indicator && pes_packet_.equals(current_offset())) {
    const int head = std::min(pes_.start_offset, n);
    if (head > 0) out.add(p, head);
    const int body = pes_.start_offset + pes_.header_length;
    if (body < n) out.add(p + body, n - body);
    return out;
  }
  if (header_skip_ > 0 && header_skip_pid_ == packet_.PID) {
    const int skip = std::min(header_skip_, n);
    header_skip_ -= skip;
    if (skip < n) out.add(p + skip, n - skip);
    return out;
  }
  out.add(p, n);
  return out;
}

int DeMuxerTransport::copy_pieces(const PayloadPieces& pieces, uint8_t* dst, int room) {
  if (pieces.total() > room) return -1;
  int done = 0;
  for (int k = 0; k < pieces.count; ++k) {
    std::memcpy(dst + done, pieces.p[k], size_t(pieces.n[k]));
    done += pieces.n[k];
  }
  return done;
}

void DeMuxerTransport::advance_packet() {
  if (buf_.unread < kTSPacketSize) fill_bs_buffer();
  if (buf_.unread >= kTSPacketSize) {
    buf_.rd += kTSPacketSize;
    buf_.unread -= kTSPacketSize;
  } else {
    buf_.rd += buf_.unread;
    buf_.unread = 0;
  }
}

// Looks for ten packets in a row from the read position on.
void DeMuxerTransport::resync() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    fill_bs_buffer();
    if (buf_.unread < kTSPacketSize) return;
    const int64_t k = utils_find_ts_sync(packet_bytes(), buf_.unread, 10, 1);
    if (k >= 0) {
      buf_.rd += int(k);
      buf_.unread -= int(k);
      return;
    }
    advance_packet();
  }
}

int DeMuxerTransport::read_packet() {
  if (current_offset().greater_or_equal(src_.end_data)) return 1;
  if (buf_.unread <= kTSPacketSize) fill_bs_buffer();
  if (buf_.unread < kTSPacketSize) {
    packet_.clear();
    return 1;
  }
  if (packet_bytes()[0] != 0x47) {
    resync();
    if (buf_.unread < kTSPacketSize) {
      packet_.clear();
      return 1;
    }
  }
  return packet_.decode(packet_bytes(), 0) ? 1 : 0;
}

// A PES header that the packet end cuts: its bytes gathered from the
// following packets of the PID still held in the read buffer (the read
// position does not move). 0 and pes_ filled, else the parser's result.
int DeMuxerTransport::parse_split_pes_header() {
  constexpr int kMost = 9 + 255 + 16;  // the longest header, and a little
  uint8_t bytes[kMost];
  int have = std::min(packet_.payload_length, kMost);
  std::memcpy(bytes, payload_bytes(), size_t(have));
  if (buf_.unread < 64 * kTSPacketSize) fill_bs_buffer();
  const uint8_t* base = packet_bytes();
  const int pid = packet_.PID;
  TSPacket next;
  for (int at = kTSPacketSize; have < kMost && at + kTSPacketSize <= buf_.unread; at += kTSPacketSize) {
    if (next.decode(base + at, 0) != 0) break;  // lost the packet grid: give up
    if (next.PID != pid || next.payload_length <= 0) continue;
    if (next.payload_unit_start_indicator) break;
    const int take = std::min(next.payload_length, kMost - have);
    std::memcpy(bytes + have, base + at + next.payload_start(), size_t(take));
    have += take;
    PesHeader h;
    if (parse_pes_header(bytes, have, &h) == 0 && h.start_offset + h.header_length <= have) break;
  }
  return parse_pes_header(bytes, have, &pes_);
}

int DeMuxerTransport::decode_pes_header() {
  if (packet_.payload_length <= 0) return 1;
  const int n = packet_.payload_length;
  int r = parse_pes_header(payload_bytes(), n, &pes_);
  if ((r == 1 || (r == 0 && pes_.pts_flag == 0 && pes_.start_offset + pes_.header_length > n)) &&
      packet_.payload_unit_start_indicator)
    r = parse_split_pes_header();
  if (r) {
    pes_packet_.zero();
    return r;
  }
  if (pes_.stream_id == 0xBD && is_lpcm_pid(packet_.PID)) {
    // The linear PCM header is the stream's own framing: readers get samples.
    pes_.header_length += 4;
    pes_.payload_length = std::max(0, pes_.payload_length - 4);
  }
  pes_packet_ = current_offset();
  pes_payload_length_ = pes_.payload_length;
  header_skip_ = std::max(0, pes_.start_offset + pes_.header_length - n);
  header_skip_pid_ = packet_.PID;
  return 0;
}

bool DeMuxerTransport::is_packet_start(FileOffset at) {
  DeMuxer::goto_offset(at);
  if (buf_.unread < kTSPacketSize + 1) fill_bs_buffer();
  if (buf_.unread < 1 || packet_bytes()[0] != 0x47) return false;
  return buf_.unread <= kTSPacketSize || packet_bytes()[kTSPacketSize] == 0x47;
}

void DeMuxerTransport::goto_offset(FileOffset offset) {
  header_skip_ = 0;
  const uint64_t size = src_.size.value();
  uint64_t o = offset.value();
  // An offset this object handed out (a packet start, also behind damage
  // that moved the packet grid) is kept as it is.
  if (o < size && is_packet_start(offset)) return;
  if (o > size)
    o = size;
  else
    o -= o % kTSPacketSize;
  o += uint64_t(sync_phase_);
  if (o > src_.end_data.value()) o = src_.end_data.value();
  DeMuxer::goto_offset(FileOffset::from_u64(o));
  if (buf_.unread >= kTSPacketSize && packet_bytes()[0] != 0x47) resync();
}

void DeMuxerTransport::seek_exact(FileOffset at) {
  header_skip_ = 0;
  DeMuxer::goto_offset(at);
}

FileOffset DeMuxerTransport::get_curr_offset(FileOffset* out) {
  FileOffset o = curr_pes_offset_.value() > 0 ? curr_pes_offset_ : current_offset();
  if (out) *out = o;
  return o;
}

int DeMuxerTransport::pid_index(int pid) const {
  for (size_t i = 0; i < pids_.size(); ++i)
    if (pids_[i] == pid) return int(i);
  return -1;
}

int DeMuxerTransport::next_packet() {
  next_status_ = NextStatus::end;
  if (read_packet() || st_.es_data.empty()) return 0;
  const int i = pid_index(packet_.PID);
  next_status_ = NextStatus::foreign_pid;
  if (i < 0 || i >= int(st_.es_data.size())) return 0;
  const int id = st_.es_data[size_t(i)].stream_id;
  if (!id) return 0;
  next_status_ = NextStatus::es_packet;
  pes_payload_length_ = 0;
  if (!packet_.payload_unit_start_indicator) return id;
  curr_pes_offset_ = current_offset();
  if (decode_pes_header()) {
    trace("DeMuxerTransport::next_packet (): no PES header at %.0f\n", current_offset().to_double());
    advance_packet();
    next_status_ = NextStatus::foreign_pid;
    return 0;
  }
  return id;
}

int DeMuxerTransport::skip_packet() {
  const int pid = packet_.PID;
  while (true) {
    advance_packet();
    if (read_packet()) return 1;
    if (packet_.PID != pid) return 0;
  }
}

int DeMuxerTransport::get_payload(uint8_t* out, int n) {
  if (!out || n <= 0 || packet_.payload_length <= 0) return 0;
  const int pid = packet_.PID;
  int done = 0;
  while (true) {
    const int got = copy_pieces(payload_pieces(), out + done, n - done);
    if (got < 0) break;
    done += got;
    advance_packet();
    if (n - done < 184 || read_packet()) break;
    if (packet_.PID != pid || packet_.payload_unit_start_indicator) break;
  }
  return done;
}

int DeMuxerTransport::get_one_payload(uint8_t* out, int n) {
  if (n < 184) {
    trace("DeMuxerTransport::get_one_payload (): input buffer < 184 bytes\n");
    return 0;
  }
  const int got = copy_pieces(payload_pieces(), out, n);
  advance_packet();
  return std::max(got, 0);
}

int DeMuxerTransport::copy_pes_payload(uint8_t* out, int room) {
  const int pid = packet_.PID;
  int done = 0;
  const int got = copy_pieces(payload_pieces(), out, room);
  if (got < 0) {
    advance_packet();
    return 0;
  }
  done = got;
  while (true) {
    advance_packet();
    if (read_packet()) {
      if (current_offset().value() + 187 >= src_.size.value()) break;
      continue;
    }
    if (packet_.PID != pid || packet_.payload_length <= 0) continue;
    if (packet_.payload_unit_start_indicator) break;
    const int more = copy_pieces(payload_pieces(), out + done, room - done);
    if (more < 0) break;
    done += more;
  }
  return done;
}

int DeMuxerTransport::get_pes_payload(int* stream_id, uint8_t* out, int size) {
  if (stream_id) *stream_id = 0;
  if (decode_pes_header()) return 0;
  const FileOffset keep = current_offset();
  const int id = pes_.stream_id;
  const int n = copy_pes_payload(out, size);
  seek_exact(keep);
  if (read_packet() == 0) (void)decode_pes_header();
  if (n < 65) return 0;
  if (!((id >= 0xC0 && id <= 0xEF) || id == 0xBD)) return 0;
  if (stream_id) *stream_id = id;
  return n;
}
