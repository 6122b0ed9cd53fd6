#include "ps_reader.h"

#include <algorithm>
#include <cstdio>

namespace psr {
namespace {

bool prefix_at(const std::vector<uint8_t>& d, size_t p) {
  return p + 4 <= d.size() && d[p] == 0 && d[p + 1] == 0 && d[p + 2] == 1;
}

// '0010' PTS / '0011' PTS / '0001' DTS: 3 + 15 + 15 bits between markers.
double read_ts(const uint8_t* b) {
  const uint64_t v = (uint64_t((b[0] >> 1) & 7) << 30) | (uint64_t(b[1]) << 22) | (uint64_t(b[2] >> 1) << 15) |
                     (uint64_t(b[3]) << 7) | (uint64_t(b[4]) >> 1);
  return double(v);
}

}  // namespace

File read(const std::vector<uint8_t>& d) {
  File f;
  size_t p = 0;
  int pack = -1;
  double scr = 0;
  int rate = 0;
  auto fail = [&](const char* what) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s at byte %zu", what, p);
    f.error = buf;
  };
  while (p < d.size()) {
    if (!prefix_at(d, p)) {
      // A Video CD audio sector ends in 20 zero bytes before the next pack.
      size_t z = p;
      while (z < d.size() && d[z] == 0 && !prefix_at(d, z)) ++z;
      if (z != p && (z == d.size() || prefix_at(d, z))) {
        f.vcd_audio_tails_ok.push_back(z - p == 20 ? 1 : 0);
        p = z;
        continue;
      }
      fail("no start code");
      return f;
    }
    const uint8_t code = d[p + 3];
    if (code == 0xB9) {
      f.end_code = true;
      f.end_code_offset = int64_t(p);
      p += 4;
      continue;
    }
    if (code == 0xBA) {
      if (!f.pack_offsets.empty()) f.pack_sizes.push_back(int64_t(p) - f.pack_offsets.back());
      f.pack_offsets.push_back(int64_t(p));
      ++pack;
      const uint8_t* h = d.data() + p + 4;
      if (p + 12 > d.size()) return fail("short pack header"), f;
      if ((h[0] & 0xC0) == 0x40) {  // ISO/IEC 13818-1 pack header
        if (p + 14 > d.size()) return fail("short pack header"), f;
        f.mpeg2 = true;
        const uint64_t base = (uint64_t((h[0] >> 3) & 7) << 30) | (uint64_t(h[0] & 3) << 28) | (uint64_t(h[1]) << 20) |
                              (uint64_t(h[2] >> 3) << 15) | (uint64_t(h[2] & 3) << 13) | (uint64_t(h[3]) << 5) |
                              (uint64_t(h[4]) >> 3);
        const int ext = ((h[4] & 3) << 7) | (h[5] >> 1);
        scr = double(base) + ext / 300.0;
        rate = (h[6] << 14) | (h[7] << 6) | (h[8] >> 2);
        p += 14 + (h[9] & 7);
      } else if ((h[0] & 0xF0) == 0x20) {  // ISO/IEC 11172-1
        scr = read_ts(h);
        rate = ((h[5] & 0x7F) << 15) | (h[6] << 7) | (h[7] >> 1);
        p += 12;
      } else {
        return fail("bad pack header"), f;
      }
      f.scr.push_back(scr);
      f.mux_rate.push_back(rate);
      f.pack_has_payload.push_back(0);
      continue;
    }
    if (pack < 0) return fail("packet before the first pack"), f;
    if (p + 6 > d.size()) return fail("short packet"), f;
    const size_t len = (size_t(d[p + 4]) << 8) | d[p + 5];
    const size_t end = p + 6 + len;
    if (end > d.size()) return fail("packet beyond the end"), f;
    if (code == 0xBB) {
      f.system_headers.emplace_back(d.begin() + long(p), d.begin() + long(end));
      p = end;
      continue;
    }
    if (code == 0xBE || code == 0xBF) {
      p = end;
      continue;
    }
    Packet pk;
    int std_bytes = 0;
    size_t q = p + 6;
    if (f.mpeg2) {
      if ((d[q] & 0xC0) != 0x80) return fail("bad PES flags"), f;
      const int flags = d[q + 1];
      const size_t hdr = d[q + 2];
      size_t h = q + 3;
      if (flags & 0x80) pk.has_pts = true, pk.pts = read_ts(&d[h]), h += 5;
      if (flags & 0x40) pk.has_dts = true, pk.dts = read_ts(&d[h]), h += 5;
      if (flags & 0x20) h += 6;  // ESCR
      if (flags & 0x10) h += 3;  // ES rate
      if (flags & 0x08) h += 1;
      if (flags & 0x04) h += 1;
      if (flags & 0x02) h += 2;
      if (flags & 0x01) {
        const int ext = d[h++];
        if (ext & 0x80) h += 16;
        if (ext & 0x40) h += 1 + d[h];
        if (ext & 0x20) h += 2;
        if (ext & 0x10) {
          const int scale = (d[h] >> 5) & 1;
          const int size = ((d[h] & 0x1F) << 8) | d[h + 1];
          std_bytes = size * (scale ? 1024 : 128);
          h += 2;
        }
      }
      if (h > q + 3 + hdr) return fail("PES header fields beyond its length"), f;
      q += 3 + hdr;
    } else {
      while (q < end && d[q] == 0xFF) ++q;
      if ((d[q] & 0xC0) == 0x40) {
        const int scale = (d[q] >> 5) & 1;
        const int size = ((d[q] & 0x1F) << 8) | d[q + 1];
        std_bytes = size * (scale ? 1024 : 128);
        q += 2;
      }
      if ((d[q] & 0xF0) == 0x20) {
        pk.has_pts = true, pk.pts = read_ts(&d[q]), q += 5;
      } else if ((d[q] & 0xF0) == 0x30) {
        pk.has_pts = pk.has_dts = true, pk.pts = read_ts(&d[q]), pk.dts = read_ts(&d[q + 5]), q += 10;
      } else if (d[q] == 0x0F) {
        q += 1;
      } else {
        return fail("bad MPEG-1 packet header"), f;
      }
    }
    int id = code;
    if (code == 0xBD) {
      id = d[q];
      q += (id >= 0x80 && id <= 0x87) ? 4 : (id >= 0xA0 && id <= 0xA7) ? 7 : 1;
    }
    if (q > end) return fail("payload before its header ends"), f;
    Stream& s = f.streams[id];
    s.id = id;
    f.pack_has_payload.back() = 1;
    if (!s.std_bytes && std_bytes) s.std_bytes = std_bytes;
    pk.es_offset = int64_t(s.es.size());
    pk.size = int64_t(end - q);
    const double per_byte = rate > 0 ? 90000.0 / (rate * 50.0) : 0;
    pk.arrival = scr + double(q - size_t(f.pack_offsets.back())) * per_byte;
    pk.arrival_end = scr + double(end - 1 - size_t(f.pack_offsets.back())) * per_byte;
    s.es.insert(s.es.end(), d.begin() + long(q), d.begin() + long(end));
    s.packets.push_back(pk);
    p = end;
  }
  // The last pack runs to the end of the file (a trailing end code included).
  if (!f.pack_offsets.empty()) f.pack_sizes.push_back(int64_t(d.size()) - f.pack_offsets.back());
  return f;
}

namespace {

// Interpolates the removal times of units without a stamp of their own.
void fill_removals(std::vector<Unit>& u) {
  int prev = -1;
  for (size_t i = 0; i < u.size(); ++i) {
    if (!u[i].stamped) continue;
    if (prev >= 0)
      for (size_t k = size_t(prev) + 1; k < i; ++k)
        u[k].removal = u[size_t(prev)].removal +
                       (u[i].removal - u[size_t(prev)].removal) * double(k - size_t(prev)) / double(i - size_t(prev));
    prev = int(i);
  }
  // Before the first and after the last stamp: the neighbours' spacing.
  double step = 3600;
  for (size_t i = 1; i < u.size(); ++i)
    if (u[i].stamped && u[i - 1].stamped) {
      step = u[i].removal - u[i - 1].removal;
      break;
    }
  for (size_t i = 1; i < u.size(); ++i)
    if (!u[i].stamped && i > size_t(std::max(prev, 0))) u[i].removal = u[i - 1].removal + step;
}

void stamp_units(const Stream& s, std::vector<Unit>& u, const std::vector<int64_t>& anchors) {
  // A packet's stamps belong to the first unit whose anchor byte lies in it.
  size_t k = 0;
  for (const Packet& pk : s.packets) {
    if (!pk.has_pts) continue;
    while (k < u.size() && anchors[k] < pk.es_offset) ++k;
    if (k < u.size() && anchors[k] < pk.es_offset + pk.size) {
      u[k].stamped = true;
      u[k].removal = pk.has_dts ? pk.dts : pk.pts;
    }
  }
  fill_removals(u);
}

}  // namespace

std::vector<Unit> video_units(const Stream& s) {
  std::vector<Unit> u;
  std::vector<int64_t> anchors;
  const std::vector<uint8_t>& d = s.es;
  int64_t group = -1;
  for (size_t p = 0; p + 4 <= d.size(); ++p) {
    if (d[p] != 0 || d[p + 1] != 0 || d[p + 2] != 1) continue;
    const uint8_t c = d[p + 3];
    if (c == 0xB3 || c == 0xB8) {
      if (group < 0) group = int64_t(p);
    } else if (c == 0x00) {
      const int64_t start = group >= 0 ? group : int64_t(p);
      if (!u.empty()) u.back().end = start;
      u.push_back(Unit{u.empty() ? 0 : start, -1, 0, false});
      anchors.push_back(int64_t(p));
      group = -1;
    }
    p += 2;
  }
  if (!u.empty()) u.back().end = int64_t(d.size());
  stamp_units(s, u, anchors);
  return u;
}

std::vector<Unit> audio_units(const Stream& s, bool ac3) {
  std::vector<Unit> u;
  std::vector<int64_t> anchors;
  const std::vector<uint8_t>& d = s.es;
  static const int kMpaRates[3] = {44100, 48000, 32000};
  static const int kL2[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
  static const int kAc3[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
  size_t p = 0;
  while (p + 6 <= d.size()) {
    int size = 0;
    if (ac3) {
      // 48 kHz only: 2 x kbit/s words.
      if (d[p] == 0x0B && d[p + 1] == 0x77 && (d[p + 4] >> 6) == 0 && (d[p + 4] & 63) < 38)
        size = kAc3[(d[p + 4] & 63) / 2] * 4;
    } else if (d[p] == 0xFF && (d[p + 1] & 0xF6) == 0xF4) {  // MPEG-1 layer II
      const int br = kL2[d[p + 2] >> 4], sr = (d[p + 2] >> 2) & 3, pad = (d[p + 2] >> 1) & 1;
      if (br && sr < 3) size = 144 * br * 1000 / kMpaRates[sr] + pad;
    }
    if (size <= 0) {
      ++p;
      continue;
    }
    if (!u.empty()) u.back().end = int64_t(p);
    u.push_back(Unit{u.empty() ? 0 : int64_t(p), -1, 0, false});
    anchors.push_back(int64_t(p));
    p += size_t(size);
  }
  if (!u.empty()) u.back().end = int64_t(d.size());
  stamp_units(s, u, anchors);
  return u;
}

StdResult replay_std(const Stream& s, const std::vector<Unit>& units) {
  StdResult r;
  char msg[160];
  // Overflow: each packet enters (all at once, at its first byte) after the
  // units due by then have left.
  size_t k = 0;
  int64_t removed = 0, arrived = 0;
  for (const Packet& pk : s.packets) {
    while (k < units.size() && units[k].removal <= pk.arrival && units[k].end <= arrived) removed = units[k++].end;
    arrived += pk.size;
    if (arrived - removed > s.std_bytes) {
      if (!r.overflows++) {
        std::snprintf(msg, sizeof msg, "stream 0x%02X overflow at %.0f: %lld > %d", s.id, pk.arrival,
                      static_cast<long long>(arrived - removed), s.std_bytes);
        r.first_fault = msg;
      }
    }
  }
  // Underflow: every stamped unit is whole by its removal time.
  size_t j = 0;
  int64_t in_by = 0;
  for (const Unit& u : units) {
    if (!u.stamped) continue;
    while (j < s.packets.size() && s.packets[j].arrival_end <= u.removal) in_by += s.packets[j++].size;
    if (in_by < u.end) {
      if (!r.underflows++) {
        std::snprintf(msg, sizeof msg, "stream 0x%02X underflow at %.0f: %lld of %lld bytes in", s.id, u.removal,
                      static_cast<long long>(in_by), static_cast<long long>(u.end));
        r.first_fault = r.first_fault.empty() ? msg : r.first_fault;
      }
    }
  }
  return r;
}

std::vector<uint8_t> with_end_code(std::vector<uint8_t> v) {
  const size_t n = v.size();
  if (n < 4 || v[n - 4] != 0 || v[n - 3] != 0 || v[n - 2] != 1 || v[n - 1] != 0xB7) {
    const uint8_t end[4] = {0, 0, 1, 0xB7};
    v.insert(v.end(), end, end + 4);
  }
  return v;
}

}  // namespace psr
