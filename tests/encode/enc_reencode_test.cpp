// Stored decisions and source settings (save, load, forward-only, hand-on
// to a frame, the source's coding settings and matrices), frames of another
// geometry, decisions from elsewhere that do not fit the picture, the buffer
// model of copying pictures and new runs, and `tamsel-dev reencode` against
// ffmpeg streams, damaged streams and bad outputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decode/picdec.h"
#include "encode/encoder.h"
#include "ffmpeg_oracle.h"
#include "support.h"

namespace {

using tsupport::run;
using tsupport::sh_quote;

std::unique_ptr<Encoder> make(int mpeg1, int w, int h, int progressive, int quant = 4) {
  SeqHdr seq;
  seq.setup(w, h, 0, 25.0, !mpeg1);
  RecordVideoSetup p;
  p.mpeg1 = mpeg1;
  p.gop_size = 15;
  p.ref_distance = 3;
  p.fixed_mquant = quant;
  p.constant_mquant = quant > 0;
  p.progressive = progressive;
  p.seqhdr = &seq;
  int result = 1;
  auto e = std::make_unique<Encoder>(p, &result);
  EXPECT_EQ(result, 0);
  return e;
}

// A smooth moving picture of the frame's own size.
void paint(Frame& f, int shift) {
  for (int y = 0; y < f.padded_height(); ++y)
    for (int x = 0; x < f.padded_width(); ++x)
      f.y_plane()[y * f.padded_width() + x] = static_cast<uint8_t>(64 + (((x + shift) * 3 + y * 2) & 127));
  for (int y = 0; y < f.c_height(); ++y)
    for (int x = 0; x < f.c_width(); ++x) {
      f.cb_plane()[y * f.c_width() + x] = static_cast<uint8_t>(100 + ((x + y) & 31));
      f.cr_plane()[y * f.c_width() + x] = static_cast<uint8_t>(140 - ((x + shift) & 31));
    }
}

TEST(EncStoredDecisions, SaveLoadForwardAndFrame) {
  auto e = make(0, 64, 48, 1);
  std::vector<MBInfo> before;
  // Load before any save: traced, nothing changes.
  e->mbinfo[3].mb_type = kMBBackward;
  EXPECT_EQ(e->load_mbi(), 1);
  EXPECT_EQ(e->mbinfo[3].mb_type, kMBBackward);
  for (size_t i = 0; i < e->mbinfo.size(); ++i) {
    e->mbinfo[i].mb_type = static_cast<int>(i % 4 == 0 ? kMBIntra : i % 4 == 1 ? 0x0C : i % 4 == 2 ? 0 : kMBBackward);
    e->mbinfo[i].motion_type = i % 2 ? kMotionField : kMotionFrame;
    for (int k = 0; k < 8; ++k) e->mbinfo[i].mv[k] = static_cast<int>(i) * 3 - k;
  }
  before = e->mbinfo;
  e->save_mbi();
  for (MBInfo& m : e->mbinfo) m = MBInfo{};
  ASSERT_EQ(e->load_mbi(), 0);
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(e->mbinfo[i].mb_type, before[i].mb_type);
    EXPECT_EQ(std::memcmp(e->mbinfo[i].mv, before[i].mv, sizeof before[i].mv), 0);
  }
  e->reset_mbi_to_forward();
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(e->mbinfo[i].mb_type, i % 4 == 0 ? kMBIntra : kMBForward) << i;  // 0x0C, 0 and 4 become 8
    EXPECT_EQ(e->mbinfo[i].motion_type, before[i].motion_type);
    EXPECT_EQ(std::memcmp(e->mbinfo[i].mv, before[i].mv, sizeof before[i].mv), 0);
  }
  Frame f(64, 48, 1, 0);
  e->mesearch->last_cost = 321;
  e->mesearch->last_cost_bwd = 654;
  e->store_mbi_in_frame(&f);
  ASSERT_EQ(f.mb_count(), e->mb_count2);
  EXPECT_EQ(f.mb_info()[5].mb_type, e->mbinfo[5].mb_type);
  EXPECT_EQ(f.picture_values()[0], 321);
  EXPECT_EQ(f.picture_values()[1], 654);
  EXPECT_EQ(f.picture_values()[2], 0);
  EXPECT_EQ(f.picture_values()[3], 0);
}

TEST(EncStoredDecisions, SourceCodingSettingsAndMatrices) {
  PicHdr src;
  src.mpeg2 = 1;
  src.coding_ext = std::make_unique<PicCodingExt>();
  src.coding_ext->intra_dc_precision = 3;
  src.coding_ext->q_scale_type = 0;
  src.coding_ext->intra_vlc_format = 1;
  src.coding_ext->alternate_scan = 1;
  src.coding_ext->frame_pred_frame_dct = 0;
  auto m1 = make(1, 64, 48, 1);
  m1->copy_picture_coding_ext(&src);  // MPEG-1 output: nothing changes
  EXPECT_EQ(m1->pichdr->coding_ext->intra_dc_precision, 0);
  EXPECT_EQ(m1->alternate_scan[1], 0);
  auto m2 = make(0, 64, 48, 0);
  m2->copy_picture_coding_ext(&src);
  EXPECT_EQ(m2->pichdr->coding_ext->intra_dc_precision, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m2->q_scale_type[i], 0);
    EXPECT_EQ(m2->intra_vlc_format[i], 1);
    EXPECT_EQ(m2->alternate_scan[i], 1);
    EXPECT_EQ(m2->frame_pred_frame_dct[i], 0);  // coding reads the tables, so they take it
  }
  // A source without loaded matrices: the default intra matrix, flat 16.
  SeqHdr plain;
  plain.setup(64, 48, 0, 25.0, 1);
  ASSERT_EQ(m2->set_quant_matrices(&plain), 0);
  uint8_t got[64];
  m2->seqhdr->get_intra_matrix(got);
  EXPECT_EQ(std::memcmp(got, kDefaultIntraMatrix, 64), 0);
  m2->seqhdr->get_non_intra_matrix(got);
  for (uint8_t v : got) EXPECT_EQ(v, 16);
  // A loaded one is taken whole.
  uint8_t custom[64];
  for (int i = 0; i < 64; ++i) custom[i] = static_cast<uint8_t>(8 + i);
  ASSERT_EQ(plain.set_intra_matrix(custom), 0);
  ASSERT_EQ(m2->set_quant_matrices(&plain), 0);
  m2->seqhdr->get_intra_matrix(got);
  EXPECT_EQ(std::memcmp(got, custom, 64), 0);
}

// A mean quantiser in value units becomes the code of the picture's scale.
TEST(EncStoredDecisions, MeanQuantiserValueToCode) {
  auto m1 = make(1, 64, 48, 1);
  auto m2 = make(0, 64, 48, 0);
  EXPECT_EQ(m1->quant_code_of_value(12.0, 2), 6);   // MPEG-1: code x 2
  m2->q_scale_type[0] = 0;
  EXPECT_EQ(m2->quant_code_of_value(14.0, 1), 7);   // linear
  m2->q_scale_type[1] = 1;
  EXPECT_EQ(m2->quant_code_of_value(14.0, 2), 11);  // non-linear: scale 14 is code 11
  EXPECT_EQ(kNonLinearQuantScale[m2->quant_code_of_value(70.0, 2)], 72);
  EXPECT_EQ(m2->quant_code_of_value(0.0, 2), 1);
  EXPECT_EQ(m2->quant_code_of_value(500.0, 1), 31);
}

// Decodes the picture the encoder just wrote and compares with its recon.
void expect_decodes_to_recon(Encoder& e, const uint8_t* data, int bytes, Frame* fwd, Frame* bwd, Frame* out) {
  PicDecoder d(e.seqhdr.get());
  ASSERT_GT(d.decode_picture(data, bytes, out, fwd, bwd), 0);
  EXPECT_EQ(d.get_concealed_count(), 0);
  EXPECT_EQ(std::memcmp(out->y_plane(), e.recon->y_plane(), static_cast<size_t>(e.recon->y_size())), 0);
}

// Frames of another geometry are coded from work frames: padding only
// differs (720x486 progressive frame into an interlaced 512-line coder):
// the picture is copied, not stretched; another size is resampled.
TEST(EncWorkFrames, PaddingCopiedOtherSizesScaled) {
  struct Case {
    int coder_w, coder_h, progressive, frame_w, frame_h;
    double min_psnr;  // of the displayed area against the frame (copied cases only)
  };
  const Case cases[] = {{720, 486, 0, 720, 486, 40.0}, {720, 480, 1, 704, 480, 0.0}, {352, 240, 0, 720, 480, 0.0}};
  for (const Case& c : cases) {
    auto e = make(0, c.coder_w, c.coder_h, c.progressive, 2);
    Frame f(c.frame_w, c.frame_h, 1, 0);
    paint(f, 0);
    f.set_progressive_frame(1);
    std::vector<uint8_t> buf(1 << 21);
    BitWriter bw(buf.data(), buf.size());
    const int bytes = e->encode_picture(&f, nullptr, nullptr, 1, 0, bw, 0, nullptr, 1);
    ASSERT_GT(bytes, 0) << c.frame_w << "x" << c.frame_h;
    Frame out(c.coder_w, c.coder_h, 1, c.progressive ? 0 : 1);
    expect_decodes_to_recon(*e, buf.data(), static_cast<int>(bw.flush()), nullptr, nullptr, &out);
    if (c.min_psnr > 0) {
      double worst = 99;
      for (int y = 0; y < c.frame_h; ++y)
        worst = std::min(worst, tsupport::psnr(f.y_plane() + y * f.padded_width(), e->recon->y_plane() + y * e->width,
                                               static_cast<size_t>(c.frame_w)));
      EXPECT_GT(worst, c.min_psnr);  // every line where it was, the last one too
    }
  }
}

// Decisions from elsewhere (wrong counts, impossible types, far vectors,
// fields in a progressive picture) are fitted before coding: every picture
// codes, decodes without concealment and equals the reconstruction.
TEST(EncForeignDecisions, AnyRecordsCodeToDecodablePictures) {
  std::mt19937 rng(17);
  for (int mpeg1 : {0, 1}) {
    auto e = make(mpeg1, 96, 64, mpeg1 ? 1 : 0, 5);
    Frame cur(96, 64, 1, mpeg1 ? 0 : 1), a(96, 64, 1, mpeg1 ? 0 : 1), b(96, 64, 1, mpeg1 ? 0 : 1),
        out(96, 64, 1, mpeg1 ? 0 : 1);
    std::vector<uint8_t> buf(1 << 20);
    paint(cur, 0);
    BitWriter bw0(buf.data(), buf.size());
    ASSERT_GT(e->encode_picture(&cur, nullptr, nullptr, 1, 0, bw0, 0, nullptr, 1), 0);
    std::memcpy(a.buffer(), e->recon->buffer(), static_cast<size_t>(a.y_size() + 2 * a.c_size()));
    paint(cur, 5);
    BitWriter bw1(buf.data(), buf.size());
    ASSERT_GT(e->encode_picture(&cur, nullptr, nullptr, 2, 0, bw1, 0, nullptr, 1), 0);
    std::memcpy(b.buffer(), e->recon->buffer(), static_cast<size_t>(b.y_size() + 2 * b.c_size()));
    for (int round = 0; round < 12; ++round) {
      const int count = static_cast<int>(rng() % (e->mbinfo.size() + 4));  // too few, exact, too many
      std::vector<MBInfo> states(static_cast<size_t>(count) + 1);
      for (MBInfo& m : states) {
        m.mb_type = static_cast<int>(rng());
        m.motion_type = static_cast<int>(rng() % 5);
        m.dct_type = static_cast<int>(rng() % 3);
        m.skipped = static_cast<int>(rng() & 1);
        for (int& v : m.mv) v = static_cast<int>(rng() % 4097) - 2048;
      }
      const int type = round % 2 ? 3 : 2;
      e->closed_gop = round % 4 == 1;
      // B pictures come between the two references; P pictures follow the
      // newer one but are not kept (their reconstruction would move the
      // references of the next round).
      paint(cur, 3 + round);
      BitWriter bw(buf.data(), buf.size());
      const int bytes = e->encode_picture(&cur, nullptr, nullptr, type, 1, bw, 0, states.data(), count, 1);
      ASSERT_GT(bytes, 0) << "mpeg1=" << mpeg1 << " round " << round;
      Frame* fwd = type == 2 ? &b : e->closed_gop ? &b : &a;
      expect_decodes_to_recon(*e, buf.data(), static_cast<int>(bw.flush()), fwd, &b, &out);
      if (type == 2) {  // the newest reference is now this P picture
        std::memcpy(a.buffer(), b.buffer(), static_cast<size_t>(a.y_size() + 2 * a.c_size()));
        std::memcpy(b.buffer(), e->recon->buffer(), static_cast<size_t>(b.y_size() + 2 * b.c_size()));
      }
    }
  }
}

// A copying B picture's bits reach the buffer model; a new run starts it
// empty.
TEST(EncBufferModel, CopyingPicturesCountAndRunsRestart) {
  auto e = make(0, 64, 48, 1, 0);
  Frame f(64, 48, 1, 0);
  paint(f, 0);
  std::vector<uint8_t> buf(1 << 20);
  BitWriter bw(buf.data(), buf.size());
  ASSERT_GT(e->encode_picture(&f, nullptr, nullptr, 1, 0, bw, 0, nullptr, 1), 0);
  const double bits = e->rc.bits_total;
  BitWriter bb(buf.data(), buf.size());
  const int copy = e->vlc_picture_mbi(1, &f, bb);
  ASSERT_GT(copy, 0);
  EXPECT_EQ(e->rc.bits_total, bits + 8.0 * copy);
  e->rc_start_run();
  EXPECT_EQ(e->rc.bits_total, 0.0);
  EXPECT_EQ(e->rc.decoding_time, 0.0);
}

// ---- tamsel-dev reencode ------------------------------------------------------

// ffmpeg MPEG-2 with loaded matrices, open GOPs of 15/3 (fixture script).
std::string source() { return tsupport::fixture("reenc_src.m2v"); }

std::vector<uint8_t> decode(const std::string& es, const std::string& yuv) {
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("decode " + sh_quote(es) + " " + sh_quote(yuv), &lines), 0);
  return tsupport::read_file(yuv);
}

std::string matrices(const std::string& es) {
  std::string out, kept;
  run("ffmpeg -nostdin -hide_banner -i " + sh_quote(es) + " -c copy -bsf:v trace_headers -f null - 2>&1", &out);
  for (const std::string& l : tsupport::split_lines(out)) {
    if (l.find("quantiser_matrix[") == std::string::npos) continue;
    kept += l.substr(l.find("quantiser_matrix[")) + "\n";
    if (kept.size() > 8000) break;  // the first sequence header's
  }
  return kept;
}

TEST(EncReencode, OwnDecisionsKeepFramesMatricesAndQuality) {
  TSUPPORT_NEED_FIXTURES("reenc_src.m2v");
  const std::string dir = tsupport::temp_dir();
  const std::string src = source(), out = dir + "/out.m2v";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("reencode " + sh_quote(src) + " " + sh_quote(out), &lines), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(tsupport::field_int(lines.back(), "pictures"), 45);
  const long long sb = tsupport::field_int(lines.back(), "src_bytes"), ob = tsupport::field_int(lines.back(), "bytes");
  EXPECT_GT(ob, sb / 2);
  EXPECT_LT(ob, sb * 3 / 2);
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  const std::string m = matrices(out);
  EXPECT_NE(m.find("quantiser_matrix[1] "), std::string::npos);
  EXPECT_EQ(m, matrices(src));
  const std::vector<uint8_t> a = decode(src, dir + "/a.yuv"), b = decode(out, dir + "/b.yuv");
  const size_t fs = 352 * 288 * 3 / 2;
  ASSERT_EQ(a.size(), 45 * fs);
  ASSERT_EQ(b.size(), a.size());
  double sum = 0, worst = 99;
  for (size_t i = 0; i < 45; ++i) {
    const double p = tsupport::psnr(a.data() + i * fs, b.data() + i * fs, 352 * 288);
    sum += p;
    worst = std::min(worst, p);
  }
  EXPECT_GE(sum / 45, 40.0);
  EXPECT_GE(worst, 35.0);
  if (tsupport::have_program("mpeg2dec")) {
    std::string said;
    EXPECT_EQ(run("mpeg2dec -o null " + sh_quote(out) + " 2>&1", &said), 0);
    EXPECT_NE(said.find("45 frames"), std::string::npos) << said;
  }
}

TEST(EncReencode, ChosenGopsSearchedDecisionsAndFixedQuantiser) {
  TSUPPORT_NEED_FIXTURES("reenc_src.m2v");
  const std::string dir = tsupport::temp_dir();
  const std::string src = source(), out = dir + "/out.m2v";
  // Coded order of the source's open GOPs: 13, 15 and 17 pictures.
  struct Case {
    const char* options;
    int pictures;
  };
  for (const Case& c : {Case{"--gops 1:1", 15}, Case{"--gops 2:5", 17}, Case{"--decisions search", 45},
                        Case{"--quant 9", 45}}) {
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("reencode " + sh_quote(src) + " " + sh_quote(out) + " " + c.options, &lines), 0);
    EXPECT_EQ(tsupport::field_int(lines.back(), "pictures"), c.pictures) << c.options;
    EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "") << c.options;
    if (std::string(c.options) == "--quant 9")  // the source's linear scale: code 9 is value 18
      for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(tsupport::field(lines[i], "mquant"), "18.00") << lines[i];
  }
  // A GOP taken from the middle starts closed: nothing before it is coded.
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("reencode " + sh_quote(src) + " " + sh_quote(out) + " --gops 1:1", &lines), 0);
  ASSERT_EQ(tsupport::dev("headers " + sh_quote(out), &lines), 0);
  bool seen = false;
  for (const std::string& l : lines)
    if (l.rfind("gop ", 0) == 0 && !seen) {
      EXPECT_EQ(tsupport::field(l, "closed"), "1");
      seen = true;
    }
  EXPECT_TRUE(seen);
}

TEST(EncReencode, DamagedStreamsAndBadOutputs) {
  TSUPPORT_NEED_FIXTURES("reenc_src.m2v");
  const std::string dir = tsupport::temp_dir();
  const std::string src = source(), out = dir + "/out.m2v";
  std::vector<uint8_t> data = tsupport::read_file(src);
  ASSERT_GT(data.size(), 1000u);
  std::mt19937 rng(3);
  std::vector<std::vector<uint8_t>> bad;
  bad.emplace_back(data.begin(), data.begin() + static_cast<long>(data.size() / 3));  // truncated
  for (int k = 0; k < 3; ++k) {
    std::vector<uint8_t> v = data;
    for (int f = 0; f < 40; ++f) v[rng() % v.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    bad.push_back(v);
  }
  bad.emplace_back(4000, 0x47);  // not a stream at all
  for (size_t i = 0; i < bad.size(); ++i) {
    const std::string in = dir + "/bad" + std::to_string(i) + ".m2v";
    ASSERT_TRUE(tsupport::write_file(in, bad[i]));
    const int rc = run(sh_quote(tsupport::dev_tool()) + " reencode " + sh_quote(in) + " " + sh_quote(out) +
                       " >/dev/null 2>&1");
    EXPECT_TRUE(rc == 0 || rc == 1) << "case " << i << " rc " << rc;  // never a crash
    if (rc == 0 && i == 0) EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  }
  const std::string copy = dir + "/copy.m2v";
  ASSERT_TRUE(tsupport::write_file(copy, data));
  EXPECT_EQ(run(sh_quote(tsupport::dev_tool()) + " reencode " + sh_quote(copy) + " " + sh_quote(copy) + " 2>/dev/null"),
            1);
  EXPECT_EQ(tsupport::read_file(copy), data);
  EXPECT_NE(run(sh_quote(tsupport::dev_tool()) + " reencode " + sh_quote(src) + " /dev/full >/dev/null 2>&1"), 0);
}

}  // namespace
