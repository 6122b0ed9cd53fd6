// In-place patches of a transport stream: bit rate, VBV buffer size and
// vbv_delay of the headers of one video PID. The headers' bytes are found in
// the packets' payload and written back at their file offsets, also when a
// packet end splits a header in two.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "demux/transport_demuxer.h"
#include "foundation/bsfile.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"

namespace {

constexpr int kSeqBytes = 12;
constexpr int kPicBytes = 8;
constexpr int kChunkPackets = 4096;

std::unique_ptr<BSFile> open_update(const std::string& name) {
  int err = 0;
  auto f = std::make_unique<BSFile>(name.c_str(), 3, &err);
  if (err || !f->is_open() || f->kind() != BSFile::Kind::plain) {
    trace("BSFile:ctor (%s, BSF_UPDATE) failed\n", name.c_str());
    return nullptr;
  }
  return f;
}

}  // namespace

int DeMuxerTransport::patch_pid_for(int stream_id) const {
  // The selected video when it carries that id, else the first that does.
  const int i = pid_index(video_pid_);
  if (i >= 0 && i < int(st_.es_data.size()) && st_.es_data[size_t(i)].stream_id == stream_id) return video_pid_;
  for (size_t k = 0; k < st_.es_data.size() && k < pids_.size(); ++k)
    if (st_.es_data[k].stream_id == stream_id) return pids_[k];
  return video_pid_;
}

bool DeMuxerTransport::walk_video_headers(BSFile* f, int pid, const HeaderVisit& visit) {
  const uint64_t size = f->size().value();
  std::vector<uint8_t> chunk(size_t(kChunkPackets) * kTSPacketSize);
  std::vector<uint8_t> w;
  std::vector<uint64_t> wo;  // file offset of each byte of w
  int carry = 0;             // PES header bytes still to skip in the next packet
  uint64_t o = uint64_t(sync_phase_);
  TSPacket pk;
  auto scan = [&](bool last) {
    size_t pos = 0;
    while (pos + 4 <= w.size()) {
      int code = 0;
      const int at = int(pos) + find_next_header_start(w.data() + pos, int(w.size() - pos), &code);
      if (code == 0xFFF) {
        pos = w.size() >= 3 ? w.size() - 3 : 0;
        break;
      }
      const int need = code == 0x1B3 ? kSeqBytes : code == 0x100 ? kPicBytes : 4;
      if (int(w.size()) - at < need) {
        pos = size_t(at);
        if (last) pos = w.size();
        break;
      }
      if (code == 0x1B3 || code == 0x100) {
        int k = 1;
        while (k < need && wo[size_t(at + k)] == wo[size_t(at)] + uint64_t(k)) ++k;
        int k2 = k + 1;
        while (k2 < need && wo[size_t(at + k2)] == wo[size_t(at + k)] + uint64_t(k2 - k)) ++k2;
        if (k2 < need) {
          trace("DeMuxerTransport: a header at %llu spans three packets; left as it is\n",
                (unsigned long long)wo[size_t(at)]);
        } else if (!visit(FileOffset::from_u64(wo[size_t(at)]), k < need ? k : 0,
                          FileOffset::from_u64(k < need ? wo[size_t(at + k)] : 0), code)) {
          return false;
        }
      }
      pos = size_t(at) + 4;
    }
    w.erase(w.begin(), w.begin() + long(pos));
    wo.erase(wo.begin(), wo.begin() + long(pos));
    return true;
  };
  while (o + kTSPacketSize <= size) {
    f->seek(FileOffset::from_u64(o), 0);
    const size_t want = size_t(std::min<uint64_t>(chunk.size(), size - o));
    const size_t got = f->read(chunk.data(), want);
    if (got < kTSPacketSize) break;
    size_t k = 0;
    for (; k + kTSPacketSize <= got; k += kTSPacketSize) {
      const uint8_t* p = chunk.data() + k;
      if (p[0] != 0x47) {
        // Lost the grid: on from the next sync byte.
        size_t j = k + 1;
        while (j < got && chunk[j] != 0x47) ++j;
        k = j - kTSPacketSize;
        continue;
      }
      if (pk.decode(p, 0) != 0 || pk.PID != pid || pk.payload_length <= 0) continue;
      const int ps = pk.payload_start();
      int from = ps;
      if (pk.payload_unit_start_indicator) {
        PesHeader h;
        const int r = parse_pes_header(p + ps, pk.payload_length, &h);
        if (r != 0) {
          trace("DeMuxerTransport::vbv_modifier (ERROR=%d): offset= %.0f(BS), %d(pkt)\n", r, double(o + k),
                int((o + k) / kTSPacketSize));
          carry = 0;
          continue;
        }
        for (int i = 0; i < h.start_offset; ++i) w.push_back(p[ps + i]), wo.push_back(o + k + uint64_t(ps + i));
        const int body = h.start_offset + h.header_length;
        carry = std::max(0, body - pk.payload_length);
        from = ps + std::min(body, pk.payload_length);
      } else if (carry > 0) {
        const int skip = std::min(carry, pk.payload_length);
        carry -= skip;
        from = ps + skip;
      }
      for (int i = from; i < kTSPacketSize; ++i) w.push_back(p[i]), wo.push_back(o + k + uint64_t(i));
      if (w.size() >= 4096 && !scan(false)) return true;
    }
    o += k;
    if (got < want) break;
  }
  scan(true);
  return true;
}

int DeMuxerTransport::seqhdr_modifier(int stream_id, int bit_rate) {
  if (src_.name.empty()) {
    trace("DeMuxer::seqhdr_modifier (ERROR): fname=nil\n");
    return -1;
  }
  const int pid = patch_pid_for(stream_id);
  if (pid == kNoPid) return -1;
  const FileOffset keep = current_offset();
  auto u = open_update(src_.name);
  if (!u) return -1;
  const int v = to_bit_rate_value(bit_rate);
  int count = 0;
  bool failed = false;
  walk_video_headers(u.get(), pid, [&](FileOffset at, int split, FileOffset at2, int code) {
    if (code != 0x1B3) return true;
    uint8_t h[kSeqBytes];
    if (!read_seqhdr(u.get(), h, at, split, at2)) return !(failed = true);
    //   byte 8: R*8   byte 9: R*8   byte 10: R R m S S S S S   (R: bit_rate_value)
    const int old = (h[8] << 10) | (h[9] << 2) | (h[10] >> 6);
    if (old == v) return true;
    h[8] = uint8_t(v >> 10);
    h[9] = uint8_t(v >> 2);
    h[10] = uint8_t((h[10] & 0x3F) | ((v & 3) << 6));
    if (!write_seqhdr(u.get(), h, at, split, at2)) return !(failed = true);
    ++count;
    return true;
  });
  u.reset();
  empty_bs_buffer();
  buf_.end.zero();
  goto_offset(keep);
  return failed ? -1 : count;
}

int DeMuxerTransport::vbv_modifier(int stream_id, int vbv_size, int increment) {
  if (src_.name.empty()) {
    trace("DeMuxer::vbv_modifier (ERROR): fname=nil\n");
    return -1;
  }
  const int pid = patch_pid_for(stream_id);
  if (pid == kNoPid) return -1;
  const int code = vbv_size ? to_vbv_size_code(vbv_size) : 0;
  const FileOffset keep = current_offset();
  auto u = open_update(src_.name);
  if (!u) return -1;
  int pictures = 0;
  bool failed = false;
  walk_video_headers(u.get(), pid, [&](FileOffset at, int split, FileOffset at2, int c) {
    if (c == 0x1B3) {
      if (code && set_vbv_buffer_size(u.get(), code, at, split, at2) < 0) failed = true;
      return !failed;
    }
    if (increment && add_vbv_delay(u.get(), increment, at, split, at2) < 0) return !(failed = true);
    ++pictures;
    return true;
  });
  u.reset();
  empty_bs_buffer();
  buf_.end.zero();
  goto_offset(keep);
  return failed ? -1 : pictures;
}
