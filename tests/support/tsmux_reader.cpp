#include "tsmux_reader.h"

#include <algorithm>

namespace tsr {

uint32_t crc32_bitwise(const uint8_t* d, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint32_t(d[i]) << 24;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

double File::arrival(double packet) const {
  if (pcrs.size() < 2) return 0;
  size_t k = 1;
  while (k + 1 < pcrs.size() && pcrs[k].first < packet) ++k;
  const auto& a = pcrs[k - 1];
  const auto& b = pcrs[k];
  return a.second + (packet - double(a.first)) * (b.second - a.second) / double(b.first - a.first);
}

namespace {

double stamp(const uint8_t* p) {
  const uint64_t v = (uint64_t(p[0] >> 1) & 7) << 30 | uint64_t(p[1]) << 22 | uint64_t(p[2] >> 1) << 15 |
                     uint64_t(p[3]) << 7 | uint64_t(p[4] >> 1);
  return double(v);
}

// section: from table_id; returns false on a bad CRC or length.
bool section_ok(const std::vector<uint8_t>& s) {
  if (s.size() < 3) return false;
  const size_t len = ((s[1] & 0x0F) << 8 | s[2]) + 3;
  if (len > s.size() || len < 12) return false;
  return crc32_bitwise(s.data(), len) == 0;
}

void finish_pes(Pid& p) {
  if (p.pes.empty()) return;
  Pes& e = p.pes.back();
  const std::vector<uint8_t>& b = e.payload;
  if (b.size() < 9 || b[0] || b[1] || b[2] != 1) return;
  const int flags = b[7], hlen = b[8];
  if ((flags & 0x80) && b.size() >= 14) e.pts = stamp(&b[9]);
  if ((flags & 0x40) && b.size() >= 19) e.dts = stamp(&b[14]);
  const size_t from = std::min(b.size(), size_t(9 + hlen));
  std::vector<uint8_t> data(b.begin() + long(from), b.end());
  p.es.insert(p.es.end(), data.begin(), data.end());
  e.payload = std::move(data);
}

}  // namespace

File read(const std::vector<uint8_t>& data) {
  File f;
  if (data.size() % 188) f.error = "size is not a multiple of 188";
  std::map<int, int> last_cc;
  const int64_t n = int64_t(data.size() / 188);
  f.packets = n;
  for (int64_t i = 0; i < n; ++i) {
    const uint8_t* p = data.data() + i * 188;
    if (p[0] != 0x47) {
      f.error = "lost sync at packet " + std::to_string(i);
      return f;
    }
    const bool start = p[1] & 0x40;
    const int pid = (p[1] & 0x1F) << 8 | p[2];
    const int control = (p[3] >> 4) & 3;
    const int cc = p[3] & 15;
    int at = 4;
    if (control & 2) {
      const int len = p[4];
      if (len > 183) {
        f.error = "adaptation field too long";
        return f;
      }
      if (len > 0 && (p[5] & 0x10) && len >= 7) {
        const uint8_t* c = p + 6;
        const uint64_t base = uint64_t(c[0]) << 25 | uint64_t(c[1]) << 17 | uint64_t(c[2]) << 9 |
                              uint64_t(c[3]) << 1 | (c[4] >> 7);
        const int ext = (c[4] & 1) << 8 | c[5];
        if (pid == f.pcr_pid || f.pcr_pid < 0) f.pcrs.push_back({i, double(base) + ext / 300.0});
      }
      at = 5 + len;
    }
    if (pid == 0x1FFF) continue;
    Pid& s = f.pids[pid];
    if (control & 1) {
      if (last_cc.count(pid) && ((last_cc[pid] + 1) & 15) != cc) ++s.cc_errors;
      last_cc[pid] = cc;
    } else if (last_cc.count(pid) && last_cc[pid] != cc) {
      ++s.cc_errors;
    }
    if (!(control & 1) || at >= 188) continue;
    std::vector<uint8_t> payload(p + at, p + 188);
    if (pid == 0 || pid == f.pmt_pid) {
      if (!start || payload.empty()) continue;
      std::vector<uint8_t> sec(payload.begin() + 1 + payload[0], payload.end());
      const bool ok = section_ok(sec);
      if (pid == 0) {
        ++f.pat_count;
        f.pat_crc_ok = f.pat_crc_ok && ok;
        if (ok && sec[0] == 0 && sec.size() >= 12) {
          f.program = sec[8] << 8 | sec[9];
          f.pmt_pid = (sec[10] & 0x1F) << 8 | sec[11];
        }
      } else {
        ++f.pmt_count;
        f.pmt_crc_ok = f.pmt_crc_ok && ok;
        if (ok && sec[0] == 2 && f.pmt_count == 1) {
          const size_t end = ((sec[1] & 0x0F) << 8 | sec[2]) + 3 - 4;
          f.pcr_pid = (sec[8] & 0x1F) << 8 | sec[9];
          const size_t pil = (sec[10] & 0x0F) << 8 | sec[11];
          f.program_descriptors.assign(sec.begin() + 12, sec.begin() + long(12 + pil));
          size_t q = 12 + pil;
          while (q + 5 <= end) {
            EsInfo e;
            e.type = sec[q];
            e.pid = (sec[q + 1] & 0x1F) << 8 | sec[q + 2];
            const size_t il = (sec[q + 3] & 0x0F) << 8 | sec[q + 4];
            e.descriptors.assign(sec.begin() + long(q + 5), sec.begin() + long(std::min(end, q + 5 + il)));
            f.streams.push_back(e);
            q += 5 + il;
          }
          // PCRs seen before the PMT belonged to any PID: keep the PCR PID's.
          f.pcrs.clear();
        }
      }
      continue;
    }
    if (start) {
      finish_pes(s);
      s.pes.push_back(Pes{i, i, -1, -1, {}, {}});
    }
    if (s.pes.empty()) continue;
    s.pes.back().payload.insert(s.pes.back().payload.end(), payload.begin(), payload.end());
    s.pes.back().last_packet = i;
    s.pes.back().chunks.push_back({i, int(payload.size())});
  }
  for (auto& [pid, s] : f.pids) finish_pes(s);
  return f;
}

}  // namespace tsr
