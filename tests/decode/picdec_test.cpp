// Picture decoder: every frame of real streams against ffmpeg's decode (and
// mpeg2dec's), field pictures from the test writer, plain vs SIMD output,
// reduced sizes, set-up geometry and the decoder's refusal paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "picture/frame.h"
#include "decode/idct.h"
#include "decode/picdec.h"
#include "decode/picdec_bits.h"
#include "decode/picdec_internal.h"
#include "foundation/seq_header.h"
#include "foundation/utils.h"
#include "stream_writer.h"
#include "support.h"

using tsupport::dev_tool;
using tsupport::fixture;
using tsupport::run;
using tsupport::sh_quote;

namespace {

struct Decoded {
  int frames = 0, width = 0, height = 0, chroma = 420;
  std::string path;
};

Decoded decode_dev(const std::string& stream, const std::string& out, const std::string& extra = "",
                   const std::string& env = "") {
  Decoded d;
  std::string text;
  const int rc = run(env + " " + sh_quote(dev_tool()) + " decode " + sh_quote(stream) + " " + sh_quote(out) + " " + extra, &text);
  EXPECT_EQ(rc, 0) << text;
  const std::string line = tsupport::split_lines(text).empty() ? "" : tsupport::split_lines(text).back();
  d.frames = static_cast<int>(tsupport::field_int(line, "frames"));
  d.width = static_cast<int>(tsupport::field_int(line, "width"));
  d.height = static_cast<int>(tsupport::field_int(line, "height"));
  d.chroma = static_cast<int>(tsupport::field_int(line, "chroma"));
  d.path = out;
  return d;
}

void decode_ffmpeg(const std::string& stream, const std::string& out, int chroma, const std::string& vf = "") {
  const std::string pix = chroma == 422 ? "yuv422p" : "yuv420p";
  const int rc = run("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + sh_quote(stream) +
                     " -fps_mode passthrough " + (vf.empty() ? "" : "-vf " + vf + " ") + "-f rawvideo -pix_fmt " +
                     pix + " " + sh_quote(out));
  ASSERT_EQ(rc, 0);
}

struct Worst {
  double psnr = 99;
  int frame = -1;
  int plane = -1;
  int compared = 0;
};

// Lowest PSNR of any plane of any frame; only frames listed in `only` when
// it is not empty.
Worst compare_yuv(const std::string& a, const std::string& b, int w, int h, int chroma,
                  const std::vector<int>& only = {}) {
  const std::vector<uint8_t> A = tsupport::read_file(a), B = tsupport::read_file(b);
  const size_t cw = static_cast<size_t>(w + 1) / 2, ch = chroma == 422 ? h : static_cast<size_t>(h + 1) / 2;
  const size_t ys = static_cast<size_t>(w) * h, cs = cw * ch, fs = ys + 2 * cs;
  Worst r;
  const size_t n = std::min(A.size(), B.size()) / fs;
  for (size_t i = 0; i < n; ++i) {
    if (!only.empty() && std::find(only.begin(), only.end(), static_cast<int>(i)) == only.end()) continue;
    const size_t off[3] = {i * fs, i * fs + ys, i * fs + ys + cs};
    const size_t len[3] = {ys, cs, cs};
    for (int p = 0; p < 3; ++p) {
      const double v = tsupport::psnr(A.data() + off[p], B.data() + off[p], len[p]);
      if (v < r.psnr) {
        r.psnr = v;
        r.frame = static_cast<int>(i);
        r.plane = p;
      }
    }
    ++r.compared;
  }
  return r;
}

// "il_tff.m2v" -> "il_tff_m2v", a test name.
std::string fixture_test_name(const char* file) {
  std::string n = file;
  for (char& ch : n)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
}

struct StreamCase {
  const char* name;
  const char* what;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

const StreamCase kEveryFrameCases[] = {
    {"m1c.m1v", "MPEG-1 CIF"},
    {"q1.m1v", "MPEG-1 qscale 1"},
    {"q1_m2.m2v", "MPEG-2 qscale 1 with noise: escapes"},
    {"m2v.m2v", "MPEG-2 progressive"},
    {"m2c.m2v", "open GOPs"},
    {"cg.m2v", "closed GOPs"},
    {"il_tff.m2v", "interlaced top first, field DCT, alternate scan"},
    {"il_bff.m2v", "interlaced bottom first"},
    {"ivlc.m2v", "intra VLC, non-linear quantiser"},
    {"dc10.m2v", "intra DC precision 10, loaded matrices"},
    {"odd.m2v", "width not a multiple of 16"},
    {"422.m2v", "4:2:2 720x576"},
    {"hd.m2v", "1920x1080"},
    {"pd.m2v", "mpeg2enc 3:2 pulldown"},
};

// One test per stream, so that CTest runs them on all cores.
class EveryFrame : public ::testing::TestWithParam<StreamCase> {};

TEST_P(EveryFrame, MatchesFfmpeg) {
  const StreamCase& c = GetParam();
  SCOPED_TRACE(std::string(c.name) + ": " + c.what);
  const std::string dir = tsupport::temp_dir();
  const std::string src = fixture(c.name);
  const Decoded d = decode_dev(src, dir + "/ours.yuv");
  decode_ffmpeg(src, dir + "/ref.yuv", d.chroma);
  const size_t fs = static_cast<size_t>(d.width) * d.height +
                    2 * static_cast<size_t>((d.width + 1) / 2) * (d.chroma == 422 ? d.height : (d.height + 1) / 2);
  const size_t ref_frames = tsupport::read_file(dir + "/ref.yuv").size() / fs;
  EXPECT_EQ(static_cast<size_t>(d.frames), ref_frames);
  const Worst w = compare_yuv(dir + "/ours.yuv", dir + "/ref.yuv", d.width, d.height, d.chroma);
  EXPECT_EQ(w.compared, d.frames);
  EXPECT_GE(w.psnr, 48.0) << "frame " << w.frame << " plane " << w.plane;
}

INSTANTIATE_TEST_SUITE_P(PicDecoder, EveryFrame, ::testing::ValuesIn(kEveryFrameCases),
                         [](const ::testing::TestParamInfo<StreamCase>& p) {
                           return fixture_test_name(p.param.name);
                         });

// mpeg2dec's PGM frames: Y rows, then rows holding a Cb row and a Cr row
// side by side (4:2:0).
TEST(PicDecoder, SecondOpinionMpeg2dec) {
  const std::string dir = tsupport::temp_dir();
  const std::string src = fixture("il_tff.m2v");
  const Decoded d = decode_dev(src, dir + "/ours.yuv");
  std::string pgm;
  ASSERT_EQ(run("mpeg2dec -o pgmpipe " + sh_quote(src) + " 2>/dev/null", &pgm), 0);
  const std::vector<uint8_t> ours = tsupport::read_file(dir + "/ours.yuv");
  const int w = d.width, h = d.height;
  const size_t fs = static_cast<size_t>(w) * h * 3 / 2;
  size_t at = 0;
  int frames = 0;
  double worst = 99;
  while (at < pgm.size() && static_cast<size_t>(frames + 1) * fs <= ours.size()) {
    std::istringstream hdr(pgm.substr(at, 64));
    std::string magic;
    int pw, ph, maxv;
    hdr >> magic >> pw >> ph >> maxv;
    ASSERT_EQ(magic, "P5");
    at += static_cast<size_t>(hdr.tellg()) + 1;
    ASSERT_LE(at + static_cast<size_t>(pw) * ph, pgm.size());
    std::vector<uint8_t> frame(fs);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pgm.data() + at);
    for (int y = 0; y < h; ++y) std::memcpy(&frame[static_cast<size_t>(y) * w], p + static_cast<size_t>(y) * pw, w);
    for (int y = 0; y < h / 2; ++y) {
      const uint8_t* row = p + static_cast<size_t>(h + y) * pw;
      std::memcpy(&frame[static_cast<size_t>(w) * h + static_cast<size_t>(y) * (w / 2)], row, w / 2);
      std::memcpy(&frame[static_cast<size_t>(w) * h * 5 / 4 + static_cast<size_t>(y) * (w / 2)], row + pw / 2, w / 2);
    }
    at += static_cast<size_t>(pw) * ph;
    worst = std::min(worst, tsupport::psnr(frame.data(), ours.data() + frames * fs, fs));
    ++frames;
  }
  EXPECT_GE(frames, d.frames - 2);  // mpeg2dec may hold back the last pictures
  EXPECT_GE(worst, 48.0);
}

// The speed paths (fused 4:2:0 prediction, constant and DC+63 blocks,
// skipped macroblocks copied) included: field pictures, high quantiser
// precision, MPEG-1 escapes, 4:2:2.
class PlainAndSimd : public ::testing::TestWithParam<const char*> {};

TEST_P(PlainAndSimd, OutputsAreByteIdentical) {
  const std::string dir = tsupport::temp_dir();
  const std::string src = fixture(GetParam());
  decode_dev(src, dir + "/simd.yuv", "", "TAMSEL_CPU=");
  decode_dev(src, dir + "/plain.yuv", "", "TAMSEL_CPU=c");
  EXPECT_TRUE(tsupport::read_file(dir + "/simd.yuv") == tsupport::read_file(dir + "/plain.yuv"));
}

INSTANTIATE_TEST_SUITE_P(PicDecoder, PlainAndSimd, ::testing::Values("il_tff.m2v", "422.m2v", "m1c.m1v", "ivlc.m2v", "dc10.m2v",
                                                              "q1.m1v", "q1_m2.m2v", "fields_cg.m2v"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return fixture_test_name(p.param); });

// Field pictures, P second fields predicting from the first field, 16x8
// and dual prime: the writer's streams against ffmpeg.
TEST(PicDecoder, FieldPicturesMatchFfmpeg) {
  const std::string dir = tsupport::temp_dir();
  const std::vector<std::vector<int>> orders = {{0, 0, 0, 0}, {1, 1, 0, 1}};
  for (size_t o = 0; o < orders.size(); ++o) {
    SCOPED_TRACE(testing::Message() << "order " << o);
    const fieldstream::Stream st = fieldstream::make_stream(4, orders[o], 17u + static_cast<uint32_t>(o));
    const std::string src = dir + "/fields" + std::to_string(o) + ".m2v";
    ASSERT_TRUE(tsupport::write_file(src, st.bytes));
    const Decoded d = decode_dev(src, dir + "/ours.yuv");
    EXPECT_EQ(d.frames, 4);
    decode_ffmpeg(src, dir + "/ref.yuv", 420);
    EXPECT_EQ(tsupport::read_file(dir + "/ref.yuv").size(), static_cast<size_t>(4 * st.width * st.height * 3 / 2));
    const Worst w = compare_yuv(dir + "/ours.yuv", dir + "/ref.yuv", st.width, st.height, 420);
    EXPECT_EQ(w.compared, 4);
    EXPECT_GE(w.psnr, 48.0) << "frame " << w.frame << " plane " << w.plane;
  }
}

std::vector<int> intra_frames(const std::string& src) {
  std::string text;
  run("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 " + sh_quote(src), &text);
  std::vector<int> out;
  int i = 0;
  for (std::string l : tsupport::split_lines(text)) {
    // one type letter per frame; ffprobe may add empty lines
    l.erase(std::remove_if(l.begin(), l.end(), [](char ch) { return ch == ',' || ch == ' ' || ch == '\r'; }),
            l.end());
    if (l.empty()) continue;
    if (l[0] == 'I') out.push_back(i);
    ++i;
  }
  return out;
}

TEST(PicDecoder, ReducedSizesOfIntraPictures) {
  const std::string dir = tsupport::temp_dir();
  for (const char* name : {"il_tff.m2v", "m1c.m1v", "422.m2v"}) {
    const std::string src = fixture(name);
    const std::vector<int> intra = intra_frames(src);
    ASSERT_FALSE(intra.empty());
    for (const char* size : {"half", "quarter"}) {
      SCOPED_TRACE(std::string(name) + " " + size);
      const Decoded d = decode_dev(src, dir + "/ours.yuv", std::string("--size ") + size);
      decode_ffmpeg(src, dir + "/ref.yuv", d.chroma,
                    "scale=" + std::to_string(d.width) + ":" + std::to_string(d.height) + ":flags=area");
      const Worst w = compare_yuv(dir + "/ours.yuv", dir + "/ref.yuv", d.width, d.height, d.chroma, intra);
      EXPECT_EQ(w.compared, static_cast<int>(intra.size()));
      EXPECT_GE(w.psnr, 30.0) << "frame " << w.frame << " plane " << w.plane;
    }
  }
}

// Sequence header bytes for a size, as a stream would carry them.
SeqHdr make_seq(int w, int h, int mpeg2, int progressive) {
  SeqHdr s;
  s.setup(w, h, 5000000, 25.0, mpeg2);
  if (s.seq_ext) s.seq_ext->progressive_sequence = progressive;
  return s;
}

TEST(PicDecoder, PaddedSizesAndReducedGeometry) {
  struct {
    int w, h, mpeg2, progressive, pw, ph;
  } cases[] = {
      {720, 576, 1, 0, 720, 576}, {720, 480, 1, 0, 720, 480}, {352, 240, 0, 1, 352, 240}, {1920, 1080, 1, 0, 1920, 1088},
      {1920, 1080, 1, 1, 1920, 1088}, {350, 242, 1, 1, 352, 256},
  };
  for (const auto& c : cases) {
    const SeqHdr s = make_seq(c.w, c.h, c.mpeg2, c.progressive);
    PicDecoder d(&s);
    EXPECT_EQ(d.get_padded_width(), c.pw) << c.w << "x" << c.h;
    EXPECT_EQ(d.get_padded_height(), c.ph) << c.w << "x" << c.h;
  }
  const SeqHdr s = make_seq(720, 576, 1, 0);
  PicDecoder d(&s);
  d.set_scale(1);
  EXPECT_EQ(d.get_scaled_width(), 368);
  EXPECT_EQ(d.get_scaled_height(), 288);
  EXPECT_EQ(d.get_coef_limit(), 6);
  EXPECT_EQ(d.get_inverse_transform(), idct_half);
  d.set_scale(2);
  EXPECT_EQ(d.get_scaled_width(), 192);
  EXPECT_EQ(d.get_scaled_height(), 144);
  EXPECT_EQ(d.get_inverse_transform(), idct_quarter);
}

TEST(PicDecoder, CoefficientLimitClampsAndPicksTransform) {
  const SeqHdr s = make_seq(352, 288, 1, 1);
  PicDecoder d(&s);
  EXPECT_EQ(d.set_coef_limit(0), 1);
  EXPECT_EQ(d.get_inverse_transform(), idct_reduced);
  EXPECT_EQ(d.set_coef_limit(3), 3);
  EXPECT_EQ(d.get_inverse_transform(), idct_reduced);
  EXPECT_EQ(d.set_coef_limit(64), 63);
  EXPECT_EQ(d.get_inverse_transform(), idct_dispatch);
  d.set_scale(1);
  EXPECT_EQ(d.set_coef_limit(2), 2);
  EXPECT_EQ(d.get_inverse_transform(), idct_half);  // reduced modes keep theirs
}

// First picture of a stream file with the headers before it.
std::vector<uint8_t> first_picture(const std::vector<uint8_t>& es) {
  uint32_t code = 0;
  const int64_t p = utils_next_usr_start_code(0x100, es.data(), static_cast<int64_t>(es.size()), &code);
  const int64_t q = utils_next_usr_start_code(0x100, es.data() + p + 4, static_cast<int64_t>(es.size()) - p - 4, &code);
  return std::vector<uint8_t>(es.begin(), es.begin() + p + 4 + q);
}

TEST(PicDecoder, RefusalsLeaveTheFrameUntouched) {
  const std::vector<uint8_t> m1 = first_picture(tsupport::read_file(fixture("m1c.m1v")));
  const std::vector<uint8_t> m2 = first_picture(tsupport::read_file(fixture("m2c.m2v")));
  // A decoder without a sequence header needs one in front of the picture.
  {
    PicDecoder d(nullptr);
    EXPECT_EQ(d.get_mean_quant(), 0.0);
    Frame f(352, 288, 1, 0);
    uint32_t code = 0;
    const int64_t p = utils_next_usr_start_code(0x100, m1.data(), static_cast<int64_t>(m1.size()), &code);
    EXPECT_EQ(d.decode_picture(m1.data() + p, static_cast<int>(m1.size() - p), &f, nullptr, nullptr), 0);
    EXPECT_GT(d.decode_picture(m1.data(), static_cast<int>(m1.size()), &f, nullptr, nullptr), 0);
    EXPECT_GT(d.get_mean_quant(), 0.0);
  }
  // An MPEG-1 picture in an MPEG-2 sequence is refused.
  {
    SeqHdr s;
    ASSERT_GT(s.decode(m2.data(), static_cast<int>(m2.size())), 0);
    PicDecoder d(&s);
    Frame f(720, 576, 1, 0);
    std::memset(f.y_plane(), 77, static_cast<size_t>(f.y_size()));
    uint32_t code = 0;
    const int64_t p = utils_next_usr_start_code(0x100, m1.data(), static_cast<int64_t>(m1.size()), &code);
    EXPECT_EQ(d.decode_picture(m1.data() + p, static_cast<int>(m1.size() - p), &f, nullptr, nullptr), 0);
    for (int i = 0; i < f.y_size(); ++i) ASSERT_EQ(f.y_plane()[i], 77);
  }
}

TEST(PicDecoder, ParseOnlyPassMatchesDecoding) {
  const std::vector<uint8_t> es = tsupport::read_file(fixture("m2c.m2v"));
  const std::vector<uint8_t> pic = first_picture(es);
  SeqHdr s;
  ASSERT_GT(s.decode(pic.data(), static_cast<int>(pic.size())), 0);
  PicDecoder d(&s);
  Frame f(720, 576, 1, 0);
  ASSERT_GT(d.decode_picture(pic.data(), static_cast<int>(pic.size()), &f, nullptr, nullptr), 0);
  const double mq = d.get_mean_quant();
  EXPECT_GT(mq, 0.0);
  std::vector<MBInfo> recs(static_cast<size_t>(d.get_mb_count()));
  ASSERT_GT(d.decode_mb_info(pic.data(), static_cast<int>(pic.size()), recs.data()), 0);
  EXPECT_DOUBLE_EQ(d.get_mean_quant(), mq);
  int valid = 0;
  double activity = 0;
  for (const MBInfo& r : recs) {
    valid += r.valid;
    EXPECT_EQ(r.mb_type, 1);  // intra picture
    EXPECT_EQ(r.cbp, 63);
    activity += r.activity;
  }
  EXPECT_EQ(valid, d.get_mb_count());
  EXPECT_GT(activity, 0.0);
}

}  // namespace

namespace {

// Slices of each picture in reverse order (picture and sequence headers
// stay in front).
std::vector<uint8_t> shuffle_slices(const std::vector<uint8_t>& es) {
  std::vector<uint8_t> out;
  const int64_t n = static_cast<int64_t>(es.size());
  std::vector<std::pair<int64_t, int64_t>> slices;
  int64_t at = 0, copied = 0;
  auto flush = [&](int64_t upto) {
    if (!slices.empty()) {
      for (auto it = slices.rbegin(); it != slices.rend(); ++it)
        out.insert(out.end(), es.begin() + it->first, es.begin() + it->second);
      slices.clear();
    }
    out.insert(out.end(), es.begin() + copied, es.begin() + upto);
    copied = upto;
  };
  while (at < n) {
    int c = 0;
    const int64_t k = utils_next_start_code(es.data() + at, n - at, &c);
    if (!c) break;
    const int64_t s = at + k;
    int c2 = 0;
    const int64_t k2 = utils_next_start_code(es.data() + s + 4, n - s - 4, &c2);
    const int64_t e = c2 ? s + 4 + k2 : n;
    if (c >= 0x101 && c <= 0x1AF) {
      if (slices.empty()) {
        out.insert(out.end(), es.begin() + copied, es.begin() + s);
      }
      slices.emplace_back(s, e);
      copied = e;
    } else {
      flush(s);
    }
    at = e;
  }
  flush(n);
  return out;
}

TEST(PicDecoder, DamagedStreamsDecodeWithoutFault) {
  const std::string dir = tsupport::temp_dir();
  const std::vector<uint8_t> clean = tsupport::read_file(fixture("il_tff.m2v"));
  ASSERT_GT(clean.size(), 100000u);
  std::mt19937 rng(99);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  {
    std::vector<uint8_t> v = clean;
    for (int i = 0; i < 400; ++i) v[rng() % v.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    cases.emplace_back("bit flips", v);
  }
  cases.emplace_back("truncated", std::vector<uint8_t>(clean.begin(), clean.begin() + clean.size() / 3 + 777));
  cases.emplace_back("shuffled slices", shuffle_slices(clean));
  {
    // every 50th byte of the picture data zeroed: start-code look-alikes
    std::vector<uint8_t> v = clean;
    for (size_t i = 2000; i < v.size(); i += 50) v[i] = 0;
    cases.emplace_back("zeroed bytes", v);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const std::string src = dir + "/bad.m2v";
    ASSERT_TRUE(tsupport::write_file(src, c.second));
    const Decoded d = decode_dev(src, "/dev/null", "", "timeout 300");
    EXPECT_GT(d.frames, 0);
  }
}

}  // namespace

namespace {

// Offsets of every picture start code.
std::vector<size_t> picture_offsets(const std::vector<uint8_t>& es) {
  std::vector<size_t> out;
  for (size_t i = 0; i + 3 < es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0) out.push_back(i);
  return out;
}

// A field pair decodes as one picture of two fields; a first field whose
// second field is missing fills the other field's lines from its own and
// leaves no field pending for the next picture.
TEST(PicDecoder, FieldPairsAndLoneFirstFields) {
  const fieldstream::Stream st = fieldstream::make_stream(2, {0, 0}, 3);
  const std::vector<size_t> pics = picture_offsets(st.bytes);
  ASSERT_EQ(pics.size(), 4u);
  SeqHdr seq;
  ASSERT_GT(seq.decode(st.bytes.data(), static_cast<int>(st.bytes.size())), 0);
  PicDecoder d(&seq);
  Frame f0(st.width, st.height, 1, 1), f1(st.width, st.height, 1, 1);
  // the I/P pair of frame 0, with the headers in front
  const int n0 = d.decode_picture(st.bytes.data(), static_cast<int>(pics[2]), &f0, nullptr, nullptr);
  EXPECT_EQ(n0, static_cast<int>(pics[2]));
  EXPECT_EQ(d.get_second_field_pending(), 0);
  EXPECT_EQ(d.get_concealed_count(), 0);
  EXPECT_EQ(f0.field_count(), 2);
  EXPECT_EQ(f0.picture_structure(), 1);
  // frame 1's first field alone
  const int n1 = d.decode_picture(st.bytes.data() + pics[2], static_cast<int>(pics[3] - pics[2]), &f1, &f0, nullptr);
  EXPECT_GT(n1, 0);
  EXPECT_EQ(d.get_second_field_pending(), 0);
  for (int y = 0; y + 1 < st.height; y += 2)
    ASSERT_EQ(0, std::memcmp(f1.y_plane() + (y + 1) * f1.padded_width(), f1.y_plane() + y * f1.padded_width(), st.width))
        << "line " << y + 1;
}

}  // namespace

namespace {

// Quant matrix extension: matrices arrive in zig-zag order, bit-shifted by
// the 4-bit identifier and the load flags.
TEST(PicDecoder, QuantMatrixExtensionLoadsInZigZagOrder) {
  const SeqHdr s = make_seq(352, 288, 1, 1);
  PicDecoder d(&s);
  std::vector<uint8_t> ext(256, 0);
  BitWriter bw(ext.data(), ext.size(), 1);
  bw.put_bits(0x000001B5, 32);
  bw.put_bits(3, 4);  // quant matrix extension
  bw.put_bits(0, 1);  // no intra matrix
  bw.put_bits(1, 1);  // non-intra matrix follows
  for (int i = 0; i < 64; ++i) bw.put_bits(static_cast<uint32_t>(10 + i), 8);  // value by scan index
  bw.put_bits(0, 1);
  bw.put_bits(0, 1);
  const int n = static_cast<int>(bw.flush());
  PicHdr h;
  h.ext_copy.assign(ext.begin(), ext.begin() + n);
  h.ext_length = n;
  d.set_picture_header(h);
  d.load_quant_matrix_ext();
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(d.get_quant_matrix(1)[kZigZag[i]], 10 + i) << i;
    EXPECT_EQ(d.get_quant_matrix(3)[kZigZag[i]], 10 + i) << i;  // chroma follows luma
    EXPECT_EQ(d.get_quant_matrix(0)[i], kDefaultIntraMatrix[i]) << i;
  }
}

}  // namespace

namespace {

std::vector<uint8_t> frame_bytes(const Frame& f) {
  std::vector<uint8_t> out(f.y_plane(), f.y_plane() + f.y_size());
  out.insert(out.end(), f.cb_plane(), f.cb_plane() + f.c_size());
  out.insert(out.end(), f.cr_plane(), f.cr_plane() + f.c_size());
  return out;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One walk over the start codes in front of a picture: whatever sequence,
// GOP and user data headers come first, the picture decodes as it does on
// its own, and user data behind the GOP header reaches the frame.
TEST(PicDecoder, HeadersInFrontDecodeLikeThePictureAlone) {
  const std::vector<uint8_t> chunk = first_picture(tsupport::read_file(fixture("m2c.m2v")));
  const std::vector<size_t> pics = picture_offsets(chunk);
  ASSERT_FALSE(pics.empty());
  const std::vector<uint8_t> front(chunk.begin(), chunk.begin() + static_cast<long>(pics[0]));
  const std::vector<uint8_t> picture(chunk.begin() + static_cast<long>(pics[0]), chunk.end());
  ASSERT_EQ(std::vector<uint8_t>(chunk.begin(), chunk.begin() + 4), (std::vector<uint8_t>{0, 0, 1, 0xB3}));
  // the sequence header with its extensions, without the coded GOP header
  size_t seq_end = front.size();
  for (size_t i = 0; i + 3 < front.size(); ++i)
    if (front[i] == 0 && front[i + 1] == 0 && front[i + 2] == 1 && front[i + 3] == 0xB8) {
      seq_end = i;
      break;
    }
  const std::vector<uint8_t> sequence(front.begin(), front.begin() + static_cast<long>(seq_end));
  SeqHdr s;
  ASSERT_GT(s.decode(chunk.data(), static_cast<int>(chunk.size())), 0);
  const std::vector<uint8_t> gop = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40};  // closed GOP at 00:00:00:00
  const std::vector<uint8_t> user = {0, 0, 1, 0xB2, 'w', 'a', 'l', 'k'};
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int gop_user_length;
  } cases[] = {
      {"picture alone", picture, 0},
      {"as coded", chunk, 0},
      {"GOP and user data", concat({gop, user, picture}), 8},  // the user data start code counts
      {"sequence, GOP, user data", concat({sequence, gop, user, picture}), 8},
      {"sequence alone", concat({sequence, picture}), 0},
      {"user data alone", concat({user, picture}), 0},
  };
  std::vector<uint8_t> want;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PicDecoder d(&s);
    Frame f(720, 576, 1, 0);
    const int n = d.decode_picture(c.bytes.data(), static_cast<int>(c.bytes.size()), &f, nullptr, nullptr);
    EXPECT_EQ(n, static_cast<int>(c.bytes.size()));
    EXPECT_EQ(d.get_concealed_count(), 0);
    EXPECT_EQ(d.get_picture_header().picture_coding_type, PIC_TYPE_I);
    if (want.empty()) want = frame_bytes(f);
    EXPECT_TRUE(frame_bytes(f) == want);
    ASSERT_NE(f.image(), nullptr);
    EXPECT_EQ(f.image()->gop_user_data_length, c.gop_user_length);
  }
}

// Every cut through the headers in front of the picture data fails cleanly
// (0, frame untouched); cuts in the picture data still decode what is there.
TEST(PicDecoder, TruncatedHeadersFailWithoutFault) {
  const std::vector<uint8_t> chunk = first_picture(tsupport::read_file(fixture("m2c.m2v")));
  const std::vector<size_t> pics = picture_offsets(chunk);
  ASSERT_FALSE(pics.empty());
  SeqHdr s;
  ASSERT_GT(s.decode(chunk.data(), static_cast<int>(chunk.size())), 0);
  PicDecoder d(&s);
  Frame f(720, 576, 1, 0);
  const size_t header_end = pics[0] + 8;  // picture start code and its fixed bits
  for (size_t n = 0; n < std::min(chunk.size(), header_end + 64); ++n) {
    std::vector<uint8_t> cut(chunk.begin(), chunk.begin() + static_cast<long>(n));
    std::memset(f.y_plane(), 33, static_cast<size_t>(f.y_size()));
    const int r = d.decode_picture(cut.data(), static_cast<int>(cut.size()), &f, nullptr, nullptr);
    if (n < header_end) {
      EXPECT_EQ(r, 0) << "cut at " << n;
      ASSERT_EQ(f.y_plane()[0], 33) << "cut at " << n;
    }
    EXPECT_LE(r, static_cast<int>(n));
  }
}

// A picture read in place from a padded buffer (as the decode command
// does) decodes exactly like the same bytes copied: intra, and
// predicted from it, MPEG-1 and MPEG-2, frames and field pairs.
TEST(PicDecoder, InPlaceAndCopiedBodiesDecodeAlike) {
  const fieldstream::Stream st = fieldstream::make_stream(2, {0, 1}, 5);
  const std::vector<uint8_t> fields = st.bytes;
  for (const std::string& name : {std::string("m2c.m2v"), std::string("m1c.m1v"), std::string("fields")}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> es = name == "fields" ? fields : tsupport::read_file(fixture(name));
    std::vector<size_t> pics = picture_offsets(es);
    if (name == "fields") pics = {0, pics[2], es.size()};  // one field pair per frame
    else pics.front() = 0, pics.push_back(es.size());
    SeqHdr s;
    ASSERT_GT(s.decode(es.data(), static_cast<int>(es.size())), 0);
    const int w = s.get_horizontal_size(), h = s.get_vertical_size();
    std::vector<uint8_t> padded(es);
    padded.resize(es.size() + MB_READER_PADDING, 0);
    PicDecoder copied(&s), in_place(&s);
    in_place.set_input_padding(MB_READER_PADDING);
    Frame a0(w, h, 1, 1), a1(w, h, 1, 1), b0(w, h, 1, 1), b1(w, h, 1, 1);
    for (size_t k = 0; k + 1 < pics.size() && k < 3; ++k) {
      const size_t from = pics[k], len = pics[k + 1] - pics[k];
      const std::vector<uint8_t> own(es.begin() + static_cast<long>(from), es.begin() + static_cast<long>(from + len));
      Frame* fa = k ? &a1 : &a0;
      Frame* fb = k ? &b1 : &b0;
      const int na = copied.decode_picture(own.data(), static_cast<int>(len), fa, k ? &a0 : nullptr, nullptr);
      const int nb = in_place.decode_picture(padded.data() + from, static_cast<int>(len), fb, k ? &b0 : nullptr, nullptr);
      EXPECT_GT(na, 0) << "picture " << k;
      EXPECT_EQ(na, nb) << "picture " << k;
      ASSERT_TRUE(frame_bytes(*fa) == frame_bytes(*fb)) << "picture " << k;
    }
  }
}

// The named values are the coded ones: the writer codes field motion,
// 16x8 and dual prime as 1, 2 and 3, the decoder's records give them back
// as MotionType values, and structures and types reach the frame.
TEST(PicDecoder, NamedValuesMatchTheCodedOnes) {
  EXPECT_EQ(static_cast<int>(MOTION_FIELD), fieldstream::FIELD_MC);
  EXPECT_EQ(static_cast<int>(MOTION_16X8), fieldstream::MC_16X8);
  EXPECT_EQ(static_cast<int>(MOTION_DUAL_PRIME), fieldstream::DUAL_PRIME);
  EXPECT_EQ(MB_RECORDED_FLAGS, MB_INTRA | MB_BACKWARD | MB_FORWARD);
  const fieldstream::Stream st = fieldstream::make_stream(2, {1, 0}, 7);
  const std::vector<size_t> pics = picture_offsets(st.bytes);
  SeqHdr seq;
  ASSERT_GT(seq.decode(st.bytes.data(), static_cast<int>(st.bytes.size())), 0);
  PicDecoder d(&seq);
  d.enable_mb_info(1);
  Frame f0(st.width, st.height, 1, 1), f1(st.width, st.height, 1, 1);
  ASSERT_GT(d.decode_picture(st.bytes.data(), static_cast<int>(pics[2]), &f0, nullptr, nullptr), 0);
  EXPECT_EQ(f0.picture_structure(), PIC_BOTTOM_FIELD);  // bottom field first
  ASSERT_GT(d.decode_picture(st.bytes.data() + pics[2], static_cast<int>(st.bytes.size() - pics[2]), &f1, &f0, nullptr), 0);
  EXPECT_EQ(f1.picture_structure(), PIC_TOP_FIELD);
  EXPECT_EQ(d.get_picture_header().picture_coding_type, PIC_TYPE_P);
  // the records of the second pair: every macroblock forward-predicted with
  // one of the three field motion types
  MBInfo rec[64];
  const int cols = st.width / 16, rows = st.height / 32;
  ASSERT_GT(d.decode_mb_info(st.bytes.data() + pics[2], static_cast<int>(st.bytes.size() - pics[2]), rec), 0);
  int seen[4] = {};
  for (int i = 0; i < cols * rows; ++i) {
    EXPECT_EQ(rec[i].mb_type, MB_FORWARD) << i;
    ASSERT_GE(rec[i].motion_type, MOTION_FIELD) << i;
    ASSERT_LE(rec[i].motion_type, MOTION_DUAL_PRIME) << i;
    ++seen[rec[i].motion_type];
  }
  EXPECT_GT(seen[MOTION_FIELD] + seen[MOTION_16X8] + seen[MOTION_DUAL_PRIME], 0);
}

}  // namespace
