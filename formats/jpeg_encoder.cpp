#include "formats/jpeg_encoder.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "formats/jpeg_tables.h"
#include "foundation/bitstream.h"
#include "foundation/bsfile.h"
#include "foundation/trace.h"
#include "foundation/partial_output.h"

Huff::Huff() {
  const JpegStdHuffman* std_tables[4] = {&kJpegStdDcLuma, &kJpegStdAcLuma, &kJpegStdDcChroma, &kJpegStdAcChroma};
  for (int t = 0; t < 4; ++t) {
    Table& h = table[t];
    std::copy(std_tables[t]->bits, std_tables[t]->bits + 16, h.counts);
    h.symbols = std_tables[t]->values;
    h.count = std_tables[t]->count;
    std::fill(h.size, h.size + 256, 0);
    std::fill(h.code, h.code + 256, 0);
    // Canonical codes: consecutive within a length, doubled to the next.
    int code = 0, k = 0;
    for (int l = 1; l <= 16; ++l, code <<= 1)
      for (int i = 0; i < h.counts[l - 1]; ++i, ++k, ++code) {
        h.code[h.symbols[k]] = static_cast<uint16_t>(code);
        h.size[h.symbols[k]] = static_cast<uint8_t>(l);
      }
  }
}

namespace {

// Entropy-coded bits, a zero byte stuffed after every 0xFF.
struct EntropyWriter {
  BitWriter* bw;
  uint64_t acc = 0;
  int n = 0;

  void put(uint32_t bits, int len) {
    acc = (acc << len) | (bits & ((1u << len) - 1));
    n += len;
    while (n >= 8) {
      const uint32_t b = static_cast<uint32_t>(acc >> (n - 8)) & 0xFF;
      n -= 8;
      bw->put_bits(b, 8);
      if (b == 0xFF) bw->put_bits(0, 8);
    }
  }
  // Pads the last byte with 1 bits.
  void flush() {
    if (n > 0) put(0x7F, 8 - n);
    acc = 0;
  }
};

inline int bit_length(int v) {
  v = v < 0 ? -v : v;
  return v ? 32 - __builtin_clz(static_cast<unsigned>(v)) : 0;
}

void encode_block(EntropyWriter& w, const int16_t* q, int* last_dc, const Huff::Table& dc, const Huff::Table& ac) {
  const int diff = q[0] - *last_dc;
  *last_dc = q[0];
  int s = bit_length(diff);
  w.put(dc.code[s], dc.size[s]);
  if (s) w.put(static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), s);
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int v = q[kJpegNatural[k]];
    if (v == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      w.put(ac.code[0xF0], ac.size[0xF0]);
      run -= 16;
    }
    s = bit_length(v);
    const int rs = (run << 4) | s;
    w.put(ac.code[rs], ac.size[rs]);
    w.put(static_cast<uint32_t>(v < 0 ? v - 1 : v), s);
    run = 0;
  }
  if (run) w.put(ac.code[0], ac.size[0]);
}

// 8 x 8 samples from (x, y) of a plane, edges repeated, level-shifted.
void read_block(const uint8_t* plane, int stride, int pw, int ph, int x, int y, int16_t* out) {
  for (int r = 0; r < 8; ++r) {
    const uint8_t* row = plane + static_cast<size_t>(std::min(y + r, ph - 1)) * stride;
    if (x + 8 <= pw) {
      for (int c = 0; c < 8; ++c) out[r * 8 + c] = static_cast<int16_t>(row[x + c] - 128);
    } else {
      for (int c = 0; c < 8; ++c) out[r * 8 + c] = static_cast<int16_t>(row[std::min(x + c, pw - 1)] - 128);
    }
  }
}

void put16(BitWriter& bw, int v) { bw.put_bits(static_cast<uint32_t>(v) & 0xFFFF, 16); }

}  // namespace

JEncoder::JEncoder(int chroma_format, int q) {
  quality = q == 0 ? 85 : q;
  sampling = chroma_format == 2 ? 2 : 1;
  huff = std::make_unique<Huff>();
  quant = std::make_unique<Quant>(quality);
}

void JEncoder::reset() {
  huff.reset();
  quant.reset();
}

size_t JEncoder::max_output_size(int w, int h) {
  // Every coefficient of every block at its longest code and magnitude,
  // doubled for stuffing, plus the headers.
  const size_t blocks = static_cast<size_t>((w + 15) / 16) * ((h + 15) / 16) * 6;
  return blocks * 64 * 27 * 2 / 8 + 4096;
}

size_t JEncoder::encode(JpegBitReader* out, const uint8_t* picture, int w, int h) {
  if (!picture || w < 1 || h < 1) {
    trace("JEncoder::encode (ERROR): %s\n", picture ? "bad size" : "picture=nil");
    return 0;
  }
  const int pw = (w + 15) & ~15, ph = (h + 15) & ~15;
  YuvPlanes p;
  p.y = const_cast<uint8_t*>(picture);
  p.cb = p.y + static_cast<size_t>(pw) * ph;
  p.cr = p.cb + static_cast<size_t>(pw / 2) * (sampling == 2 ? ph : ph / 2);
  p.width = w;
  p.height = h;
  p.y_stride = pw;
  p.c_stride = pw / 2;
  p.chroma_format = sampling == 2 ? 2 : 1;
  return encode_planes(out, p);
}

size_t JEncoder::encode_planes(JpegBitReader* out, const YuvPlanes& src) {
  if (!out || !out->start || !huff || !quant || !src.y || !src.cb || !src.cr || src.width < 1 || src.height < 1 ||
      src.width > 65535 || src.height > 65535) {
    trace("JEncoder::encode (ERROR): %s\n", !out || !out->start ? "no output buffer" : "no picture or tables");
    return 0;
  }
  width = src.width;
  height = src.height;
  const int vy = sampling == 2 ? 1 : 2;  // luminance blocks down per MCU
  const int mcus_x = (width + 15) / 16, mcus_y = (height + 8 * vy - 1) / (8 * vy);
  const int cw = (width + 1) / 2, ch = sampling == 2 ? height : (height + 1) / 2;
  frame = JpegFrameHeader(width, height, sampling == 1);
  scan = JpegScanHeader();

  const size_t room = static_cast<size_t>(out->end - out->current);
  BitWriter bw(out->current, room);
  // Headers: SOI, two DQT, SOF0 (the true picture size), four DHT, DRI of
  // one MCU row, SOS.
  put16(bw, kJpegSOI);
  for (int t = 0; t < 2; ++t) {
    put16(bw, kJpegDQT);
    put16(bw, 67);
    bw.put_bits(static_cast<uint32_t>(t), 8);
    const uint16_t* q = quant->encode_table(t);
    for (int k = 0; k < 64; ++k) bw.put_bits(q[kJpegNatural[k]], 8);
  }
  put16(bw, kJpegSOF0);
  put16(bw, frame.length);
  bw.put_bits(8, 8);
  put16(bw, frame.height);
  put16(bw, frame.width);
  bw.put_bits(3, 8);
  for (const auto& c : frame.comp) {
    bw.put_bits(c.id, 8);
    bw.put_bits(static_cast<uint32_t>(c.h << 4 | c.v), 8);
    bw.put_bits(c.tq, 8);
  }
  for (int t = 0; t < 4; ++t) {
    const Huff::Table& h = huff->table[t];
    put16(bw, kJpegDHT);
    put16(bw, 19 + h.count);
    bw.put_bits(Huff::kClassId[t], 8);
    for (int i = 0; i < 16; ++i) bw.put_bits(h.counts[i], 8);
    for (int i = 0; i < h.count; ++i) bw.put_bits(h.symbols[i], 8);
  }
  put16(bw, kJpegDRI);
  put16(bw, 4);
  put16(bw, mcus_x);
  put16(bw, kJpegSOS);
  put16(bw, scan.length);
  bw.put_bits(3, 8);
  for (const auto& c : scan.comp) {
    bw.put_bits(c.id, 8);
    bw.put_bits(static_cast<uint32_t>(c.td << 4 | c.ta), 8);
  }
  bw.put_bits(scan.ss, 8);
  bw.put_bits(scan.se, 8);
  bw.put_bits(static_cast<uint32_t>(scan.ah << 4 | scan.al), 8);

  EntropyWriter ew{&bw};
  int16_t samples[64], coef[64];
  int dc[3] = {0, 0, 0};
  const Huff::Table* tables = huff->table;
  for (int my = 0; my < mcus_y; ++my) {
    for (int mx = 0; mx < mcus_x; ++mx) {
      for (int v = 0; v < vy; ++v)
        for (int hb = 0; hb < 2; ++hb) {
          read_block(src.y, src.y_stride, width, height, mx * 16 + hb * 8, (my * vy + v) * 8, samples);
          quant->quantize(0, samples, coef);
          encode_block(ew, coef, &dc[0], tables[0], tables[1]);
        }
      const uint8_t* planes[2] = {src.cb, src.cr};
      for (int c = 0; c < 2; ++c) {
        read_block(planes[c], src.c_stride, cw, ch, mx * 8, my * 8, samples);
        quant->quantize(1 + c, samples, coef);
        encode_block(ew, coef, &dc[1 + c], tables[2], tables[3]);
      }
    }
    if (my + 1 < mcus_y) {
      ew.flush();
      put16(bw, kJpegRST0 + (my & 7));
      dc[0] = dc[1] = dc[2] = 0;
    }
  }
  ew.flush();
  put16(bw, kJpegEOI);
  const uint64_t wanted = bw.bit_count() / 8;
  const size_t used = bw.flush();
  if (wanted > room || used != wanted) {
    trace("JEncoder::encode (ERROR): output buffer too small (%llu > %zu bytes)\n",
          static_cast<unsigned long long>(wanted), room);
    return 0;
  }
  out->current += used;
  return used;
}

long long jpeg_save_planes(const char* name, const YuvPlanes& src, int quality) {
  if (!name || !src.y) return 0;
  const int chroma = src.chroma_format == 2 ? 2 : 1;
  JEncoder enc(chroma, quality);
  // A first try in a buffer of one byte per pixel (ample at usual
  // qualities), then one of the worst-case size.
  std::vector<uint8_t> buf(static_cast<size_t>(src.width) * src.height + 4096);
  JpegBitReader w;
  w.init(buf.data(), buf.size());
  size_t n = enc.encode_planes(&w, src);
  if (!n) {
    buf.assign(JEncoder::max_output_size(src.width, src.height), 0);
    w.init(buf.data(), buf.size());
    n = enc.encode_planes(&w, src);
    if (!n) return 0;
  }
  int err = 0;
  BSFile f(name, 2, &err);
  if (err || !f.is_open()) {
    trace("jpeg_save_planes (ERROR): <%s> cannot open for writing\n", name);
    return 0;
  }
  const size_t wrote = f.write(buf.data(), n);
  f.close();
  if (wrote != n) {
    trace("jpeg_save_planes (ERROR): <%s> short write\n", name);
    utils_remove_partial_output(name);
    return 0;
  }
  return static_cast<long long>(n);
}
