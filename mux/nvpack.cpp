#include "mux/nvpack.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/start_code.h"
#include "foundation/trace.h"

namespace {

constexpr int kPciAt = 38, kDsiAt = 1024;
constexpr int kPciGi = kPciAt + 7;  // after the packet header and substream byte
constexpr int kDsiGi = kDsiAt + 7;
constexpr int kSriAt = kDsiAt + 241;
constexpr int kSynciAt = kDsiAt + 409;
constexpr uint32_t kCellEnd = 0x3FFFFFFF;
constexpr uint32_t kStreamEnd = 0xBFFFFFFF;
constexpr int kSriWords = 21;
constexpr int kVideoWord = 20;

void put32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
void put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 8), p[1] = uint8_t(v); }
uint8_t bcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }
// An address relative to the NV pack's own: 0 when not after it.
uint32_t after(uint32_t target, uint32_t lbn) { return target > lbn ? target - lbn : 0; }

// Search step of word j: 1..15 VOBUs, then 20, 60, 120, 240; the first and
// the video word one VOBU.
int sri_step(int j) {
  static const int kFar[4] = {20, 60, 120, 240};
  if (j == 0 || j == kVideoWord) return 1;
  return j >= 16 && j <= 19 ? kFar[j - 16] : j;
}

}  // namespace

uint32_t NVPackList::bcd_time(uint32_t ticks, double fps) {
  const int rate = fps > 0 && std::lround(fps) == 25 ? 25 : 30;
  int64_t secs = ticks / 90000;
  int frames = int(std::lround(double(ticks % 90000) / 90000.0 * (rate == 25 ? 25.0 : fps > 0 ? fps : 29.97)));
  if (frames >= rate) frames -= rate, ++secs;
  const int h = int(secs / 3600 % 24), m = int(secs / 60 % 60), s = int(secs % 60);
  const uint8_t flag = rate == 25 ? 0x40 : 0xC0;
  return uint32_t(bcd(h)) << 24 | uint32_t(bcd(m)) << 16 | uint32_t(bcd(s)) << 8 | (flag | bcd(frames));
}

int NVPackList::prepare(const double* chapters, int count) {
  prepared_ = 0;
  if (count < 1 || count > kNavMaxChapters) {
    trace("illegal number of chapters = %d > %d (max).\n", count, kNavMaxChapters);
    return 0;
  }
  if (entries_.empty()) {
    trace("ERROR (NVPackList::prepare): empty list.\n");
    return 0;
  }
  for (const NVPackEntry& e : entries_)
    if (e.lbn >= kNavMaxLbn || e.next_lbn >= kNavMaxLbn) {
      trace("ERROR (NVPackList::prepare): LBN %u out of range\n", std::max(e.lbn, e.next_lbn));
      return 0;
    }
  for (int k = 1; k < count; ++k)
    if (!(chapters && chapters[k] > chapters[k - 1])) {
      trace("ERROR (NVPackList::prepare): chapter %d does not follow chapter %d\n", k, k - 1);
      return 0;
    }
  // Each VOBU goes to the last chapter that starts at or before it; the
  // first chapter holds the stream's start.
  const uint32_t base = entries_[0].s_ptm;
  int chapter = 0, cells = 1;
  uint32_t cell_start = entries_[0].s_ptm;
  for (size_t i = 0; i < entries_.size(); ++i) {
    NVPackEntry& e = entries_[i];
    const double t = double(e.s_ptm - base) / 90000.0;
    bool moved = false;
    while (chapter + 1 < count && t + 1e-9 >= chapters[chapter + 1]) ++chapter, moved = true;
    if (moved) {
      ++cells;
      cell_start = e.s_ptm;
    }
    e.cell = chapter + 1;
    e.vob = vob_id_;
    e.c_eltm = e.s_ptm - cell_start;
  }
  // A chapter without a VOBU of its own (two in one VOBU, or past the end)
  // leaves fewer cells than chapters.
  if (cells != count || entries_.back().cell != count) {
    trace("ERROR (NVPackList::prepare): uncompatible cells (%d) and chapters (%d); operation failed.\n", cells, count);
    return 0;
  }
  chapters_.assign(chapters, chapters + count);
  prepared_ = 1;
  PrepareSRI(divisor_);
  for (int i = 0; i < size(); ++i) SetSRIParam(i);
  return 1;
}

void NVPackList::PrepareSRI(int divisor) {
  if (divisor > 0) divisor_ = divisor;
  const int n = size();
  const double unit = 2700000.0 / divisor_;  // ticks of one search unit
  sri_ref_.assign(entries_.size(), -1);
  if (n > 0) sri_ref_[0] = 0;
  // A VOBU lasting a units carries the a entries after it along: each
  // refers one past the entry before it, but never further back than the
  // entry just before itself.
  for (int i = 1; i < n;) {
    int64_t a = int64_t((double(entries_[size_t(i)].e_ptm) - double(entries_[size_t(i)].s_ptm)) / unit);
    if (a < 0) {
      trace("ERROR (PrepareSRI): negative value of a = %lld\n", static_cast<long long>(a));
      a = 0;
    }
    const int last = int(std::min<int64_t>(i + a, n - 1));
    for (int k = i; k <= last; ++k) {
      const int ref = sri_ref_[size_t(k - 1)] + 1;
      if (ref <= k - 2) {
        sri_ref_[size_t(k)] = k - 1;
        break;
      }
      sri_ref_[size_t(k)] = ref;
    }
    // Entries the walk did not reach refer to themselves.
    for (int k = i; k <= last; ++k)
      if (sri_ref_[size_t(k)] < 0 || sri_ref_[size_t(k)] >= n) sri_ref_[size_t(k)] = k;
    i = last + 1;
  }
  sri_ready_ = 1;
}

int NVPackList::SetSRIParam(int current) {
  if (entries_.empty()) {
    trace("ERROR (SetSRIParam): empty list\n");
    return 0;
  }
  if (current < 0 || current >= size()) {
    trace("ERROR (SetSRIParam): invalid input current = %d\n", current);
    return 0;
  }
  if (!sri_ready_) PrepareSRI(divisor_);
  NVPackEntry& c = entries_[size_t(current)];
  for (int j = 0; j < kSriWords; ++j) {
    const int step = sri_step(j);
    const uint32_t flag = j >= 16 && j <= 19 ? 0xC0000000u : 0x80000000u;
    for (int dir = 0; dir < 2; ++dir) {
      const int target = dir == 0 ? current + step : current - step;
      uint32_t word;
      if (target < 0 || target >= size()) {
        word = j == kVideoWord ? kStreamEnd : kCellEnd;
      } else if (entries_[size_t(target)].cell != c.cell) {
        word = kCellEnd;
      } else {
        int ref = sri_ref_[size_t(target)];
        if (ref < 0 || ref >= size()) {
          trace("ERROR: dangerous index from SRI entry = %d\n", ref);
          ref = target;
        }
        const uint32_t lbn = entries_[size_t(ref)].lbn;
        word = flag | (dir == 0 ? lbn - c.lbn : c.lbn - lbn);
      }
      (dir == 0 ? c.fwd : c.bwd)[j] = word;
    }
  }
  c.sri_set = true;
  return 1;
}

int NVPackList::placeholder(uint8_t* pack, const uint8_t* pack_header, int pack_header_bytes,
                            const uint8_t* system_header, int system_header_bytes) {
  if (pack_header_bytes + system_header_bytes != kPciAt) return 0;
  std::memset(pack, 0, kNavPackBytes);
  std::memcpy(pack, pack_header, size_t(pack_header_bytes));
  std::memcpy(pack + pack_header_bytes, system_header, size_t(system_header_bytes));
  static const uint8_t kPci[7] = {0, 0, 1, 0xBF, 0x03, 0xD4, 0x00};
  static const uint8_t kDsi[7] = {0, 0, 1, 0xBF, 0x03, 0xFA, 0x01};
  std::memcpy(pack + kPciAt, kPci, 7);
  std::memcpy(pack + kDsiAt, kDsi, 7);
  return kNavPackBytes;
}

void NVPackList::fill_pack(int i, uint8_t* p) const {
  const NVPackEntry& e = entries_[size_t(i)];
  const uint32_t eltm = bcd_time(e.c_eltm, fps_);
  // PCI general information.
  put32(p + kPciGi, e.lbn);
  put32(p + kPciGi + 12, e.s_ptm);
  put32(p + kPciGi + 16, e.e_ptm);
  put32(p + kPciGi + 24, eltm);
  // DSI general information.
  put32(p + kDsiGi, e.scr);
  put32(p + kDsiGi + 4, e.lbn);
  put32(p + kDsiGi + 8, e.next_lbn > e.lbn ? e.next_lbn - e.lbn - 1 : 0);
  for (int k = 0; k < 3; ++k) put32(p + kDsiGi + 12 + 4 * k, after(e.ref_end[k], e.lbn));
  put16(p + kDsiGi + 24, uint32_t(e.vob));
  p[kDsiGi + 26] = 0;
  p[kDsiGi + 27] = uint8_t(e.cell);
  put32(p + kDsiGi + 28, eltm);
  // Search words: forward from the farthest, then backward from the nearest.
  for (int j = 0; j < kSriWords; ++j) {
    put32(p + kSriAt + 4 * j, e.fwd[kSriWords - 1 - j]);
    put32(p + kSriAt + 4 * (kSriWords + j), e.bwd[j]);
  }
  for (int a = 0; a < std::min(e.audio_count, kNavMaxAudio); ++a)
    put16(p + kSynciAt + 2 * a, after(e.audio_lbn[a], e.lbn) & 0x7FFF);
}

int NVPackList::patch(int fd) const {
  if (!prepared_) {
    trace("ERROR (NVPackList::patch): the list is not prepared\n");
    return -1;
  }
  uint8_t pack[kNavPackBytes];
  for (int i = 0; i < size(); ++i) {
    const off_t at = off_t(entries_[size_t(i)].lbn) * kNavPackBytes;
    if (pread(fd, pack, kNavPackBytes, at) != kNavPackBytes) {
      trace("ERROR (NVPackList::patch): cannot read the NV pack at LBN %u\n", entries_[size_t(i)].lbn);
      return -1;
    }
    if (start_code_at(pack, kNavPackBytes, 0) != 0xBA || pack[kPciAt + 3] != 0xBF || pack[kDsiAt + 3] != 0xBF) {
      trace("ERROR (NVPackList::patch): no NV pack at LBN %u\n", entries_[size_t(i)].lbn);
      return -1;
    }
    fill_pack(i, pack);
    if (pwrite(fd, pack, kNavPackBytes, at) != kNavPackBytes) {
      trace("ERROR (NVPackList::patch): cannot write the NV pack at LBN %u\n", entries_[size_t(i)].lbn);
      return -1;
    }
  }
  return 0;
}
