// JPEG decoder and encoder against ffmpeg, ImageMagick and libjpeg's tools
// on the same pictures, plus damaged-input cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/jpeg_decoder.h"
#include "formats/jpeg_encoder.h"
#include "formats/jpeg_idct.h"
#include "formats/jpeg_tables.h"
#include "support/support.h"

using namespace tsupport;

namespace {

// Planar 4:2:0 at the picture's true size, chroma (w + 1) / 2 wide.
struct Yuv {
  int w = 0, h = 0;
  std::vector<uint8_t> b;
  Yuv(int w_, int h_) : w(w_), h(h_), b(static_cast<size_t>(w_) * h_ + 2 * cs()) {}
  size_t ys() const { return static_cast<size_t>(w) * h; }
  size_t cs() const { return static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2); }
  YuvPlanes planes() {
    YuvPlanes p;
    p.y = b.data();
    p.cb = p.y + ys();
    p.cr = p.cb + cs();
    p.width = w;
    p.height = h;
    p.y_stride = w;
    p.c_stride = (w + 1) / 2;
    return p;
  }
};

// The decoded picture cropped to the frame header's size from the top-left.
bool decode_true_size(const std::vector<uint8_t>& data, Yuv* out, int* result = nullptr) {
  JDecoder d;
  const int r = d.decode(data.data(), data.size());
  if (result) *result = r;
  if (r == 4) return false;
  *out = Yuv(d.frame.width, d.frame.height);
  return d.get_picture_planes(out->planes(), 0) == 0;
}

// Offset of the first marker m found by walking segments from SOI.
size_t find_segment(const std::vector<uint8_t>& d, uint8_t m) {
  size_t pos = 2;
  while (pos + 4 <= d.size() && d[pos] == 0xFF) {
    if (d[pos + 1] == m) return pos;
    pos += 2 + (static_cast<size_t>(d[pos + 2]) << 8 | d[pos + 3]);
  }
  return std::string::npos;
}

}  // namespace

// Every picture the oracles made decodes to ffmpeg's reading of it.
TEST(JpegDecoder, MatchesFfmpegOnOracleStills) {
  struct Case {
    const char* name;
    int mcu_w, mcu_h;  // whole-MCU size the decoder reports
  } cases[] = {
      {"jpg_ff420", 352, 288}, {"jpg_ff422", 352, 288},  {"jpg_ff444", 352, 288},    {"jpg_ffgray", 352, 288}, {"jpg_im420", 352, 288},
      {"jpg_im422", 352, 288}, {"jpg_im444", 352, 288},  {"jpg_imgray", 352, 288},   {"jpg_prog420", 352, 288},
      {"jpg_prog444", 352, 288}, {"jpg_proggray", 352, 288}, {"jpg_progrst", 352, 288}, {"jpg_odd", 48, 32},
      {"jpg_cj420", 352, 288}, {"jpg_rst1", 352, 288},   {"jpg_rst3", 352, 288},     {"jpg_q10", 352, 288},
      {"jpg_q95", 352, 288},   {"jpg_exif", 352, 288},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto data = read_file(fixture(std::string(c.name) + ".jpg"));
    const auto ref = read_file(fixture(std::string(c.name) + ".ref.yuv"));
    JDecoder d;
    ASSERT_EQ(d.decode(data.data(), data.size()), 2);
    EXPECT_EQ(d.get_width(), c.mcu_w);
    EXPECT_EQ(d.get_height(), c.mcu_h);
    Yuv pic(1, 1);
    ASSERT_TRUE(decode_true_size(data, &pic));
    ASSERT_EQ(ref.size(), pic.b.size());
    EXPECT_GE(psnr(pic.b.data(), ref.data(), pic.ys()), 45.0);
    EXPECT_GE(psnr(pic.b.data() + pic.ys(), ref.data() + pic.ys(), pic.cs()), 40.0);
    EXPECT_GE(psnr(pic.b.data() + pic.ys() + pic.cs(), ref.data() + pic.ys() + pic.cs(), pic.cs()), 40.0);
  }
}

// The EXIF thumbnail's own SOI/SOF/SOS/EOI sit inside APP1 and are never
// taken for the picture's markers.
TEST(JpegDecoder, ExifThumbnailIsSkippedByLength) {
  const auto exif = read_file(fixture("jpg_exif.jpg"));
  const auto plain = read_file(fixture("jpg_im420.jpg"));
  Yuv a(1, 1), b(1, 1);
  ASSERT_TRUE(decode_true_size(exif, &a));
  ASSERT_TRUE(decode_true_size(plain, &b));
  EXPECT_EQ(a.w, 352);
  EXPECT_EQ(a.b, b.b);
  EXPECT_EQ(jpeg_check_file(fixture("jpg_exif.jpg").c_str()), 0);
}

// Components naming other table ids than 0 (Y) and 1 (chroma) decode the
// same: swap the two DQT ids and the ids the frame header names.
TEST(JpegDecoder, QuantTableIdsFollowTheFrameHeader) {
  auto data = read_file(fixture("jpg_cj420.jpg"));
  Yuv before(1, 1), after(1, 1);
  ASSERT_TRUE(decode_true_size(data, &before));
  size_t pos = 2;
  int swapped = 0;
  while (pos + 4 <= data.size() && data[pos] == 0xFF && data[pos + 1] != 0xDA) {
    const size_t len = static_cast<size_t>(data[pos + 2]) << 8 | data[pos + 3];
    if (data[pos + 1] == 0xDB)  // one table per segment: id 0 <-> 1
      for (size_t t = pos + 4; t < pos + 2 + len; t += 65) data[t] ^= 1, ++swapped;
    if (data[pos + 1] == 0xC0)
      for (int c = 0; c < 3; ++c) data[pos + 4 + 6 + 3 * c + 2] ^= 1;
    pos += 2 + len;
  }
  ASSERT_EQ(swapped, 2);
  ASSERT_TRUE(decode_true_size(data, &after));
  EXPECT_EQ(before.b, after.b);
}

TEST(JpegDecoder, RefusesWhatItCannotDecode) {
  const auto good = read_file(fixture("jpg_odd.jpg"));
  const size_t sof = find_segment(good, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases;
  auto with = [&](size_t at, uint8_t v) {
    auto d = good;
    d[at] = v;
    return d;
  };
  cases.push_back({"lossless frame", with(sof + 1, 0xC3)});
  cases.push_back({"arithmetic frame", with(sof + 1, 0xC9)});
  cases.push_back({"12-bit samples", with(sof + 4, 12)});
  cases.push_back({"four components", with(sof + 9, 4)});
  cases.push_back({"chroma sampled 2x2 with luma 1x1", [&] { auto d = with(sof + 11, 0x11); d[sof + 14] = 0x22; return d; }()});
  cases.push_back({"zero height", [&] { auto d = good; d[sof + 5] = d[sof + 6] = 0; return d; }()});
  cases.push_back({"no frame header", [&] { auto d = good; d.erase(d.begin() + sof, d.begin() + sof + 19); return d; }()});
  cases.push_back({"DC-only scan in a baseline frame", [&] {
                     auto d = good;
                     const size_t sos = find_segment(d, 0xDA);
                     d[sos + 4 + 1 + 2 * 3 + 1] = 0;  // Se = 0
                     return d;
                   }()});
  cases.push_back({"empty", {}});
  cases.push_back({"garbage", std::vector<uint8_t>(5000, 0xA5)});
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    JDecoder d;
    EXPECT_EQ(d.decode(c.data.data(), c.data.size()), 4);
  }
}

// An over-subscribed code space (three codes of one bit) is refused and the
// scan that needs it is abandoned, without reading outside the tables.
TEST(JpegDecoder, OverSubscribedHuffmanTableIsRefused) {
  JpegHuffTable t;
  uint8_t counts[16] = {3};
  uint8_t symbols[3] = {0, 1, 2};
  EXPECT_FALSE(t.build(counts, symbols));
  uint8_t ok_counts[16] = {2};
  EXPECT_TRUE(t.build(ok_counts, symbols));

  auto data = read_file(fixture("jpg_odd.jpg"));
  const size_t dht = find_segment(data, 0xC4);
  ASSERT_NE(dht, std::string::npos);
  data[dht + 5] = 3;  // first table: three codes of one bit, none of two
  data[dht + 6] = 0;
  TraceCapture cap;
  JDecoder d;
  EXPECT_EQ(d.decode(data.data(), data.size()), 4);
  EXPECT_TRUE(cap.contains("over-subscribed"));
}

// A second frame header (a concatenated bigger picture) must not resize or
// overrun the block arrays.
TEST(JpegDecoder, SecondFrameHeaderStopsDecoding) {
  auto small = read_file(fixture("jpg_odd.jpg"));
  const auto big = read_file(fixture("jpg_cj420.jpg"));
  small.resize(small.size() - 2);  // drop EOI
  small.insert(small.end(), big.begin() + 2, big.end());
  JDecoder d;
  EXPECT_EQ(d.decode(small.data(), small.size()), 1);
  EXPECT_EQ(d.get_width(), 48);
  Yuv pic(33, 17);
  EXPECT_EQ(d.get_picture_planes(pic.planes(), 0), 0);
}

// Every prefix and many bit-flipped copies decode without a fault; a cut
// picture keeps the rows decoded before the cut.
TEST(JpegDecoder, TruncatedAndCorruptInputIsSafe) {
  for (const char* name : {"jpg_odd.jpg", "jpg_progrst.jpg", "jpg_rst1.jpg"}) {
    SCOPED_TRACE(name);
    const auto data = read_file(fixture(name));
    const size_t step = data.size() > 4000 ? 97 : 1;
    for (size_t n = 0; n < data.size(); n += step) {
      JDecoder d;
      d.decode(data.data(), n);
      Yuv pic(40, 24);
      d.get_picture_planes(pic.planes(), 1);
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
      auto d2 = data;
      for (int k = 0; k < 4; ++k) d2[rng() % d2.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      JDecoder d;
      d.decode(d2.data(), d2.size());
      Yuv pic(64, 48);
      d.get_picture_planes(pic.planes(), 1);
    }
  }
  const auto full = read_file(fixture("jpg_cj420.jpg"));
  Yuv whole(1, 1), cut(1, 1);
  ASSERT_TRUE(decode_true_size(full, &whole));
  int r = 0;
  ASSERT_TRUE(decode_true_size(std::vector<uint8_t>(full.begin(), full.begin() + full.size() * 2 / 3), &cut, &r));
  EXPECT_EQ(r, 1);
  EXPECT_GE(psnr(whole.b.data(), cut.b.data(), 352 * 64), 60.0);  // top rows intact
}

// Placement into a requested size: centred with black bands or cropped to
// the middle for 4:2:0; 4:4:4 pictures are anchored top-left.
TEST(JpegDecoder, PicturePlacementInRequestedSize) {
  const auto data = read_file(fixture("jpg_cj420.jpg"));
  JDecoder d;
  ASSERT_EQ(d.decode(data.data(), data.size()), 2);
  std::vector<uint8_t> own(d.get_output_size());
  ASSERT_EQ(d.get_picture(own.data(), 352, 288), 0);

  std::vector<uint8_t> big(400 * 300 * 3 / 2);
  ASSERT_EQ(d.get_picture(big.data(), 400, 300), 0);
  EXPECT_EQ(big[0], 0);                           // band above
  EXPECT_EQ(big[400 * 300], 128);                 // chroma band
  EXPECT_EQ(big[6 * 400 + 24], own[0]);           // picture starts 6 rows, 24 columns in
  EXPECT_EQ(big[6 * 400 + 24 + 351], own[351]);

  std::vector<uint8_t> small(320 * 240 * 3 / 2);
  ASSERT_EQ(d.get_picture(small.data(), 320, 240), 0);
  EXPECT_EQ(small[0], own[24 * 352 + 16]);        // middle taken
  EXPECT_EQ(d.get_sampling_kind(), 1);

  const auto q95 = read_file(fixture("jpg_q95.jpg"));  // 1 x 1 sampling
  JDecoder e;
  ASSERT_EQ(e.decode(q95.data(), q95.size()), 2);
  EXPECT_EQ(e.get_sampling_kind(), 3);
  std::vector<uint8_t> full(352 * 288 * 3 / 2), part(320 * 240 * 3 / 2);
  ASSERT_EQ(e.get_picture(full.data(), 352, 288), 0);
  ASSERT_EQ(e.get_picture(part.data(), 320, 240), 0);
  EXPECT_EQ(0, std::memcmp(part.data() + 100 * 320, full.data() + 100 * 352, 320));
  EXPECT_EQ(e.get_sif_from_rgb(part.data(), 8, 240), 4);
}

TEST(JpegCheckFile, CountsTopLevelSegments) {
  const std::string dir = temp_dir();
  const auto good = read_file(fixture("jpg_odd.jpg"));
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    int expect;
  } cases[] = {
      {"plain", good, 0},
      {"two pictures", [&] { auto d = good; d.insert(d.end(), good.begin(), good.end()); return d; }(), 1},
      {"no tables", [&] {
         auto d = good;
         const size_t at = find_segment(d, 0xC4);
         d.erase(d.begin() + at, d.begin() + at + 4 + 29);  // first DHT (DC luma, 12 symbols)
         return d;
       }(), 0},
      {"one byte", {0xFF}, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir + "/c.jpg";
    ASSERT_TRUE(write_file(path, c.data));
    EXPECT_EQ(jpeg_check_file(path.c_str()), c.expect);
  }
  EXPECT_EQ(jpeg_check_file((dir + "/missing.jpg").c_str()), 1);
}

TEST(JpegTables, QualityScalingAndHuffmanSymbols) {
  Quant q50(50), q100(100), q1(1);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(q50.encode_table(0)[i], kJpegStdLumaQuant[i]);
    EXPECT_EQ(q50.encode_table(2)[i], kJpegStdChromaQuant[i]);
    EXPECT_EQ(q100.encode_table(1)[i], 1);
    EXPECT_EQ(q1.encode_table(0)[i], 255);
  }
  EXPECT_EQ(JEncoder(1, 0).quality, 85);
  // The AC tables hold end of block, ZRL and every run/size up to size 10.
  for (const JpegStdHuffman* t : {&kJpegStdAcLuma, &kJpegStdAcChroma}) {
    std::vector<int> seen(256, 0);
    for (int i = 0; i < t->count; ++i) ++seen[t->values[i]];
    for (int r = 0; r < 16; ++r)
      for (int s = 1; s <= 10; ++s) EXPECT_EQ(seen[r << 4 | s], 1);
    EXPECT_EQ(seen[0x00], 1);
    EXPECT_EQ(seen[0xF0], 1);
  }
}

// The example tables the encoder writes are byte for byte libjpeg's.
TEST(JpegEncoder, HuffmanSegmentsMatchCjpeg) {
  const auto cj = read_file(fixture("cjpeg_q85.jpg"));
  std::vector<uint8_t> src(64 * 64 * 3 / 2, 128), out(1 << 16);
  JpegBitReader w;
  w.init(out.data(), out.size());
  JEncoder enc(1, 85);
  const size_t n = enc.encode(&w, src.data(), 64, 64);
  ASSERT_GT(n, 0u);
  out.resize(n);
  auto tables = [](const std::vector<uint8_t>& d, uint8_t m) {
    std::vector<std::vector<uint8_t>> r;
    size_t pos = 2;
    while (pos + 4 <= d.size() && d[pos] == 0xFF && d[pos + 1] != 0xDA) {
      const size_t len = static_cast<size_t>(d[pos + 2]) << 8 | d[pos + 3];
      // One table per segment on both sides, ours and cjpeg's.
      if (d[pos + 1] == m) r.emplace_back(d.begin() + pos + 4, d.begin() + pos + 2 + len);
      pos += 2 + len;
    }
    return r;
  };
  auto a = tables(out, 0xC4), b = tables(cj, 0xC4);
  if (b.size() == 1) {  // cjpeg may put all four in one segment
    std::vector<std::vector<uint8_t>> split;
    const auto& s = b[0];
    for (size_t p = 0; p < s.size();) {
      size_t cnt = 0;
      for (int i = 0; i < 16; ++i) cnt += s[p + 1 + i];
      split.emplace_back(s.begin() + p, s.begin() + p + 17 + cnt);
      p += 17 + cnt;
    }
    b = split;
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
  auto qa = tables(out, 0xDB), qb = tables(cj, 0xDB);
  std::sort(qa.begin(), qa.end());
  std::sort(qb.begin(), qb.end());
  EXPECT_EQ(qa, qb);  // quality 85 scales the same way
}

// Quality 85 through the driver: ffmpeg, ImageMagick and djpeg read it,
// close to the source and to libjpeg's size.
TEST(JpegEncoder, OraclesReadOurPictures) {
  const std::string dir = temp_dir();
  const std::string out = dir + "/q85.jpg";
  std::vector<std::string> lines;
  EXPECT_EQ(dev("jpeg " + fixture("still_src.yuv") + " 352 288 444 85 " + out + " 2>/dev/null", nullptr), 2);
  ASSERT_EQ(dev("jpeg " + fixture("still_src.yuv") + " 352 288 420 85 " + out, &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  const long long bytes = field_int(lines[0], "bytes");
  const long long cjpeg = static_cast<long long>(read_file(fixture("cjpeg_q85.jpg")).size());
  EXPECT_GT(bytes, cjpeg * 7 / 10);
  EXPECT_LT(bytes, cjpeg * 13 / 10);

  std::string err;
  ASSERT_EQ(run("ffmpeg -nostdin -v error -i " + out + " -f rawvideo -pix_fmt yuvj420p " + dir + "/ff.yuv 2>&1", &err),
            0);
  EXPECT_EQ(err, "");
  const auto src = read_file(fixture("still_src.yuv"));
  const auto ff = read_file(dir + "/ff.yuv");
  ASSERT_EQ(ff.size(), src.size());
  EXPECT_GE(psnr(ff.data(), src.data(), 352 * 288), 35.0);
  EXPECT_GE(psnr(ff.data() + 352 * 288, src.data() + 352 * 288, 352 * 288 / 2), 35.0);

  // ImageMagick's RGB, its luminance against the source's (chroma
  // upsampling differs between the two readers, luminance does not).
  ASSERT_EQ(run("convert " + out + " -depth 8 rgb:" + dir + "/im.rgb"), 0);
  const auto im = read_file(dir + "/im.rgb");
  ASSERT_EQ(im.size(), static_cast<size_t>(352 * 288 * 3));
  double se = 0;
  for (size_t i = 0; i < 352 * 288; ++i) {
    const double l = 0.299 * im[3 * i] + 0.587 * im[3 * i + 1] + 0.114 * im[3 * i + 2];
    se += (l - src[i]) * (l - src[i]);
  }
  EXPECT_GE(10 * std::log10(255.0 * 255.0 * 352 * 288 / se), 35.0);

  std::string ident;
  ASSERT_EQ(run("identify -format '%w %h %Q' " + out, &ident), 0);
  EXPECT_EQ(ident, "352 288 85");
  EXPECT_EQ(run("djpeg -strict " + out + " > /dev/null"), 0);

  // Our decoder reads it back as well.
  Yuv back(1, 1);
  ASSERT_TRUE(decode_true_size(read_file(out), &back));
  EXPECT_GE(psnr(back.b.data(), ff.data(), back.b.size()), 45.0);
}

// The frame header carries the true size; MCUs cover the padded area, a
// DRI segment is there, and restart markers count RST0..RST7 round.
TEST(JpegEncoder, TrueSizeAndRestartMarkers) {
  struct Case {
    int w, h, chroma, rows;
  } cases[] = {{100, 75, 1, 5}, {64, 16, 1, 1}, {48, 160, 1, 10}, {50, 30, 2, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    Yuv src(c.w, c.h);
    for (size_t i = 0; i < src.b.size(); ++i) src.b[i] = static_cast<uint8_t>(i * 7 + i / 13);
    std::vector<uint8_t> chroma422;
    YuvPlanes p = src.planes();
    if (c.chroma == 2) {  // full-height chroma planes
      chroma422.assign(static_cast<size_t>((c.w + 1) / 2) * c.h * 2, 90);
      p.cb = chroma422.data();
      p.cr = p.cb + chroma422.size() / 2;
      p.chroma_format = 2;
    }
    const std::string path = temp_dir() + "/t.jpg";
    ASSERT_GT(jpeg_save_planes(path.c_str(), p, 90), 0);
    const auto d = read_file(path);
    const size_t sof = find_segment(d, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(d[sof + 5] << 8 | d[sof + 6], c.h);
    EXPECT_EQ(d[sof + 7] << 8 | d[sof + 8], c.w);
    EXPECT_EQ(d[sof + 11], c.chroma == 2 ? 0x21 : 0x22);
    EXPECT_NE(find_segment(d, 0xDD), std::string::npos);
    std::vector<int> rst;
    for (size_t i = find_segment(d, 0xDA); i + 1 < d.size(); ++i)
      if (d[i] == 0xFF && d[i + 1] >= 0xD0 && d[i + 1] <= 0xD7) rst.push_back(d[i + 1] - 0xD0);
    ASSERT_EQ(rst.size(), static_cast<size_t>(c.rows - 1));
    for (size_t i = 0; i < rst.size(); ++i) EXPECT_EQ(rst[i], static_cast<int>(i % 8));
    std::string dims;
    ASSERT_EQ(run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + path, &dims), 0);
    EXPECT_EQ(dims, std::to_string(c.w) + "," + std::to_string(c.h) + "\n");
    EXPECT_EQ(run("djpeg -strict " + path + " > /dev/null"), 0);
    Yuv back(1, 1);
    ASSERT_TRUE(decode_true_size(d, &back));
    EXPECT_GE(psnr(back.b.data(), src.b.data(), src.ys()), 30.0);
  }
}

// Noise at quality 100 needs more than one byte per pixel: the output does
// not fit the first buffer, and the result is still a whole picture; a
// buffer that is too small gives 0, not a truncated picture.
TEST(JpegEncoder, OutputLargerThanBufferFailsCleanly) {
  Yuv src(64, 64);
  std::mt19937 rng(3);
  for (auto& v : src.b) v = static_cast<uint8_t>(rng());
  std::vector<uint8_t> out(64 * 64);
  JpegBitReader w;
  w.init(out.data(), out.size());
  JEncoder enc(1, 100);
  TraceCapture cap;
  EXPECT_EQ(enc.encode_planes(&w, src.planes()), 0u);
  EXPECT_TRUE(cap.contains("too small"));

  const std::string path = temp_dir() + "/noise.jpg";
  const long long n = jpeg_save_planes(path.c_str(), src.planes(), 100);
  ASSERT_GT(n, 64 * 64);
  EXPECT_EQ(run("djpeg -strict " + path + " > /dev/null"), 0);
  Yuv back(1, 1);
  ASSERT_TRUE(decode_true_size(read_file(path), &back));
  EXPECT_GE(psnr(back.b.data(), src.b.data(), src.ys()), 35.0);
}

// The decoder writes DC-only blocks through the flat shortcut: it must give
// the transform's bytes for every DC the coefficient clamp lets through and
// beyond it, with the largest and smallest tables.
TEST(JpegIdct, DcShortcutMatchesTransform) {
  Quant q(50);
  uint16_t ones[64], largest[64];
  for (int i = 0; i < 64; ++i) ones[i] = 1, largest[i] = 65535;
  q.add_decode_table(0, q.encode_table(0));
  q.add_decode_table(1, q.encode_table(1));
  q.add_decode_table(2, ones);
  q.add_decode_table(3, largest);
  for (int t = 0; t < 4; ++t) {
    const int32_t* dq = q.decode_table(t);
    for (int dc = -5000; dc <= 5000; ++dc) {
      int16_t block[64] = {};
      block[0] = static_cast<int16_t>(dc);
      uint8_t a[64], b[64];
      jpeg_idct_dsp_for(CpuLevel::c)->put(block, dq, a, 8);
      jpeg_idct_dc_put(dc, dq, b, 8);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "table " << t << " dc " << dc;
    }
  }
}

// Full range to video range: the ends land on 16/235 (luma) and 16/240
// (chroma), grey stays 128, and the rows' padding beyond the area is left.
TEST(JpegDecoder, VideoRangeMapping) {
  struct Case {
    uint8_t in, y, c;
  } cases[] = {{0, 16, 16}, {255, 235, 240}, {128, 126, 128}, {1, 17, 16}, {254, 234, 239}, {64, 71, 72}};
  for (const auto& t : cases) {
    SCOPED_TRACE(int(t.in));
    // 3 x 1 picture in rows of 4 (one padding byte each).
    uint8_t y[4] = {t.in, t.in, t.in, 7}, cb[4] = {t.in, t.in, 7, 7}, cr[4] = {t.in, t.in, 7, 7};
    YuvPlanes p;
    p.y = y;
    p.cb = cb;
    p.cr = cr;
    p.width = 3;
    p.height = 1;
    p.y_stride = 4;
    p.c_stride = 4;
    full_range_to_video_range(p);
    EXPECT_EQ(y[0], t.y);
    EXPECT_EQ(y[2], t.y);
    EXPECT_EQ(cb[1], t.c);
    EXPECT_EQ(cr[0], t.c);
    EXPECT_EQ(y[3], 7);
    EXPECT_EQ(cb[2], 7);
  }
}
