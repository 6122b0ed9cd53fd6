// Re-encoding support of the save: picture types of re-encoded runs, the
// display-order list and the field-count rewrites on coded bytes, the
// picture copy, single re-encoded I pictures, the luma blend, scene-change
// statistics and the inverse-telecine window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "access/dtv.h"
#include "decode/picdec.h"
#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "encode/encoder.h"
#include "foundation/bitstream.h"
#include "foundation/pic_header.h"
#include "picture/frame.h"
#include "record/recoder.h"
#include "support.h"

namespace {

std::string types_of(int n, int m) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "?IPB"[run_picture_type(i, n, m)];
  return s;
}

TEST(Recoder, RunPictureTypesEndOnAReferenceWithOneI) {
  struct Case {
    int n, m;
    const char* types;
  } cases[] = {
      {7, 3, "IBBPBBP"}, {6, 3, "BBIBBP"}, {8, 3, "BIBBPBBP"}, {1, 3, "I"},     {2, 3, "BI"},
      {5, 1, "IPPPP"},   {4, 0, "IPPP"},   {12, 4, "BBBIBBBPBBBP"}, {3, 2, "IBP"}, {15, 3, "BBIBBPBBPBBPBBP"},
  };
  for (const Case& c : cases) EXPECT_EQ(types_of(c.n, c.m), c.types) << c.n << " frames, M " << c.m;
  for (int m = 1; m <= 4; ++m)
    for (int n = 1; n <= 40; ++n) {
      const std::string t = types_of(n, m);
      EXPECT_EQ(std::count(t.begin(), t.end(), 'I'), 1) << t;
      EXPECT_NE(t.back(), 'B') << t;
      EXPECT_LE(int(t.find('I')), m - 1) << t;
    }
}

// Coded bytes of pictures with their coding extensions: types in coded
// order, each with (fields, top_field_first).
std::vector<uint8_t> coded_gop(const std::string& types, const std::vector<int>& rff = {},
                               const std::vector<int>& tff = {}) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < types.size(); ++i) {
    PicHdr ph;
    ph.mpeg2 = 1;
    ph.picture_coding_type = types[i] == 'I' ? 1 : types[i] == 'P' ? 2 : 3;
    ph.temporal_reference = int(i);
    ph.vbv_delay = 0xFFFF;
    ph.forward_f_code = ph.backward_f_code = 7;
    PicCodingExt e;
    e.f_code[0][0] = e.f_code[0][1] = e.f_code[1][0] = e.f_code[1][1] = ph.picture_coding_type == 1 ? 15 : 2;
    e.top_field_first = tff.empty() ? 1 : tff[i];
    e.repeat_first_field = rff.empty() ? 0 : rff[i];
    e.progressive_frame = e.repeat_first_field;
    e.chroma_420_type = e.progressive_frame;
    ph.set_coding_ext(&e);
    uint8_t buf[256];
    const int n = ph.encode(buf, sizeof buf);
    EXPECT_GT(n, 0);
    out.insert(out.end(), buf, buf + n);
    // A slice's worth of bytes so that pictures are not adjacent.
    const uint8_t slice[] = {0, 0, 1, 1, 0x12, 0x34, 0x56, 0x78};
    out.insert(out.end(), slice, slice + sizeof slice);
  }
  return out;
}

TEST(Recoder, ReferenceFrameListIsInDisplayOrderWithFieldPositions) {
  const std::vector<uint8_t> g = coded_gop("IBBPBB");
  std::vector<RefFrameEntry> list;
  ASSERT_EQ(build_rf_list(20, g.data(), int(g.size()), 0, &list), 6);
  // Coded I B B P B B shows B B I B B P.
  const int coded_index[] = {1, 2, 0, 4, 5, 3};
  std::vector<int> offsets;
  for (size_t i = 0; i + 4 <= g.size(); ++i)
    if (g[i] == 0 && g[i + 1] == 0 && g[i + 2] == 1 && g[i + 3] == 0) offsets.push_back(int(i));
  ASSERT_EQ(offsets.size(), 6u);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(list[size_t(k)].offset, offsets[size_t(coded_index[k])]) << k;
    EXPECT_EQ(list[size_t(k)].field, 2 * k) << k;
    EXPECT_EQ(list[size_t(k)].packed, 0x210) << k;
  }
  // A limit reads only the first pictures, the held one included (a limit
  // of 2 read I B B and listed 3); short or empty input lists none.
  ASSERT_EQ(build_rf_list(2, g.data(), int(g.size()), 0, &list), 2);
  EXPECT_EQ(list[0].offset, offsets[1]);
  EXPECT_EQ(list[1].offset, offsets[0]);
  ASSERT_EQ(build_rf_list(3, g.data(), int(g.size()), 0, &list), 3);
  EXPECT_EQ(list[2].offset, offsets[0]);
  EXPECT_EQ(build_rf_list(20, g.data(), 11, 0, &list), 0);
  EXPECT_EQ(build_rf_list(20, nullptr, 0, 0, &list), 0);
  std::vector<uint8_t> junk(500, 0xAB);
  EXPECT_EQ(build_rf_list(20, junk.data(), int(junk.size()), 0, &list), 0);
}

TEST(Recoder, PictureCodingExtensionFlagsAreRewrittenInPlace) {
  std::vector<uint8_t> g = coded_gop("I");
  EXPECT_EQ(set_picture_coding_ext_flags(g.data(), int(g.size()), 1, 0), 1) << "nothing changes";
  EXPECT_EQ(set_picture_coding_ext_flags(g.data(), int(g.size()), 0, 1), 0);
  PicHdr ph;
  ASSERT_GT(ph.decode(g.data(), int(g.size())), 0);
  EXPECT_EQ(ph.get_top_field_first(), 0);
  EXPECT_EQ(ph.get_repeat_first_field(), 1);
  EXPECT_EQ(ph.get_progressive_frame(), 1) << "a repeated field needs a progressive frame";
  EXPECT_EQ(ph.get_field_count(0), 3);
  EXPECT_EQ(ph.coding_ext->q_scale_type, 0) << "other bits kept";
  EXPECT_EQ(set_picture_coding_ext_flags(g.data(), int(g.size()), 1, 0), 0);
  ASSERT_GT(ph.decode(g.data(), int(g.size())), 0);
  EXPECT_EQ(ph.get_field_count(0), 2);
  EXPECT_EQ(ph.get_top_field_first(), 1);
  // An MPEG-1 picture has no extension.
  const uint8_t mpeg1[] = {0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8, 0, 0, 1, 1, 0x10};
  std::vector<uint8_t> m(mpeg1, mpeg1 + sizeof mpeg1);
  EXPECT_EQ(set_picture_coding_ext_flags(m.data(), int(m.size()), 0, 1), 1);
  EXPECT_TRUE(std::equal(m.begin(), m.end(), mpeg1));
}

// Fields of the listed pictures, and whether each starts on the field the
// one before it leaves.
int total_fields(const std::vector<uint8_t>& g, bool* parity_ok, int* first_tff) {
  std::vector<RefFrameEntry> list;
  const int n = build_rf_list(64, g.data(), int(g.size()), 0, &list);
  *parity_ok = true;
  for (int k = 1; k < n; ++k) {
    const RefFrameEntry& a = list[size_t(k - 1)];
    const int want = a.fields() % 2 ? !a.top_field_first() : a.top_field_first();
    if (list[size_t(k)].top_field_first() != want) *parity_ok = false;
  }
  *first_tff = n ? list[0].top_field_first() : -1;
  return n ? list[size_t(n - 1)].field + list[size_t(n - 1)].fields() : 0;
}

TEST(Recoder, FieldCountAdjustmentKeepsTheParityOfTheRest) {
  struct Case {
    const char* types;
    std::vector<int> rff, tff;
    int all, delta, changed;
  } cases[] = {
      {"IBBPBB", {}, {}, 0, 1, 1},
      {"IBBPBB", {}, {}, 1, 1, 1},
      {"IBBPBB", {}, {}, 0, 2, 2},
      {"IBBPBB", {}, {}, 0, -1, 0},                                 // nothing shows 3 fields
      {"IBBPBB", {0, 1, 0, 0, 1, 0}, {0, 1, 0, 1, 0, 1}, 0, -1, 1},  // pulldown-like
      {"IBBPBB", {0, 1, 0, 0, 1, 0}, {0, 1, 0, 1, 0, 1}, 1, -1, 1},
      {"IBBPBB", {0, 1, 0, 0, 1, 0}, {0, 1, 0, 1, 0, 1}, 0, -2, 2},
      {"IBBPBB", {0, 1, 0, 0, 1, 0}, {0, 1, 0, 1, 0, 1}, 0, 1, 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> g = coded_gop(c.types, c.rff, c.tff);
    bool ok = false;
    int tff0 = -1;
    const int before = total_fields(g, &ok, &tff0);
    ASSERT_TRUE(ok) << "the case itself keeps parity";
    EXPECT_EQ(adjust_field_count(g.data(), int(g.size()), 0, 64, c.all, c.delta), c.changed);
    int tff1 = -1;
    const int after = total_fields(g, &ok, &tff1);
    EXPECT_EQ(after, before + (c.delta > 0 ? c.changed : -c.changed)) << c.delta;
    EXPECT_TRUE(ok) << "every picture starts on the field its predecessor leaves, delta " << c.delta;
    EXPECT_EQ(tff1, tff0) << "the first picture still follows the GOP before";
  }
  std::vector<uint8_t> g = coded_gop("IBBPBB");
  const std::vector<uint8_t> kept = g;
  EXPECT_EQ(adjust_field_count(g.data(), int(g.size()), 1, 64, 0, 1), 0) << "progressive output";
  EXPECT_EQ(g, kept);
}

TEST(Recoder, LumaBlendWeightsAndSamples) {
  const int table[] = {0, 64, 146, 192, 216, 229, 236};
  for (int d = 0; d < 7; ++d) EXPECT_EQ(luma_blend_weight(d), table[d]) << d;
  EXPECT_LT(luma_blend_weight(39), 256);
  for (int d = 40; d < 256; ++d) EXPECT_EQ(luma_blend_weight(d), 256) << d;

  Frame prev(32, 32, 1, 0), cur(32, 32, 1, 0);
  for (int i = 0; i < prev.y_size(); ++i) {
    prev.y_plane()[i] = uint8_t(100 + (i % 7));
    cur.y_plane()[i] = uint8_t(prev.y_plane()[i] + (i % 3 == 0 ? 1 : i % 3 == 1 ? 40 : -60));
  }
  std::vector<uint8_t> before(cur.y_plane(), cur.y_plane() + cur.y_size());
  LumaCopy lc;
  lc.start(1);
  lc.set_reference_frames(&cur, &prev);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), cur.y_plane())) << "the first call only counts";
  lc.set_reference_frames(&cur, &prev);
  EXPECT_EQ(lc.calls, 2);
  for (int i = 0; i < cur.y_size(); ++i) {
    const int p = prev.y_plane()[i], n = before[size_t(i)];
    if (i % 3 == 0)
      ASSERT_EQ(cur.y_plane()[i], (192 * p + 64 * n + 128) / 256) << i;
    else
      ASSERT_EQ(cur.y_plane()[i], n) << "a difference of 40 or more is left alone, " << i;
  }
  Frame other(48, 32, 1, 0);
  std::memset(other.y_plane(), 0, size_t(other.y_size()));
  copy_frame_luma(&other, &prev);
  EXPECT_EQ(other.y_plane()[0], 0) << "other sizes are not blended";
  LumaCopy off;
  off.start(0);
  off.set_reference_frames(&cur, &prev);
  EXPECT_EQ(off.calls, 0);
}

TEST(Recoder, SceneChangeThresholds) {
  SceneStats s;
  s.init(720, 576, 1);
  EXPECT_EQ(s.threshold, 810);
  // The first value meets 3 x trunc(810 / 3) = 810 and must pass it.
  EXPECT_EQ(s.is_scene_change(810), 0);
  s.reset();
  EXPECT_EQ(s.is_scene_change(811), 1);
  EXPECT_EQ(s.count, 0) << "statistics restart after a change";
  // Below half the macroblocks never, however quiet the pictures before.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(s.is_scene_change(1), 0);
  EXPECT_EQ(s.is_scene_change(809), 0);
  s.reset();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.is_scene_change(300), 0);
  EXPECT_EQ(s.is_scene_change(900), 0) << "not above 3 x the mean 300";
  EXPECT_EQ(s.is_scene_change(1620), 1);
  SceneStats off;
  off.init(720, 576, 0);
  EXPECT_EQ(off.is_scene_change(1620), 0);
}

void fill(Frame& f, int seed) {
  std::mt19937 rng(unsigned(seed) * 7919u + 1);
  for (int i = 0; i < f.y_size(); ++i) f.y_plane()[i] = uint8_t(rng());
  std::memset(f.cb_plane(), 128, size_t(2 * f.c_size()));
}

TEST(Recoder, TelecineWindowDropsTheRepeatedFrame) {
  Frame like(64, 48, 1, 0);
  TelecineWindow w;
  ASSERT_TRUE(w.alloc(like));
  // Slot 5 holds the last kept frame (picture 0); pictures 1 2 2 3 4 follow.
  const int pictures[] = {1, 2, 2, 3, 4};
  fill(*w.slot(5), 0);
  for (int i = 0; i < 5; ++i) fill(*w.slot(i), pictures[i]);
  Frame probe(64, 48, 1, 0);
  fill(probe, 2);
  EXPECT_EQ(frame_difference(*w.slot(1), probe), 0);
  EXPECT_GT(frame_difference(*w.slot(0), probe), 0);
  EXPECT_EQ(w.drop_repeated_frame(5), 2);
  const int order[] = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) {
    fill(probe, order[i]);
    EXPECT_EQ(frame_difference(*w.slot(i), probe), 0) << "slot " << i;
  }
  fill(probe, 4);
  EXPECT_EQ(frame_difference(*w.slot(5), probe), 0) << "the last kept frame";
  // Ties go to the first.
  for (int i = 0; i < 6; ++i) fill(*w.slot(i), 9);
  EXPECT_EQ(w.drop_repeated_frame(4), 0);
}

// A smooth picture of its own for each film frame, so that fields of two
// frames woven together comb.
void film_frame(Frame& f, int k) {
  for (int y = 0; y < f.padded_height(); ++y)
    for (int x = 0; x < f.padded_width(); ++x)
      f.y_plane()[y * f.padded_width() + x] = uint8_t(128 + 60 * std::sin(x / 7.0 + k) + 40 * std::cos(y / 9.0 + 2 * k));
  std::memset(f.cb_plane(), 128, size_t(2 * f.c_size()));
}

void weave(Frame& out, const Frame& top, const Frame& bottom) {
  const int w = out.padded_width();
  for (int y = 0; y < out.padded_height(); ++y)
    std::memcpy(out.y_plane() + y * w, ((y & 1) ? bottom : top).y_plane() + y * w, size_t(w));
  std::memset(out.cb_plane(), 128, size_t(2 * out.c_size()));
  out.set_top_field_first(1);
}

TEST(Recoder, InverseTelecineGivesEachFilmFrameOnce) {
  struct Count {
    int in, out;
  } counts[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}, {4, 3}, {5, 4}, {10, 8}, {12, 10}, {14, 11}};
  for (const Count& c : counts) EXPECT_EQ(InverseTelecine::output_frames(c.in), c.out) << c.in;

  std::vector<std::unique_ptr<Frame>> film;
  for (int k = 0; k < 8; ++k) {
    film.push_back(std::make_unique<Frame>(64, 48, 1, 0));
    film_frame(*film.back(), k);
  }
  // 3:2 pulldown, top field first: AA BB BC CD DD for every four frames.
  const int fields[5][2] = {{0, 0}, {1, 1}, {1, 2}, {2, 3}, {3, 3}};
  for (int start : {0, 2}) {
    SCOPED_TRACE(start);
    std::vector<int> got;
    InverseTelecine ivtc;
    const auto emit = [&](Frame& f) {
      int which = -1;
      for (int k = 0; k < 8; ++k)
        if (std::memcmp(f.y_plane(), film[size_t(k)]->y_plane(), size_t(f.y_size())) == 0) which = k;
      got.push_back(which);
      return true;
    };
    Frame picture(64, 48, 1, 0);
    // From picture `start` of the pattern on, 10 pictures; a start on a
    // mixed picture loses the film frame whose other field is not there.
    for (int i = start; i < start + 10; ++i) {
      const int cycle = i / 5 % 2 * 4;
      weave(picture, *film[size_t(cycle + fields[i % 5][0])], *film[size_t(cycle + fields[i % 5][1])]);
      ASSERT_TRUE(ivtc.push(picture, emit));
    }
    ASSERT_TRUE(ivtc.finish(emit));
    const std::vector<int> want = start == 0 ? std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}
                                             : std::vector<int>{2, 3, 4, 5, 6, 7, 0, 1};
    EXPECT_EQ(got, want);
  }
}

// ---- on coded streams ----------------------------------------------------

std::unique_ptr<Encoder> encoder_for(const SeqHdr& seq, int n, int m) {
  RecordVideoSetup p;
  p.mpeg1 = seq.mpeg2 ? 0 : 1;
  p.gop_size = n;
  p.ref_distance = m;
  p.seqhdr = &seq;
  int result = 1;
  auto e = std::make_unique<Encoder>(p, &result);
  EXPECT_EQ(result, 0);
  return e;
}

TEST(Recoder, EncodeIntraSizeLoop) {
  SeqHdr seq;
  seq.setup(352, 288, 0, 25.0, 1);
  seq.set_bit_rate(4000000);
  auto enc = encoder_for(seq, 12, 3);
  Frame f(352, 288, 1, 0);
  fill(f, 3);
  for (int i = 0; i < f.y_size(); ++i) f.y_plane()[i] = uint8_t((f.y_plane()[i] & 63) + (i % 352) / 2);
  std::vector<uint8_t> buf(4 << 20);
  auto code = [&](int q, int target, int* recodes_out) {
    BitWriter bw(buf.data(), buf.size(), 1);
    enc->rc_init_seq(25.0);
    enc->rc_init_gop(0, 0, 25.0);
    const int bytes = enc->encode_intra(&f, bw, q, target);
    if (recodes_out) *recodes_out = enc->recodes;
    return bytes;
  };
  const int base = code(8, 0, nullptr);
  ASSERT_GT(base, 1000);
  EXPECT_EQ(enc->fixed_mquant, 0) << "the fixed quantiser is put back";
  EXPECT_EQ(code(8, 0, nullptr), base) << "no target: one coding, the same bytes";
  // 4 percent above its target: kept as it is.
  EXPECT_EQ(code(8, int(base / 1.04), nullptr), base);
  // 12 percent above: coarser until within 5 percent, unchanged or below.
  const int target = int(base / 1.12);
  const int got = code(8, target, nullptr);
  EXPECT_LT(got, base);
  const double e = (got - target) * 100.0 / target;
  EXPECT_TRUE(e <= 5.0) << got << " for " << target;
  // Too small: finer.
  const int big = code(8, base * 2, nullptr);
  EXPECT_GT(big, base);
  // What the picture decodes to is the encoder's reconstruction.
  BitWriter bw(buf.data(), buf.size(), 1);
  enc->rc_init_seq(25.0);
  enc->rc_init_gop(0, 0, 25.0);
  const int n = enc->encode_intra(&f, bw, 8, target);
  ASSERT_GT(n, 0);
  PicDecoder dec(enc->seqhdr.get());
  dec.load_quant_matrices(enc->seqhdr.get());
  Frame out(352, 288, 1, 0);
  int pic = 0;
  for (int i = 0; i + 4 <= n; ++i)
    if (buf[size_t(i)] == 0 && buf[size_t(i) + 1] == 0 && buf[size_t(i) + 2] == 1 && buf[size_t(i) + 3] == 0) {
      pic = i;
      break;
    }
  ASSERT_GT(dec.decode_picture(buf.data() + pic, n - pic, &out, &out, &out), 0);
  EXPECT_EQ(std::memcmp(out.y_plane(), enc->recon->y_plane(), size_t(out.y_size())), 0);
}

struct SourceGop {
  GOPList list;
  GOP gop;
};

std::unique_ptr<SourceGop> source_gop(const std::string& file, int frame) {
  auto s = std::make_unique<SourceGop>();
  EXPECT_EQ(GoplistCache::take_from_cache(&s->list, file.c_str(), 0, 0), 0);
  EXPECT_GE(s->list.get_gop(frame, &s->gop, 1, 0), 0);
  return s;
}

std::vector<int> temporal_references(const OutputGop& out) {
  std::vector<int> trs;
  for (int at : out.pics) trs.push_back((out.bytes[size_t(at) + 4] << 2) | (out.bytes[size_t(at) + 5] >> 6));
  return trs;
}

TEST(Recoder, PictureCopyRenumbersFromTheOutputGop) {
  const std::string file = tsupport::fixture("cut_i2.m2v");
  auto s = source_gop(file, 30);
  const GOP& g = s->gop;
  ASSERT_EQ(g.pic_count, 12);
  // The whole GOP: the bytes as they are, with its headers.
  OutputGop whole;
  EXPECT_EQ(copy_pictures(g, 0, g.pic_count, 0, &whole), 24);
  ASSERT_EQ(whole.pics.size(), 12u);
  EXPECT_EQ(whole.position, 12);
  EXPECT_EQ(whole.pics[0], g.get_pic_entry(0));
  EXPECT_EQ(std::memcmp(whole.bytes.data(), g.data, whole.bytes.size()), 0) << "nothing rewritten";
  // I B B P B B ... from the P picture at 3 after a re-encoded head of one
  // picture: P B B get 3, 1, 2 in an output GOP whose I came first.
  OutputGop part;
  part.position = 1;
  EXPECT_EQ(copy_pictures(g, 3, 3, 1, &part), 6);
  EXPECT_EQ(temporal_references(part), (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(part.position, 4);
  // From the I picture without restart: a new output GOP with headers.
  OutputGop fresh;
  fresh.position = 7;
  copy_pictures(g, 0, 1, 0, &fresh);
  EXPECT_EQ(fresh.position, 1);
  EXPECT_EQ(temporal_references(fresh), std::vector<int>{0}) << "the leading B pictures were left out";
  // Bad arguments copy nothing.
  OutputGop none;
  EXPECT_EQ(copy_pictures(g, 12, 1, 0, &none), 0);
  EXPECT_EQ(copy_pictures(g, -1, 1, 0, &none), 0);
  EXPECT_TRUE(none.bytes.empty());
}

TEST(Recoder, SequenceHeaderOfTheGopBecomesTheEncodersTemplate) {
  const std::string file = tsupport::fixture("cut_i2.m2v");
  auto s = source_gop(file, 0);
  auto enc = encoder_for(s->list.get_seqhdr(), 12, 3);
  enc->seqhdr->set_bit_rate(1000000);
  EXPECT_EQ(load_seqhdr(s->gop, enc.get()), 0);
  EXPECT_EQ(enc->seqhdr->get_bit_rate(), s->list.get_seqhdr().get_bit_rate());
  SeqHdr small;
  small.setup(352, 288, 0, 25.0, 1);
  auto other = encoder_for(small, 12, 3);
  EXPECT_EQ(load_seqhdr(s->gop, other.get()), 1) << "another picture size is refused";
  EXPECT_EQ(other->seqhdr->get_horizontal_size(), 352);
}

// Frame access of a whole fixture file.
std::unique_ptr<DTV> open_dtv(const std::string& name) {
  MPEG_Clip c;
  c.set_file_name(tsupport::fixture(name).c_str());
  c.clip_type = 3;
  int err = 1;
  auto dtv = std::make_unique<DTV>(&c, &err, 0);
  EXPECT_EQ(err, 0) << name;
  return err ? nullptr : std::move(dtv);
}

TEST(Recoder, ReencodedIPictureKeepsItsPlaceAndFields) {
  auto d = open_dtv("cut_i2.m2v");
  ASSERT_TRUE(d);
  DTV& dtv = *d;
  ASSERT_EQ(dtv.search(30, 1), 30);
  const GOP& g = *dtv.get_current_gop()->gop;
  auto enc = encoder_for(*dtv.get_seqhdr(), 12, 3);
  ASSERT_EQ(load_seqhdr(g, enc.get()), 0);
  enc->rc_init_seq(25.0);
  enc->rc_init_gop(0, 0, 25.0);
  // The P picture at coded index 3 becomes the I picture of a new GOP.
  OutputGop out;
  const int fields = recode_I_frame(&dtv, g, 3, g.first_frame() + 5, 2, 1, enc.get(), &out);
  EXPECT_EQ(fields, 2);
  ASSERT_EQ(out.pics.size(), 1u);
  PicHdr ph;
  ASSERT_GT(ph.decode(out.bytes.data() + out.pics[0], int(out.bytes.size()) - out.pics[0]), 0);
  EXPECT_EQ(ph.picture_coding_type, 1);
  EXPECT_EQ(ph.temporal_reference, 2);
  EXPECT_EQ(ph.get_top_field_first(), g.get_pic_flag(3));
  // Near the source picture's size (its I picture's bytes, with the VBR flag).
  const int target = g.get_pic_entry(1);
  EXPECT_LT(std::abs(int(out.bytes.size()) - target), target / 2) << out.bytes.size() << " for " << target;
  // The headers before it: a sequence and a GOP header.
  EXPECT_EQ(out.bytes[3], 0xB3);
  // It decodes to the source picture closely.
  PicDecoder dec(enc->seqhdr.get());
  dec.load_quant_matrices(enc->seqhdr.get());
  Frame decoded(enc->width, enc->height, 1, 0);
  ASSERT_GT(dec.decode_picture(out.bytes.data() + out.pics[0], int(out.bytes.size()) - out.pics[0], &decoded,
                               &decoded, &decoded),
            0);
  Frame* src = dtv.decode_ip_frames(4);
  ASSERT_NE(src, nullptr);
  const double p = tsupport::psnr(decoded.y_plane(), src->y_plane(), size_t(720 * 576));
  EXPECT_GT(p, 30.0);
}

}  // namespace

namespace {

// Pictures of each GOP of coded bytes (a GOP starts at each GOP header).
std::vector<int> gop_lengths(const std::vector<uint8_t>& b) {
  std::vector<int> out;
  for (size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    if (b[i + 3] == 0xB8) out.push_back(0);
    if (b[i + 3] == 0x00 && !out.empty()) ++out.back();
  }
  return out;
}

TEST(Recoder, RestructuringCopyKeepsGopsWithinTheLongest) {
  const std::string file = tsupport::fixture("rc_g30.m2v");
  auto d = open_dtv("rc_g30.m2v");
  ASSERT_TRUE(d);
  DTV& dtv = *d;
  auto enc = encoder_for(*dtv.get_seqhdr(), 18, 3);
  enc->rc_init_seq(29.97);
  OutputGop out;
  const int longest = longest_output_gop(dtv.get_frame_rate());
  EXPECT_EQ(longest, 18);
  // The first two GOPs (the second one of 30 pictures, open) in turn.
  int pictures = 0;
  for (int frame : {0, 40}) {
    ASSERT_EQ(dtv.search(frame, 1), frame);
    const GOP& g = *dtv.get_current_gop()->gop;
    ASSERT_EQ(load_seqhdr(g, enc.get()), 0);
    EXPECT_EQ(restructure_copy(&dtv, g, std::vector<uint8_t>(size_t(g.pic_count), 1), longest, g.first_frame(), 1, enc.get(), &out),
              2 * g.pic_count)
        << "every field kept";
    pictures += g.pic_count;
  }
  ASSERT_EQ(pictures, 58);
  ASSERT_EQ(out.pics.size(), size_t(pictures));
  const std::vector<int> lengths = gop_lengths(out.bytes);
  ASSERT_GE(lengths.size(), 2u);
  int total = 0;
  for (int n : lengths) {
    EXPECT_LE(n, 18);
    total += n;
  }
  EXPECT_EQ(total, pictures);
  // A sequence header before each GOP.
  int seq = 0;
  for (size_t i = 0; i + 4 <= out.bytes.size(); ++i)
    seq += out.bytes[i] == 0 && out.bytes[i + 1] == 0 && out.bytes[i + 2] == 1 && out.bytes[i + 3] == 0xB3;
  EXPECT_EQ(seq, int(lengths.size()));
  ASSERT_EQ(out.gops.size(), lengths.size()) << "each output GOP's start is noted";
  for (size_t k = 0; k < out.gops.size(); ++k) {
    EXPECT_EQ(out.bytes[size_t(out.gops[k].byte) + 3], 0xB3);
    EXPECT_LT(out.gops[k].byte, out.pics[size_t(out.gops[k].pic)]);
    if (k) EXPECT_GT(out.gops[k].byte, out.pics[size_t(out.gops[k].pic) - 1]);
  }
  // ffmpeg decodes it silently, every picture, and the re-encoded picture
  // is close to the source's.
  const std::string dir = tsupport::temp_dir();
  const std::string path = dir + "/restructured.m2v";
  ASSERT_TRUE(tsupport::write_file(path, out.bytes));
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  std::string log;
  EXPECT_EQ(tsupport::run("ffmpeg -v error -i " + tsupport::sh_quote(path) + " -f null - 2>&1", &log), 0);
  EXPECT_EQ(log, "");
  std::string count;
  tsupport::run("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 " +
                    tsupport::sh_quote(path),
                &count);
  EXPECT_EQ(std::atoi(count.c_str()), pictures);
  std::string ps;
  tsupport::run("ffmpeg -v error -i " + tsupport::sh_quote(path) + " -i " + tsupport::sh_quote(file) +
                    " -filter_complex '[1:v]trim=end_frame=58[r];[0:v][r]psnr=stats_file=-' -f null - 2>/dev/null",
                &ps);
  double worst = 1000;
  for (const std::string& line : tsupport::split_lines(ps)) {
    const size_t at = line.find("psnr_y:");
    if (at != std::string::npos) worst = std::min(worst, std::atof(line.c_str() + at + 7));
  }
  EXPECT_GT(worst, 40.0) << ps;
}

}  // namespace
