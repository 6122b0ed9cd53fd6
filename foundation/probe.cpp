#include "foundation/probe.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/big_endian.h"
#include "foundation/bsfile.h"
#include "foundation/mpeg_fields.h"
#include "foundation/pic_header.h"
#include "foundation/ps_map.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "foundation/system_header.h"
#include "foundation/trace.h"
#include "foundation/ts_packet.h"
#include "foundation/ts_tables.h"
#include "foundation/utils.h"

namespace {

constexpr int kScanBytes = 131072;

// Next 00 00 01 xx at or after pos (xx any), *code = 0x100 + xx; -1 when
// none with 4 bytes.
inline int next_code(const uint8_t* d, int pos, int n, int* code) {
  if (n - pos < 4) return -1;
  StartCodeCursor c(d, n);
  c.seek(pos);
  if (!c.next()) return -1;
  *code = 0x100 + c.code();
  return static_cast<int>(c.offset());
}

// Full path of an existing readable file; empty when there is none.
std::string full_path(const char* name) {
  char buf[PATH_MAX];
  if (!utils_get_full_pathname(name, buf, sizeof buf)) return {};
  return buf;
}

bool file_time(const char* name, int64_t* sec, int64_t* nsec, uint64_t* bytes) {
  struct stat st;
  if (stat(name, &st) != 0) return false;
  *sec = static_cast<int64_t>(st.st_mtim.tv_sec);
  *nsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  if (bytes) *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

// Mux rate of the pack at p (bit/s), from either layout; 0 when neither.
int pack_mux_rate(const uint8_t* p, int avail) {
  if (avail >= 14 && (p[4] & 0xC0) == 0x40)  // MPEG-2: program_mux_rate, bytes 10-12
    return static_cast<int>(((static_cast<uint32_t>(p[10]) << 14) | (p[11] << 6) | (p[12] >> 2)) * 400u);
  if (avail >= 12 && (p[4] & 0xF0) == 0x20)  // MPEG-1: mux_rate, bytes 9-11
    return static_cast<int>((((p[9] & 0x7Fu) << 15) | (p[10] << 7) | (p[11] >> 1)) * 400u);
  return 0;
}

int ac3_frames_bit_rate(const uint8_t* data, int n, int frames) {
  AC3FrmHdr h;
  if (ac3_check_frames(&h, data, n, frames, 0) && h.valid) return h.bit_rate;
  return 0;
}

}  // namespace

// ---- MPEGFile ----------------------------------------------------------------

void MPEGFile::reset() {
  name.clear();
  stream_type = 0;
  bit_rate = 0;
  vbr = 0;
  time = time_ns = 0;
  size.zero();
  cd_sectors = 0;
  recorder_file = 0;
}

bool MPEGFile::has_name(const char* other) const { return other && name == other; }

int MPEGFile::is_unchanged() const {
  int64_t s = 0, ns = 0;
  uint64_t bytes = 0;
  if (!file_time(name.c_str(), &s, &ns, &bytes)) return 0;
  return bytes == size.value() && s == time && ns == time_ns;
}

int MPEGFile::init(const char* file_name) {
  clear();
  if (!file_name || !*file_name) return 1;
  const size_t len = std::strlen(file_name);
  if (len > 7) {
    std::string tail(file_name + len - 7);
    for (auto& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (tail == ".DVR-MS") recorder_file = 1;
  }
  // Stamp the file before reading it: a change during the probe then shows
  // at the next query.
  int64_t sec = 0, nsec = 0;
  uint64_t bytes = 0;
  if (!file_time(file_name, &sec, &nsec, &bytes)) return 1;
  int n = kProbeBytes;
  auto data = mpegfile::load_data(file_name, &n);
  if (!data) return 1;
  int failed = detect_type(data.get(), n);
  if (!failed && stream_type != 1) vbr = mpegfile_detect_vbr(data.get(), n);
  if (!failed && recorder_file && (stream_type == 2 || stream_type == 3)) {
    trace("<%s>: recorder file holds an elementary video stream\n", file_name);
    failed = 1;
  }
  if (failed) return 1;
  bit_rate = mpegfile_estimate_bit_rate(stream_type, bit_rate, file_name);
  size = FileOffset::from_u64(bytes);
  time = sec;
  time_ns = nsec;
  name = file_name;
  return 0;
}

int MPEGFile::detect_type(const uint8_t* data, int n) {
  if (!data || n < 4) return 1;
  if (is_audio_es(data, n)) return 0;
  if (is_ac3(data, n)) return 0;
  if (is_transport(data, n)) return 0;
  if (is_system(data, n)) return 0;
  if (is_video_es(data, n)) return 0;
  return 1;
}

int MPEGFile::is_audio_es(const uint8_t* data, int n) {
  if (start_code_at(data, n, 0) == 0xBA) return 0;
  const int rate = mpegfile_probe_audio_bit_rate(data, n, 20);
  if (!rate) return 0;
  stream_type = STREAM_TYPE_MPEG1_AUDIO;
  bit_rate = rate;
  return 1;
}

int MPEGFile::is_ac3(const uint8_t* data, int n) {
  int frames = 10;
  if (n > 65536)
    n = 65536;
  else if (n < 65536)
    frames = 3;
  AC3FrmHdr h;
  const int at = h.decode(data, n, 0);
  if (!h.valid || h.frame_size < 1) return 0;
  if ((n - at) / h.frame_size < frames) return 0;
  AC3FrmHdr run;
  if (!ac3_check_frames(&run, data + at, n - at, frames, 0)) return 0;
  stream_type = STREAM_TYPE_AC3_AUDIO;
  bit_rate = h.bit_rate;
  return 1;
}

int MPEGFile::is_transport(const uint8_t* data, int n) {
  const int start = static_cast<int>(utils_find_ts_sync(data, n, 200, 1));
  if (start < 0) return 0;
  stream_type = STREAM_TYPE_MPEG2_TRANSPORT;
  int rate = mpegfile_probe_ts_bit_rate(data + start, n - start);
  if (!rate) rate = mpegfile_probe_video_bit_rate(data, n);
  if (!rate) return 0;
  bit_rate = rate;
  return 1;
}

int MPEGFile::is_video_es(const uint8_t* data, int n) {
  int type = 0;
  const int rate = mpegfile_probe_video_bit_rate(data, n, &type);
  if (!rate) return 0;
  stream_type = type;
  bit_rate = rate;
  return 1;
}

int mpegfile_find_sector_pack(const uint8_t* p, int remain, int* distance) {
  auto pack_at = [&](int d) {
    return d > 0 && start_code_at(p, remain, d) == 0xBA;
  };
  if (pack_at(*distance)) return 1;
  for (int d : {2304, 2324, 2352}) {
    if (pack_at(d)) {
      if (d != 2304) *distance = d;
      return 1;
    }
  }
  return 0;
}

int MPEGFile::is_system(const uint8_t* data, int n) {
  int packs = 0, hits = 0, mpeg1 = 0, mpeg2 = 0, pes = 0, distance = 0;
  int64_t covered = 0;
  bool info = false;
  int limit = std::min(n, kScanBytes);
  int pos = 0;
  bool early = false;
  for (int pass = 0; pass < 2; ++pass) {
    int code = 0;
    while (!early) {
      const int at = next_code(data, pos, limit, &code);
      if (at < 0) {
        pos = std::max(pos, limit - 3);  // a code may straddle the limit
        break;
      }
      pos = at;
      if (code == 0x1BA) {
        if (limit - pos < 2356) {
          pos += 4;
          continue;
        }
        const int pack = pos;
        ++packs;
        if (mpegfile_find_sector_pack(data + pos, limit - pos, &distance)) ++hits;
        int next_code_value = 0;
        const int next = next_code(data, pos + 4, limit, &next_code_value);
        if (next < 0) {
          pos = std::max(pack + 4, limit - 3);
          covered += pos - pack;
          break;
        }
        const int d = next - pack;
        if (d == 12)
          ++mpeg1;
        else if (d >= 14)
          ++mpeg2;
        pos = next;
        if (next_code_value == 0x1BB) {
          SysHdr sh;
          if (sh.decode(data + pos, limit - pos) > 0) {
            info = true;
            pos += std::min(sh.header_length, limit - pos);
          } else {
            pos += 4;
          }
        } else if (next_code_value == 0x1BC) {
          PSPSM map;
          if (map.decode(data + pos, limit - pos) == 0) {
            info = true;
            pos += std::min(map.program_stream_map_length + 6, limit - pos);
          } else {
            pos += 4;
          }
        }
        covered += pos - pack;
      } else if (code == 0x1BD || code == 0x1BE || (code >= 0x1C0 && code <= 0x1EF)) {
        ++pes;
        const int end = pos + 6 + (limit - pos >= 6 ? load_be16(data + pos + 4) : 0);
        if (start_code_at(data, limit, end) >= 0xBA) {
          covered += end - pos;
          pos = end;
        } else {
          pos += 4;
        }
      } else {
        pos += 4;
      }
      if (info && (packs >= 50 || pes >= 50)) early = true;
    }
    if (early || limit >= n || (info && (packs >= 50 || pes >= 50))) break;
    limit = n;  // go on over the rest of the data once
  }
  const int scanned = std::max(1, std::min(pos, limit));
  const bool program = (info && (pes >= scanned / 32768 || covered * 4 >= static_cast<int64_t>(scanned) * 3)) ||
                       packs >= 50 || pes >= 50;
  if (!program) return 0;
  int type = 0;
  if (mpeg1 && !mpeg2)
    type = STREAM_TYPE_MPEG1_SYSTEM;
  else if (mpeg2 && !mpeg1)
    type = STREAM_TYPE_MPEG2_PROGRAM;
  else if (mpeg1 || mpeg2)
    type = mpeg1 > mpeg2 ? STREAM_TYPE_MPEG1_SYSTEM : STREAM_TYPE_MPEG2_PROGRAM;
  if (!type) return 0;
  const int rate = mpegfile_probe_pes_bit_rate(data, n);
  if (!rate) {
    stream_type = 0;
    return 0;
  }
  stream_type = type;
  bit_rate = rate;
  cd_sectors = 0;
  if (packs >= 2 && hits == packs) cd_sectors = type == STREAM_TYPE_MPEG1_SYSTEM ? 1 : 2;
  return 1;
}

// ---- bit-rate probes -----------------------------------------------------------

int mpegfile_probe_audio_bit_rate(const uint8_t* data, int n, int frames) {
  if (!data || n < 4) return 0;
  n = std::min(n, kScanBytes);
  FrmHdr h;
  const int at = h.parse_buffer(data, n);
  if (!h.valid || h.frame_size < 1) return 0;
  const int fit = (n - at) / h.frame_size;
  const int count = std::min(frames, fit);
  if (count < 1) return 0;
  FrmHdr run;
  if (!run.check_frames(data + at, n - at, count, 1)) return 0;
  // The run may start past a false sync: take the rate of its first frame.
  if (run.first_offset > 0) {
    FrmHdr first;
    first.parse_buffer(data + at + run.first_offset, n - at - run.first_offset);
    if (first.valid) return first.bit_rate;
  }
  return h.bit_rate;
}

int mpegfile_probe_video_bit_rate(const uint8_t* data, int n, int* type) {
  if (!data || n < 12) return 0;
  const int at = start_code_find(data, n, 0xB3, 12);
  if (at < 0) return 0;
  SeqHdr h;
  if (h.decode(data + at, n - at) <= 0 || h.invalid) return 0;
  if (h.checks() != 0) return 0;
  if (type) *type = h.mpeg2 ? STREAM_TYPE_MPEG2_VIDEO : STREAM_TYPE_MPEG1_VIDEO;
  return h.get_bit_rate();
}

int mpegfile_probe_pes_bit_rate(const uint8_t* data, int n) {
  if (!data || n < 65) return 0;
  int64_t mux_sum = 0, bound_sum = 0, video_bytes = 0, audio_bytes = 0;
  int packs = 0, bounds = 0, video_packets = 0, audio_packets = 0;
  int pos = 0, code = 0;
  while (n - pos >= 65) {
    const int at = next_code(data, pos, n, &code);
    if (at < 0 || n - at < 65) break;
    pos = at;
    if (code == 0x1BA) {
      if (packs == 10) break;
      ++packs;
      mux_sum += pack_mux_rate(data + pos, n - pos);
      int next = 0;
      const int sh_at = next_code(data, pos + 4, n, &next);
      if (sh_at >= 0 && next == 0x1BB) {
        SysHdr sh;
        if (sh.decode(data + sh_at, n - sh_at) > 0) {
          bound_sum += sh.rate_bound;
          ++bounds;
        }
      }
    } else if (code >= 0x1C0 && code <= 0x1EF) {
      const int len = load_be16(data + pos + 4) + 6;
      if (code >= 0x1E0) {
        video_bytes += len;
        ++video_packets;
      } else {
        audio_bytes += len;
        ++audio_packets;
      }
    }
    pos += 4;
  }
  const int r1 = bounds ? static_cast<int>(std::lround(static_cast<double>(bound_sum) / bounds)) : 0;
  const int r2 = packs ? static_cast<int>(std::lround(static_cast<double>(mux_sum) / packs)) : 0;
  if (r1) return r2 == r1 ? r1 : (r2 > 0 ? r2 : r1);
  if (r2 > 0) return r2;
  // No multiplex rates: sum the elementary rates with the PES overhead.
  int64_t total = 0;
  if (video_packets) {
    const int64_t v = mpegfile_probe_video_bit_rate(data, n);
    const int64_t a = video_bytes / video_packets;
    total += a - 16 < 16 ? v : v * a / (a - 16);
  }
  if (audio_packets) {
    const int64_t r = mpegfile_probe_audio_bit_rate(data, n, 3);
    const int64_t a = audio_bytes / audio_packets;
    total += a - 16 < 16 ? r : r * a / (a - 16);
  }
  return static_cast<int>(std::min<int64_t>(total, INT_MAX));
}

int mpegfile_probe_ts_bit_rate(const uint8_t* data, int n) {
  if (!data || n < 188) return 0;
  struct Tally {
    int pid;
    int packets;
    int64_t bytes;
  };
  struct PcrRef {
    int pid;
    double pcr;
    int pos;
  };
  Tally tally[64];
  int tallied = 0;
  PcrRef refs[8];
  int nrefs = 0;
  int bad_pats = 0;
  TSPacket pkt;
  PAT pat;
  for (int pos = 0; pos + 188 <= n; pos += 188) {
    const uint8_t* p = data + pos;
    if (p[0] != 0x47 || pkt.decode(p, 0) != 0) continue;
    if (pkt.PID == 0 && pkt.payload_length > 0 && pkt.payload_unit_start_indicator) {
      const int start = pkt.payload_start();
      const int pointer = p[start];
      const int sec = start + 1 + pointer;
      if (sec >= 188 || !pat.decode(p + sec, 188 - sec)) {
        if (++bad_pats > 100) break;
      }
    }
    if (pkt.has_pcr()) {
      // Pair PCRs of one PID; a wrap, a jump or a repeat gives no rate.
      const double pcr = pkt.adaptation->pcr();
      int r = 0;
      while (r < nrefs && refs[r].pid != pkt.PID) ++r;
      if (r < nrefs) {
        const double diff = pcr - refs[r].pcr;
        if (diff > 0 && diff <= 90000 * 0.7) {
          const double rate = static_cast<double>(pos - refs[r].pos) * 720000.0 / diff;
          if (rate >= 1 && rate < INT_MAX) return static_cast<int>(std::lround(rate));
        }
        refs[r] = {pkt.PID, pcr, pos};
      } else if (nrefs < 8) {
        refs[nrefs++] = {pkt.PID, pcr, pos};
      }
    }
    if (pkt.PID == 0x1FFF || pkt.payload_length == 0) continue;
    int t = 0;
    while (t < tallied && tally[t].pid != pkt.PID) ++t;
    if (t == tallied) {
      if (tallied == 64) continue;
      tally[tallied++] = {pkt.PID, 0, 0};
    }
    ++tally[t].packets;
    tally[t].bytes += pkt.payload_length;
  }
  if (!tallied) return 0;
  int best = 0;
  for (int t = 1; t < tallied; ++t)
    if (tally[t].bytes > tally[best].bytes) best = t;
  // Gather that PID's payloads without PES headers and look inside.
  std::vector<uint8_t> es;
  es.reserve(static_cast<size_t>(tally[best].bytes) + 8);
  for (int pos = 0; pos + 188 <= n; pos += 188) {
    const uint8_t* p = data + pos;
    if (p[0] != 0x47 || pkt.decode(p, 0) != 0 || pkt.PID != tally[best].pid || !pkt.payload_length) continue;
    int start = pkt.payload_start();
    if (pkt.payload_unit_start_indicator) {
      const int h = pes_header_length(p + start, 188 - start);
      if (h > 0) start += std::min(h, 188 - start);
    }
    es.insert(es.end(), p + start, p + 188);
  }
  const int len = static_cast<int>(es.size());
  es.resize(es.size() + 8, 0);
  if (int v = mpegfile_probe_video_bit_rate(es.data(), len)) return v;
  FrmHdr run;
  if (len > 4 && run.check_frames(es.data(), len, 10, 1)) {
    FrmHdr h;
    h.parse_buffer(es.data() + std::max(0, run.first_offset), len - std::max(0, run.first_offset));
    if (h.valid) return static_cast<int>(static_cast<int64_t>(h.bit_rate) * 188 / 184);
  }
  if (int a = ac3_frames_bit_rate(es.data(), len, 10)) return static_cast<int>(static_cast<int64_t>(a) * 188 / 184);
  return 0;
}

int mpegfile_detect_vbr(const uint8_t* data, int n) {
  if (!data || n < 16) return 0;
  int sequences = 0, pictures = 0, vbr_pictures = 0;
  int pos = 0, code = 0;
  while (n - pos >= 16) {
    const int at = next_code(data, pos, n, &code);
    if (at < 0 || n - at < 16) break;
    pos = at;
    if (code == 0x1B3) {
      SeqHdr h;
      if (h.decode(data + pos, n - pos) > 0 && !h.invalid) ++sequences;
    } else if (code == 0x100) {
      PicHdr h;
      h.decode(data + pos, n - pos);
      if (!(h.errors & PIC_ERR_FATAL)) {
        ++pictures;
        if (h.vbv_delay == 0xFFFF) ++vbr_pictures;
      }
    }
    pos += 4;
    if (sequences && pictures >= 10) break;
  }
  return sequences && pictures && vbr_pictures && vbr_pictures >= pictures / 2;
}

namespace {

// The start codes an estimate needs from the first `total` bytes of a file,
// which is read in pieces through one small buffer: a 10 MiB sample never
// sits in memory at once, and the scan reads what the read just brought
// into the cache. Positions are file offsets.
struct SampleCodes {
  int pictures = 0;
  int64_t last_picture = 0;
  std::vector<int64_t> sequences;  // sequence header positions, in order
};

constexpr int kSamplePiece = 0x40000;

// False when nothing could be read; *total becomes the bytes read.
bool scan_sample(BSFile& f, int64_t* total, SampleCodes* out) {
  std::vector<uint8_t> buf(static_cast<size_t>(kSamplePiece) + 8);
  int64_t base = 0;  // file offset of buf[0]
  int filled = 0, pos = 0;
  f.seek(FileOffset(0u), 0);
  for (;;) {
    const int64_t next = base + filled;
    const int want = static_cast<int>(std::min<int64_t>(kSamplePiece - filled, *total - next));
    const size_t got = want > 0 ? f.read(buf.data() + filled, static_cast<size_t>(want)) : 0;
    filled += static_cast<int>(got);
    if (got < static_cast<size_t>(std::max(want, 0))) *total = base + filled;  // the file ended early
    if (*total <= 0) return false;
    int code = 0;
    for (;;) {
      const int at = next_code(buf.data(), pos, filled, &code);
      if (at < 0) break;
      if (code == 0x1B3)
        out->sequences.push_back(base + at);
      else if (code == 0x100) {
        ++out->pictures;
        out->last_picture = base + at;
      }
      pos = at + 4;
    }
    if (base + filled >= *total) return true;
    // A start code prefix may straddle the end of the piece.
    const int keep_from = std::max(pos, filled - 3);
    std::memmove(buf.data(), buf.data() + keep_from, static_cast<size_t>(filled - keep_from));
    base += keep_from;
    filled -= keep_from;
    pos = 0;
  }
}

// The last sequence header of the sample that decodes. A header is read
// from a window first; one that fails or reaches the window's end is read
// again with the rest of the sample behind it, so the answer is the one a
// decode over the whole sample gives.
bool last_sequence_header(BSFile& f, int64_t total, const std::vector<int64_t>& at, SeqHdr* out) {
  constexpr int kWindow = 0x10000;
  std::vector<uint8_t> buf;
  for (size_t k = at.size(); k-- > 0;) {
    const int64_t rest = total - at[k];
    for (int64_t len = std::min<int64_t>(kWindow, rest);; len = rest) {
      buf.assign(static_cast<size_t>(len) + 8, 0);
      f.seek(FileOffset::from_u64(static_cast<uint64_t>(at[k])), 0);
      const int n = static_cast<int>(f.read(buf.data(), static_cast<size_t>(len)));
      const int end = out->decode(buf.data(), n);
      if (n == len && end > 0 && !out->invalid && end < n - 4) return true;
      if (len >= rest || n < len) break;
    }
    if (!out->invalid) return true;  // decoded to the end of the sample
  }
  return false;
}

}  // namespace

int mpegfile_estimate_bit_rate(int type, int bit_rate, const char* name) {
  int bytes = 0;
  if (type == STREAM_TYPE_MPEG1_VIDEO || type == STREAM_TYPE_MPEG1_SYSTEM) {
    if (bit_rate >= 0x20001 && bit_rate < 0x400000) return bit_rate;
    bytes = 0x100000;
  } else if (type == STREAM_TYPE_MPEG2_VIDEO || type == STREAM_TYPE_MPEG2_PROGRAM ||
             type == STREAM_TYPE_MPEG2_TRANSPORT) {
    if (bit_rate >= 0x100001 && bit_rate < 0x2800000) return bit_rate;
    bytes = 0xA00000;
  } else {
    return bit_rate;
  }
  if (!name) return bit_rate;
  int error = 0;
  BSFile f(name, 1, &error);
  if (error || !f.is_open()) {
    trace("<%s>: cannot open to read\n", name);
    return bit_rate;
  }
  int64_t total = static_cast<int64_t>(std::min<uint64_t>(f.size().value(), static_cast<uint64_t>(bytes)));
  SampleCodes codes;
  if (!scan_sample(f, &total, &codes)) return bit_rate;
  // Each sequence header that decodes replaces the rate and frame rate:
  // the last one that does gives them.
  double frame_rate = 30000.0 / 1001.0;
  int rate = bit_rate;
  SeqHdr h;
  if (last_sequence_header(f, total, codes.sequences, &h)) {
    rate = h.get_bit_rate();
    frame_rate = h.get_frame_rate();
  }
  if (codes.pictures >= 10) {
    const double r = static_cast<double>(codes.last_picture) * 8.0 / codes.pictures * frame_rate;
    return static_cast<int>(std::min(r, static_cast<double>(INT_MAX)));
  }
  return rate;
}

// ---- files -----------------------------------------------------------------------

FileOffset mpegfile_get_file_size(const char* name) {
  int error = 0;
  BSFile f(name, 1, &error);
  if (error || !f.is_open()) return FileOffset();
  return f.size();
}

std::unique_ptr<uint8_t[]> mpegfile::load_data(const char* name, int* length) {
  if (!name || !length) return nullptr;
  int want = *length < 1 ? 0x80000 : *length;
  int error = 0;
  BSFile f(name, 1, &error);
  if (error || !f.is_open()) {
    trace("<%s>: cannot open to read\n", name);
    return nullptr;
  }
  const uint64_t size = f.size().value();
  if (size < static_cast<uint64_t>(want)) want = static_cast<int>(size);
  // Only the bytes behind what is read are cleared: clearing a buffer of
  // several MiB first cost a third of a repair scan's open.
  std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(want) + 8]);
  const size_t got = want > 0 ? f.read(buf.get(), static_cast<size_t>(want)) : 0;
  if (got == 0) return nullptr;
  std::memset(buf.get() + got, 0, static_cast<size_t>(want) + 8 - got);
  *length = static_cast<int>(got);
  return buf;
}

// ---- the list --------------------------------------------------------------------

MPEGFileList& MPEGFileList::instance() {
  static MPEGFileList list;
  return list;
}

int MPEGFileList::add(const char* full_name) {
  // Stamped before the probe reads the file: a change during the probe then
  // shows at the next query.
  const std::optional<FileStamp> stamp = FileStamp::of(full_name);
  MPEGFile f;
  if (!stamp || f.init(full_name) != 0) return -1;
  return files_.put(*stamp, std::move(f));
}

std::optional<MPEGFile> MPEGFileList::find(const char* file_name) {
  const std::string full = full_path(file_name);
  if (full.empty()) return std::nullopt;
  const std::optional<FileStamp> stamp = FileStamp::of(full.c_str());
  if (!stamp) return std::nullopt;
  std::optional<MPEGFile> found = files_.find(*stamp);
  if (!found) {
    // Not listed, or changed since: probe (no lock held) and list it.
    MPEGFile f;
    if (f.init(full.c_str()) != 0) return std::nullopt;
    files_.put(*stamp, f);
    found = std::move(f);
  }
  // One record serves every spelling of the file's name.
  found->name = full;
  return found;
}

int mpegfile_get_stream_type(const char* name) {
  auto f = MPEGFileList::instance().find(name);
  return f ? f->stream_type : 0;
}

int mpegfile_get_stream_type_and_bit_rate(const char* name, int* bit_rate) {
  auto f = MPEGFileList::instance().find(name);
  if (!f) return 0;
  if (bit_rate) *bit_rate = f->bit_rate;
  return f->stream_type;
}

int mpegfile_is_vbr(const char* name) {
  auto f = MPEGFileList::instance().find(name);
  return f ? f->vbr : 0;
}

int mpegfile_is_vcd_sectors(const char* name) {
  auto f = MPEGFileList::instance().find(name);
  return f ? f->is_vcd_sectors() : 0;
}
