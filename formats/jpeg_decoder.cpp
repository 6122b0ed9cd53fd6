#include "formats/jpeg_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "formats/jpeg_idct.h"
#include "formats/jpeg_tables.h"
#include "formats/still_loader.h"
#include "foundation/bsfile.h"
#include "foundation/trace.h"
#include "picture/frame.h"

namespace {

// Largest picture accepted, in luminance samples.
constexpr int64_t kMaxPixels = int64_t{1} << 26;

inline int clamp16(int v) { return v > 32767 ? 32767 : (v < -32768 ? -32768 : v); }

// Entropy-coded data with its stuffed zero bytes removed. Bits are taken
// from the top of a 64-bit window; at a marker (or the end) zeros are fed,
// and the count of those tells when the data is used up.
struct EntropyReader {
  const uint8_t* p;
  const uint8_t* end;
  uint64_t buf = 0;
  int bits = 0;
  bool hit = false;  // a marker or the end stopped the input
  int pad = 0;       // zero bytes fed since then

  void fill() {
    if (bits > 56) return;
    // Whole bytes at once while none of them is 0xFF (no stuffing, no
    // marker); otherwise byte by byte.
    if (!hit && end - p >= 8) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      v = __builtin_bswap64(v);
      const int n = (64 - bits) >> 3;  // bytes that fit
      const uint64_t x = ~v;
      const uint64_t ff = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
      if ((ff >> (64 - 8 * n)) == 0) {
        const int total = bits + 8 * n;
        const uint64_t keep = total >= 64 ? ~0ull : ~(~0ull >> total);
        buf |= (v >> bits) & keep;
        bits = total;
        p += n;
        return;
      }
    }
    while (bits <= 56) {
      uint64_t c = 0;
      if (!hit) {
        if (p < end && *p != 0xFF) {
          c = *p++;
        } else if (p + 1 < end && p[1] == 0) {
          c = 0xFF;
          p += 2;
        } else {
          hit = true;
        }
      }
      if (hit) ++pad;
      buf |= c << (56 - bits);
      bits += 8;
    }
  }
  uint32_t get(int n) {  // n = 1..32, after fill()
    const uint32_t v = static_cast<uint32_t>(buf >> (64 - n));
    buf <<= n;
    bits -= n;
    return v;
  }
  void skip(int n) {
    buf <<= n;
    bits -= n;
  }
  bool exhausted() const { return pad > 16; }
  void drop_bits() {
    buf = 0;
    bits = 0;
  }
};

inline int extend(uint32_t v, int s) {
  return static_cast<int>(v) < (1 << (s - 1)) ? static_cast<int>(v) - (1 << s) + 1 : static_cast<int>(v);
}

// Next Huffman symbol; the window must hold at least 16 bits.
inline int huff_decode(EntropyReader& r, const JpegHuffTable& t) {
  const uint16_t e = t.look[r.buf >> (64 - JpegHuffTable::kLookBits)];
  if (e) {
    r.skip(e >> 8);
    return e & 0xFF;
  }
  for (int l = JpegHuffTable::kLookBits + 1; l <= 16; ++l) {
    const int32_t code = static_cast<int32_t>(r.buf >> (64 - l));
    if (code <= t.maxcode[l]) {
      r.skip(l);
      return t.symbols[(code + t.valoffset[l]) & 255];
    }
  }
  r.skip(16);  // no code of 16 bits or fewer: damaged data
  return 0;
}

// Magnitude category and bits of one value; s is at most 16.
inline int receive_extend(EntropyReader& r, int s) { return s ? extend(r.get(s), s) : 0; }

}  // namespace

bool JpegHuffTable::build(const uint8_t* counts, const uint8_t* values) {
  valid = false;
  int total = 0;
  for (int l = 0; l < 16; ++l) total += counts[l];
  if (total > 256) return false;
  std::memset(look, 0, sizeof look);
  std::memcpy(symbols, values, static_cast<size_t>(total));
  int32_t code = 0;
  int k = 0;
  for (int l = 1; l <= 16; ++l) {
    const int n = counts[l - 1];
    valoffset[l] = k - code;
    for (int i = 0; i < n; ++i, ++code, ++k) {
      if (l <= kLookBits) {
        const int shift = kLookBits - l;
        const int base = code << shift;
        if (base + (1 << shift) > (1 << kLookBits)) return false;
        for (int j = 0; j < (1 << shift); ++j) look[base + j] = static_cast<uint16_t>((l << 8) | symbols[k]);
      }
    }
    maxcode[l] = n ? code - 1 : -1;
    if (code > (1 << l)) return false;  // over-subscribed code space
    code <<= 1;
  }
  maxcode[17] = 0x7FFFFFFF;
  valid = true;
  return true;
}

uint8_t* JDecoder::load_data(const char* name, size_t* size) {
  if (!name || !size) {
    trace("JDecoder::load_data (ERROR): %s%s", name ? "" : "fname=nil; ", size ? "" : "bytes=nil");
    return nullptr;
  }
  int err = 0;
  BSFile f(name, 1, &err);
  if (err || !f.is_open()) {
    trace("JDecoder::load_data (ERROR): fopen (%s)\n", name);
    return nullptr;
  }
  uint64_t want = f.size().value();
  if (*size && *size < want) want = *size;
  if (want > (uint64_t{1} << 30)) want = uint64_t{1} << 30;  // no still is that large
  uint8_t* buf = new (std::nothrow) uint8_t[want + 1];
  if (!buf) {
    trace("JDecoder::load_data (ERROR): out of memory\n");
    return nullptr;
  }
  *size = f.read(buf, static_cast<size_t>(want));
  return buf;
}

int JDecoder::decode(const char* name) {
  if (!name) {
    trace("JDecoder::decode (ERROR): fname=nil");
    return 4;
  }
  size_t n = 0;
  std::unique_ptr<uint8_t[]> data(load_data(name, &n));
  if (!data) {
    trace("JDecoder::decode (ERROR): <%s> cannot open for reading", name);
    return 4;
  }
  return decode(data.get(), n);
}

int JDecoder::decode(const uint8_t* buffer, size_t length) {
  if (!buffer || length < 4) {
    trace("JDecoder::decode (ERROR): no data\n");
    return 4;
  }
  return walk(buffer, length);
}

// Walks the marker segments by their lengths, so that the contents of
// APPn segments (an EXIF thumbnail with markers of its own) are never
// taken for the picture's markers.
int JDecoder::walk(const uint8_t* data, size_t len) {
  have_frame = false;
  scanned_ = false;
  restart_interval = 0;
  size_t pos = 0;
  int result = 1;
  while (true) {
    while (pos + 1 < len && !(data[pos] == 0xFF && data[pos + 1] != 0 && data[pos + 1] != 0xFF)) ++pos;
    if (pos + 1 >= len) break;
    const uint16_t m = static_cast<uint16_t>(0xFF00 | data[pos + 1]);
    pos += 2;
    if (m == kJpegSOI || (m >= kJpegRST0 && m <= kJpegRST0 + 7) || m == 0xFF01) continue;
    if (m == kJpegEOI) {
      result = 2;
      break;
    }
    if (pos + 2 > len) break;
    const size_t seg_len = (static_cast<size_t>(data[pos]) << 8) | data[pos + 1];
    if (seg_len < 2 || pos + seg_len > len) {
      trace("JDecoder::decode (ERROR): marker 0x%04X: segment length %d beyond the data\n", m,
            static_cast<int>(seg_len));
      break;
    }
    const uint8_t* seg = data + pos + 2;
    const int n = static_cast<int>(seg_len - 2);
    pos += seg_len;
    switch (m) {
      case kJpegSOF0:
      case 0xFFC1:  // extended sequential: decoded as baseline (8-bit samples)
      case kJpegSOF2:
        if (have_frame) {
          // One frame per picture: a second header can only come from a
          // damaged or concatenated file, and must not resize the arrays.
          trace("JDecoder::read_sof (ERROR): second frame header\n");
          if (!scanned_) return 4;
          if (progressive_) finish_progressive();
          return 1;
        }
        if (!read_sof(seg, n, m)) return 4;
        break;
      case 0xFFC3: case 0xFFC5: case 0xFFC6: case 0xFFC7: case 0xFFC9: case 0xFFCA:
      case 0xFFCB: case 0xFFCD: case 0xFFCE: case 0xFFCF:
        if (!have_frame) {
          trace("JDecoder::decode (ERROR): unsupported frame type 0x%04X\n", m);
          return 4;
        }
        break;
      case kJpegDHT:
        read_dht(seg, n);
        break;
      case kJpegDQT:
        read_dqt(seg, n);
        break;
      case kJpegDRI:
        if (n >= 2) {
          restart_interval = (seg[0] << 8) | seg[1];
          for (auto& c : comp_) c.pred = 0;
        }
        break;
      case kJpegSOS:
        if (read_sos(seg, n)) {
          scanned_ = true;
          pos = decode_scan(data, len, pos);
        }
        break;
      default:  // APPn, COM and the rest: skipped by their length
        break;
    }
  }
  if (!have_frame || !scanned_) {
    trace("JDecoder::decode (ERROR): %s\n", have_frame ? "no scan decoded" : "no SOF0/SOF2 frame header");
    return 4;
  }
  if (progressive_) finish_progressive();
  return result;
}

bool JDecoder::read_sof(const uint8_t* p, int n, uint16_t marker) {
  if (n < 6) {
    trace("JDecoder::read_sof (ERROR): short segment (%d)\n", n);
    return false;
  }
  const int precision = p[0];
  const int height = (p[1] << 8) | p[2];
  const int width = (p[3] << 8) | p[4];
  const int nf = p[5];
  if (precision != 8 || width < 1 || height < 1 || (nf != 1 && nf != 3) || n != 6 + 3 * nf) {
    trace("JDecoder::read_sof (ERROR): unsupported frame (precision %d, %dx%d, %d components, length %d)\n",
          precision, width, height, nf, n + 2);
    return false;
  }
  if (static_cast<int64_t>(width) * height > kMaxPixels) {
    trace("JDecoder::read_sof (ERROR): picture too large (%dx%d)\n", width, height);
    return false;
  }
  JpegFrameHeader fh;
  fh.marker = marker;
  fh.length = static_cast<uint16_t>(n + 2);
  fh.precision = 8;
  fh.width = static_cast<uint16_t>(width);
  fh.height = static_cast<uint16_t>(height);
  fh.components = static_cast<uint8_t>(nf);
  for (int c = 0; c < nf; ++c) {
    const uint8_t* q = p + 6 + 3 * c;
    fh.comp[c] = {q[0], static_cast<uint8_t>(q[1] >> 4), static_cast<uint8_t>(q[1] & 15), q[2]};
    const auto& k = fh.comp[c];
    if (k.h < 1 || k.h > 2 || k.v < 1 || k.v > 2 || k.tq > 3) {
      trace("JDecoder::read_sof (ERROR): unsupported sampling %dx%d (table %d) of component %d\n", k.h, k.v, k.tq,
            c);
      return false;
    }
  }
  // Luminance carries the largest factors; both chroma components share
  // theirs. A single component is one block per unit whatever it declares.
  if (nf == 3) {
    const auto &y = fh.comp[0], &u = fh.comp[1], &v = fh.comp[2];
    if (u.h != v.h || u.v != v.v || u.h > y.h || u.v > y.v) {
      trace("JDecoder::read_sof (ERROR): unsupported sampling %dx%d, %dx%d, %dx%d\n", y.h, y.v, u.h, u.v, v.h, v.v);
      return false;
    }
  }
  frame = fh;
  ncomp_ = nf;
  progressive_ = marker == kJpegSOF2;
  frame.marker = progressive_ ? kJpegSOF2 : kJpegSOF0;
  hmax_ = nf == 1 ? 1 : fh.comp[0].h;
  vmax_ = nf == 1 ? 1 : fh.comp[0].v;
  sub_x_ = nf == 1 ? 2 : hmax_ / fh.comp[1].h;
  sub_y_ = nf == 1 ? 2 : vmax_ / fh.comp[1].v;
  mcus_x_ = (width + 8 * hmax_ - 1) / (8 * hmax_);
  mcus_y_ = (height + 8 * vmax_ - 1) / (8 * vmax_);
  for (int c = 0; c < nf; ++c) {
    Component& k = comp_[c];
    k.h = nf == 1 ? 1 : fh.comp[c].h;
    k.v = nf == 1 ? 1 : fh.comp[c].v;
    k.tq = fh.comp[c].tq;
    k.blocks_w = mcus_x_ * k.h;
    k.blocks_h = mcus_y_ * k.v;
    const int cw = (width * k.h + hmax_ - 1) / hmax_, ch = (height * k.v + vmax_ - 1) / vmax_;
    k.scan_bw = (cw + 7) / 8;
    k.scan_bh = (ch + 7) / 8;
    k.stride = k.blocks_w * 8;
    k.plane.assign(static_cast<size_t>(k.stride) * k.blocks_h * 8, 128);
    if (progressive_)
      k.blocks.assign(static_cast<size_t>(k.blocks_w) * k.blocks_h, JpegBlock{});
    else
      k.blocks.clear();
    k.pred = 0;
  }
  for (int c = nf; c < 3; ++c) comp_[c] = Component{};
  have_frame = true;
  return true;
}

bool JDecoder::read_dht(const uint8_t* p, int n) {
  while (n > 0) {
    const int tc = p[0] >> 4, th = p[0] & 15;
    if (tc > 1 || th > 3 || n < 17) {
      trace("JDecoder::read_dht (ERROR): bad table class %d / id %d\n", tc, th);
      return false;
    }
    int total = 0;
    for (int i = 0; i < 16; ++i) total += p[1 + i];
    if (total > 256 || total > n - 17) {
      trace("JDecoder::read_dht (ERROR): %d symbols in %d bytes\n", total, n - 17);
      return false;
    }
    JpegHuffTable& t = tc == 0 ? dc_tbl_[th] : ac_tbl_[th];
    if (!t.build(p + 1, p + 17)) {
      trace("JDecoder::read_dht (ERROR): over-subscribed code lengths (class %d, id %d)\n", tc, th);
      return false;
    }
    p += 17 + total;
    n -= 17 + total;
  }
  return true;
}

bool JDecoder::read_dqt(const uint8_t* p, int n) {
  while (n > 0) {
    const int pq = p[0] >> 4, tq = p[0] & 15;
    const int need = 1 + (pq ? 128 : 64);
    if (tq > 3 || pq > 1 || n < need) {
      trace("JDecoder::read_dqt (ERROR): bad table (precision %d, id %d, %d bytes)\n", pq, tq, n);
      return false;
    }
    for (int k = 0; k < 64; ++k)
      qt[tq][kJpegNatural[k]] = pq ? static_cast<uint16_t>((p[1 + 2 * k] << 8) | p[2 + 2 * k]) : p[1 + k];
    quant_.add_decode_table(tq, qt[tq]);
    p += need;
    n -= need;
  }
  return true;
}

bool JDecoder::read_sos(const uint8_t* p, int n) {
  if (!have_frame) {
    trace("JDecoder::read_sos (ERROR): scan before the frame header\n");
    return false;
  }
  const int ns = n >= 1 ? p[0] : 0;
  if (ns < 1 || ns > ncomp_ || n != 1 + 2 * ns + 3) {
    trace("JDecoder::read_sos (ERROR): bad scan header (%d components, length %d)\n", ns, n + 2);
    return false;
  }
  JpegScanHeader sh;
  sh.length = static_cast<uint16_t>(n + 2);
  sh.components = static_cast<uint8_t>(ns);
  for (int i = 0; i < ns; ++i) {
    const uint8_t id = p[1 + 2 * i];
    int c = 0;
    while (c < ncomp_ && frame.comp[c].id != id) ++c;
    if (c == ncomp_) {
      trace("JDecoder::read_sos (ERROR): unknown component id %d\n", id);
      return false;
    }
    scan_comp_[i] = c;
    sh.comp[i] = {id, static_cast<uint8_t>(p[2 + 2 * i] >> 4), static_cast<uint8_t>(p[2 + 2 * i] & 15)};
    if (sh.comp[i].td > 3 || sh.comp[i].ta > 3) {
      trace("JDecoder::read_sos (ERROR): table id out of range\n");
      return false;
    }
  }
  sh.ss = p[1 + 2 * ns];
  sh.se = p[2 + 2 * ns];
  sh.ah = static_cast<uint8_t>(p[3 + 2 * ns] >> 4);
  sh.al = static_cast<uint8_t>(p[3 + 2 * ns] & 15);
  const int kind = sh.kind(progressive_);
  bool ok = kind != 0 && sh.se <= 63 && sh.ss <= sh.se && sh.al <= 13;
  if (kind == 4 || kind == 5) ok = ok && ns == 1;
  if (kind == 1) ok = ok && sh.ah == 0 && sh.al == 0;
  ok = ok && (kind == 1) != progressive_;  // spectral scans only in progressive frames
  if (!ok) {
    trace("JDecoder::read_sos (ERROR): unsupported scan (Ss %d, Se %d, Ah %d, Al %d, %d components)\n", sh.ss, sh.se,
          sh.ah, sh.al, ns);
    return false;
  }
  for (int i = 0; i < ns; ++i) {
    const bool need_dc = kind == 1 || kind == 2, need_ac = kind == 1 || kind == 4 || kind == 5;
    if ((need_dc && !dc_tbl_[sh.comp[i].td].valid) || (need_ac && !ac_tbl_[sh.comp[i].ta].valid)) {
      trace("JDecoder::read_sos (ERROR): Huffman table missing for component %d\n", sh.comp[i].id);
      return false;
    }
    if (!progressive_ && !quant_.has_decode_table(comp_[scan_comp_[i]].tq)) {
      trace("JDecoder::read_sos (ERROR): quantisation table %d missing\n", comp_[scan_comp_[i]].tq);
      return false;
    }
  }
  scan = sh;
  for (auto& c : comp_) c.pred = 0;
  return true;
}

size_t JDecoder::decode_scan(const uint8_t* data, size_t length, size_t pos) {
  EntropyReader r{data + pos, data + length};
  const int kind = scan.kind(progressive_);
  const int ns = scan.components;
  const int ss = scan.ss, se = scan.se, al = scan.al;
  const int p1 = 1 << al, m1 = -(1 << al);
  int eobrun = 0;
  alignas(16) int16_t coef[64];

  // Units: MCUs of an interleaved scan, blocks of a one-component scan.
  const bool single = ns == 1;
  const Component& c0 = comp_[scan_comp_[0]];
  const int units_x = single ? c0.scan_bw : mcus_x_;
  const int units_y = single ? c0.scan_bh : mcus_y_;
  const int64_t units = static_cast<int64_t>(units_x) * units_y;
  int restart_left = restart_interval;

  // One block of component k at block column bx, row by.
  auto do_block = [&](int si, int bx, int by) {
    Component& k = comp_[scan_comp_[si]];
    const JpegHuffTable& dct = dc_tbl_[scan.comp[si].td];
    const JpegHuffTable& act = ac_tbl_[scan.comp[si].ta];
    r.fill();
    if (kind == 1) {
      // The reader in locals for the block: kept in registers.
      EntropyReader lr = r;
      std::memset(coef, 0, sizeof coef);
      const int s = huff_decode(lr, dct) & 15;
      k.pred = clamp16(k.pred + receive_extend(lr, s));
      coef[0] = static_cast<int16_t>(k.pred);
      int last = 0;
      for (int i = 1; i < 64; ++i) {
        if (lr.bits < 32) lr.fill();
        const int rs = huff_decode(lr, act);
        const int run = rs >> 4, sz = rs & 15;
        if (sz) {
          i += run;
          if (i > 63) break;
          coef[kJpegNatural[i]] = static_cast<int16_t>(receive_extend(lr, sz));
          last = i;
        } else if (run == 15) {
          i += 15;
        } else {
          break;
        }
      }
      r = lr;
      uint8_t* out = k.plane.data() + static_cast<size_t>(by) * 8 * k.stride + static_cast<size_t>(bx) * 8;
      const int32_t* dq = quant_.decode_table(k.tq);
      if (last == 0)
        jpeg_idct_dc_put(coef[0], dq, out, k.stride);
      else
        jpeg_idct_put(coef, dq, out, k.stride);
      return;
    }
    int16_t* b = k.blocks[static_cast<size_t>(by) * k.blocks_w + bx].coef;
    switch (kind) {
      case 2: {  // DC first
        const int s = huff_decode(r, dct) & 15;
        k.pred = clamp16(k.pred + receive_extend(r, s));
        b[0] = static_cast<int16_t>(clamp16(k.pred * p1));
        break;
      }
      case 3:  // DC refinement
        if (r.get(1)) b[0] = static_cast<int16_t>(b[0] | p1);
        break;
      case 4:  // AC first
        if (eobrun > 0) {
          --eobrun;
          break;
        }
        for (int i = ss; i <= se; ++i) {
          if (r.bits < 32) r.fill();
          const int rs = huff_decode(r, act);
          const int run = rs >> 4, sz = rs & 15;
          if (sz) {
            i += run;
            if (i > se) break;
            b[kJpegNatural[i]] = static_cast<int16_t>(clamp16(receive_extend(r, sz) * p1));
          } else if (run == 15) {
            i += 15;
          } else {
            eobrun = (1 << run) - 1;
            if (run) eobrun += static_cast<int>(r.get(run));
            break;
          }
        }
        break;
      case 5: {  // AC refinement
        int i = ss;
        auto refine = [&](int16_t& v) {
          if (r.bits < 2) r.fill();
          if (r.get(1) && (v & p1) == 0) v = static_cast<int16_t>(clamp16(v + (v >= 0 ? p1 : m1)));
        };
        if (eobrun == 0) {
          for (; i <= se; ++i) {
            if (r.bits < 32) r.fill();
            const int rs = huff_decode(r, act);
            int run = rs >> 4;
            const int sz = rs & 15;
            int value = 0;
            if (sz) {
              if (sz != 1) trace("JDecoder::ac_refine (): bad code\n");
              value = r.get(1) ? p1 : m1;
            } else if (run != 15) {
              eobrun = 1 << run;
              if (run) eobrun += static_cast<int>(r.get(run));
              break;
            }
            // Step over coefficients already non-zero (each takes a
            // correction bit) and `run` zero ones.
            for (; i <= se; ++i) {
              int16_t& v = b[kJpegNatural[i]];
              if (v != 0) {
                refine(v);
              } else {
                if (run == 0) break;
                --run;
              }
            }
            if (value && i <= se) b[kJpegNatural[i]] = static_cast<int16_t>(value);
          }
        }
        if (eobrun > 0) {
          for (; i <= se; ++i) {
            int16_t& v = b[kJpegNatural[i]];
            if (v != 0) refine(v);
          }
          --eobrun;
        }
        break;
      }
      default:
        break;
    }
  };

  for (int64_t u = 0; u < units; ++u) {
    if (r.exhausted()) break;  // data ran out: the rest stays as it is
    const int ux = static_cast<int>(u % units_x), uy = static_cast<int>(u / units_x);
    if (single) {
      do_block(0, ux, uy);
    } else {
      for (int si = 0; si < ns; ++si) {
        const Component& k = comp_[scan_comp_[si]];
        for (int v = 0; v < k.v; ++v)
          for (int h = 0; h < k.h; ++h) do_block(si, ux * k.h + h, uy * k.v + v);
      }
    }
    if (restart_interval && --restart_left == 0 && u + 1 < units) {
      // Byte-align, expect RSTn; resynchronise on the next one when the
      // data got out of step.
      r.drop_bits();
      const uint8_t* q = r.p;
      while (q + 1 < r.end && !(q[0] == 0xFF && q[1] != 0 && q[1] != 0xFF)) ++q;
      if (q + 1 < r.end && q[1] >= 0xD0 && q[1] <= 0xD7) {
        r.p = q + 2;
        r.hit = false;
        r.pad = 0;
      } else {
        r.p = q;
        break;  // another marker: the scan ends here
      }
      restart_left = restart_interval;
      eobrun = 0;
      for (auto& c : comp_) c.pred = 0;
    }
  }
  return static_cast<size_t>(r.p - data);
}

void JDecoder::finish_progressive() {
  for (int c = 0; c < ncomp_; ++c) {
    Component& k = comp_[c];
    if (k.blocks.empty()) continue;
    if (!quant_.has_decode_table(k.tq)) {
      trace("JDecoder::decode (ERROR): quantisation table %d missing\n", k.tq);
      continue;
    }
    const int32_t* dq = quant_.decode_table(k.tq);
    for (int by = 0; by < k.blocks_h; ++by)
      for (int bx = 0; bx < k.blocks_w; ++bx)
        jpeg_idct_put(k.blocks[static_cast<size_t>(by) * k.blocks_w + bx].coef, dq,
                      k.plane.data() + static_cast<size_t>(by) * 8 * k.stride + static_cast<size_t>(bx) * 8, k.stride);
  }
}

int JDecoder::get_width() const { return have_frame ? mcus_x_ * hmax_ * 8 : 0; }
int JDecoder::get_height() const { return have_frame ? mcus_y_ * vmax_ * 8 : 0; }

int JDecoder::get_sampling_kind() const {
  if (!have_frame) return 1;
  if (sub_x_ == 2 && sub_y_ == 2) return 1;
  if (sub_x_ == 1 && sub_y_ == 1) return 3;
  return 2;
}

size_t JDecoder::get_output_size() const {
  const size_t y = static_cast<size_t>(get_width()) * get_height();
  size_t c = y;
  if (sub_x_ == 2) c /= 2;
  if (sub_y_ == 2) c /= 2;
  return y + 2 * c;
}

// Chroma at half width and half height of the whole-MCU picture.
bool JDecoder::render_420(const uint8_t** cb, const uint8_t** cr, int* cstride) {
  const int w = get_width() / 2, h = get_height() / 2;
  if (ncomp_ == 3 && sub_x_ == 2 && sub_y_ == 2) {
    *cb = comp_[1].plane.data();
    *cr = comp_[2].plane.data();
    *cstride = comp_[1].stride;
    return true;
  }
  chroma420_.assign(static_cast<size_t>(w) * h * 2, 128);
  if (ncomp_ == 3) {
    for (int c = 0; c < 2; ++c) {
      const Component& k = comp_[1 + c];
      uint8_t* out = chroma420_.data() + static_cast<size_t>(c) * w * h;
      for (int y = 0; y < h; ++y) {
        const uint8_t* a = k.plane.data() + static_cast<size_t>(sub_y_ == 2 ? y : 2 * y) * k.stride;
        const uint8_t* b = sub_y_ == 2 ? a : a + k.stride;
        uint8_t* o = out + static_cast<size_t>(y) * w;
        if (sub_x_ == 2) {  // 4:2:2: average row pairs
          for (int x = 0; x < w; ++x) o[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
        } else if (sub_y_ == 1) {  // 4:4:4: average 2 x 2
          for (int x = 0; x < w; ++x)
            o[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
        } else {  // 4:4:0: average column pairs
          for (int x = 0; x < w; ++x) o[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + 1) >> 1);
        }
      }
    }
  }
  *cb = chroma420_.data();
  *cr = chroma420_.data() + static_cast<size_t>(w) * h;
  *cstride = w;
  return true;
}

namespace {

// One plane of sw x sh into one of dw x dh: centred (the smaller picture in
// the middle on `fill`, the larger cropped to its middle; offsets even so
// that chroma stays co-sited) or from the top-left corner. Chroma rows are
// repeated `vrep` times (4:2:2 targets).
void place(const uint8_t* src, int sstride, int sw, int sh, uint8_t* dst, int dstride, int dw, int dh, int fill,
           int centre, int even, int vrep) {
  auto axis = [&](int s, int d, int* soff, int* doff, int* n) {
    *soff = *doff = 0;
    *n = std::min(s, d);
    if (!centre) return;
    const int diff = (s > d ? s - d : d - s) / 2;
    const int off = even ? diff & ~1 : diff;
    (s > d ? *soff : *doff) = off;
  };
  int sx, dx, nx, sy, dy, ny;
  axis(sw, dw, &sx, &dx, &nx);
  axis(sh * vrep, dh, &sy, &dy, &ny);
  if (nx < dw || ny < dh)
    for (int y = 0; y < dh; ++y) std::memset(dst + static_cast<size_t>(y) * dstride, fill, static_cast<size_t>(dw));
  for (int y = 0; y < ny; ++y)
    std::memcpy(dst + static_cast<size_t>(dy + y) * dstride + dx,
                src + static_cast<size_t>((sy + y) / vrep) * sstride + sx, static_cast<size_t>(nx));
}

}  // namespace

int JDecoder::get_picture_planes(const YuvPlanes& dst, int centre) {
  if (!have_frame || !dst.y || !dst.cb || !dst.cr || dst.width < 1 || dst.height < 1) {
    trace("JDecoder::get_picture (ERROR): %s\n", have_frame ? "no target" : "no picture decoded");
    return 4;
  }
  const int w = get_width(), h = get_height();
  place(comp_[0].plane.data(), comp_[0].stride, w, h, dst.y, dst.y_stride, dst.width, dst.height, 0, centre, 1, 1);
  const uint8_t *cb, *cr;
  int cs;
  render_420(&cb, &cr, &cs);
  const int cw = (dst.width + 1) / 2;
  const int rep = dst.chroma_format == 2 ? 2 : 1;
  const int ch = rep == 2 ? dst.height : (dst.height + 1) / 2;
  place(cb, cs, w / 2, h / 2, dst.cb, dst.c_stride, cw, ch, 128, centre, 0, rep);
  place(cr, cs, w / 2, h / 2, dst.cr, dst.c_stride, cw, ch, 128, centre, 0, rep);
  return 0;
}

static YuvPlanes contiguous_420(uint8_t* buffer, int width, int height) {
  YuvPlanes p;
  const size_t ys = static_cast<size_t>(width) * height;
  const size_t cs = static_cast<size_t>(width / 2) * (height / 2);
  p.y = buffer;
  p.cb = buffer + ys;
  p.cr = p.cb + cs;
  p.width = width;
  p.height = height;
  p.y_stride = width;
  p.c_stride = width / 2;
  return p;
}

int JDecoder::get_picture(uint8_t* buffer, int width, int height) {
  if (!buffer || width < 2 || height < 2) {
    trace("JDecoder::get_picture (ERROR): %s%s\n", buffer ? "" : "buffer=nil; ", width < 2 || height < 2 ? "size" : "");
    return 4;
  }
  if (get_sampling_kind() == 3) return get_sif_from_rgb(buffer, width, height);
  return get_picture_planes(contiguous_420(buffer, width & ~1, height & ~1), 1);
}

uint8_t* JDecoder::get_yuv420(uint8_t* buffer, int width, int height) {
  if (!have_frame) return nullptr;
  std::unique_ptr<uint8_t[]> own;
  if (!buffer) {
    width = get_width();
    height = get_height();
    own.reset(new (std::nothrow) uint8_t[static_cast<size_t>(width) * height * 3 / 2]);
    buffer = own.get();
    if (!buffer) return nullptr;
  }
  if (get_picture_planes(contiguous_420(buffer, width & ~1, height & ~1), 1) != 0) return nullptr;
  own.release();
  return buffer;
}

int JDecoder::get_sif_from_rgb(uint8_t* buffer, int width, int height) {
  if (!buffer || width < 16 || height < 16) {
    trace("JDecoder::get_sif_from_rgb (ERROR): %s%s%s", buffer ? "" : "sif=nil; ", width < 16 ? "swd<16" : "",
          height < 16 ? "sht<16" : "");
    return 4;
  }
  return get_picture_planes(contiguous_420(buffer, width & ~1, height & ~1), 0);
}

int jpeg_check_file(const char* name) {
  size_t n = 0x80000;
  std::unique_ptr<uint8_t[]> data(name ? JDecoder::load_data(name, &n) : nullptr);
  if (!data || n < 2) return 1;
  int sof = 0, soi = 0, dht = 0, sos = 0, dqt = 0;
  size_t pos = 0;
  while (pos + 1 < n) {
    if (!(data[pos] == 0xFF && data[pos + 1] != 0 && data[pos + 1] != 0xFF)) {
      ++pos;
      continue;
    }
    const int m = data[pos + 1];
    pos += 2;
    if (m == 0xD8) ++soi;
    if (m == 0xD8 || m == 0xD9 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;
    if (pos + 2 > n) break;
    const size_t len = (static_cast<size_t>(data[pos]) << 8) | data[pos + 1];
    if (m == 0xC0 || m == 0xC2) ++sof;
    if (m == 0xC4) ++dht;
    if (m == 0xDB) ++dqt;
    if (m == 0xDA) ++sos;
    if (len < 2) break;
    // Segments are stepped over whole; the entropy data after a scan
    // header is passed byte by byte (it holds no marker but RSTn).
    pos += len;
  }
  return (sof == 1 && soi == 1 && dht >= 1 && dqt >= 1 && sos >= 1) ? 0 : 1;
}

namespace {

// Rounded half away from 0, so the mappings are symmetric about grey.
int div_round(int n, int d) { return n >= 0 ? (n + d / 2) / d : -((-n + d / 2) / d); }

struct RangeTables {
  uint8_t luma[256], chroma[256];
  RangeTables() {
    for (int v = 0; v < 256; ++v) {
      luma[v] = static_cast<uint8_t>(16 + (v * 219 + 127) / 255);
      chroma[v] = static_cast<uint8_t>(128 + div_round((v - 128) * 224, 255));
    }
  }
};

// The way back; values outside video range saturate.
struct FullRangeTables {
  uint8_t luma[256], chroma[256];
  FullRangeTables() {
    for (int v = 0; v < 256; ++v) {
      luma[v] = static_cast<uint8_t>(std::clamp(div_round((v - 16) * 255, 219), 0, 255));
      chroma[v] = static_cast<uint8_t>(std::clamp(128 + div_round((v - 128) * 255, 224), 0, 255));
    }
  }
};

void map_plane(const uint8_t* table, uint8_t* p, int stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    uint8_t* row = p + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x) row[x] = table[row[x]];
  }
}

template <class Tables>
void map_planes(const YuvPlanes& p) {
  static const Tables t;
  if (!p.y || !p.cb || !p.cr || p.width < 1 || p.height < 1) return;
  const int cw = (p.width + 1) / 2;
  const int ch = p.chroma_format == 2 ? p.height : (p.height + 1) / 2;
  map_plane(t.luma, p.y, p.y_stride, p.width, p.height);
  map_plane(t.chroma, p.cb, p.c_stride, cw, ch);
  map_plane(t.chroma, p.cr, p.c_stride, cw, ch);
}

}  // namespace

void full_range_to_video_range(const YuvPlanes& p) { map_planes<RangeTables>(p); }

void video_range_to_full_range(const YuvPlanes& p) { map_planes<FullRangeTables>(p); }

int jpeg_load_still(const char* name, StillPicture* out) {
  JDecoder d;
  if (!out || d.decode(name) == 4) return 0;
  const YuvPlanes p = out->allocate(d.frame.width, d.frame.height);
  if (d.get_picture_planes(p, 0) != 0) {
    *out = StillPicture{};
    return 0;
  }
  full_range_to_video_range(p);
  out->clip_type = 11;
  return 11;
}

uint8_t* JDecoder::copy_to_frame(Frame* target) {
  if (!target || !target->image() || !target->image()->buffer) return nullptr;
  const YuvPlanes p = target->image()->planes();
  if (get_picture_planes(p, get_sampling_kind() != 3) != 0) return nullptr;
  full_range_to_video_range(p);
  return target->image()->buffer;
}

Frame* load_jpeg_image(const char* name) {
  if (jpeg_check_file(name) != 0) return nullptr;
  JDecoder dec;
  if (dec.decode(name) == 4) return nullptr;
  auto* f = new Frame(dec.get_width(), dec.get_height(), 1, 0);
  if (!dec.copy_to_frame(f)) {
    delete f;
    return nullptr;
  }
  return f;
}
