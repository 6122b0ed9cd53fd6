// tamsel-dev encode end to end against the oracles: ffmpeg decodes every
// stream without a complaint, ffprobe reads its frames, the reconstruction
// equals our decoder's output and ffmpeg's decode is within IDCT rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ffmpeg_oracle.h"
#include "support.h"

namespace {

using tsupport::run;
using tsupport::sh_quote;

struct CliCase {
  const char* name;
  const char* input;
  const char* options;
  int width, height;
  const char* pix_fmt;
  int frames;
};

const CliCase kCli[] = {
    {"m1_352x288", "enc_mandel_352x288.y4m", "--intra-only --constant --mpeg 1 --quant 2", 352, 288, "yuv420p", 4},
    {"m1_768x576", "enc_mandel_768x576.y4m", "--intra-only --constant --mpeg 1 --quant 8", 768, 576, "yuv420p", 3},
    {"m2_720x576_prog", "enc_pan_720x576_tff.y4m", "--intra-only --constant --quant 4 --frames 2", 720, 576, "yuv420p", 2},
    {"m2_720x576_tff", "enc_pan_720x576_tff.y4m", "--intra-only --constant --quant 1", 720, 576, "yuv420p", 4},
    {"m2_720x576_bff_linear", "enc_pan_720x576_bff.y4m", "--intra-only --constant --quant 31 --q-scale-type 0 --intra-vlc 0", 720, 576,
     "yuv420p", 3},
    {"m2_422", "enc_422_720x576.y4m", "--intra-only --constant --quant 2", 720, 576, "yuv422p", 3},
    {"m2_704x480", "enc_704x480.y4m", "--intra-only --constant --quant 8 --alternate-scan 1", 704, 480, "yuv420p", 3},
    {"m2_352x240", "enc_352x240.y4m", "--intra-only --constant --quant 8 --dc-precision 8", 352, 240, "yuv420p", 3},
    {"m2_720x486", "enc_720x486.y4m", "--intra-only --constant --quant 2 --dc-precision 11 --profile-level 18", 720, 486, "yuv420p", 2},
    {"m2_1920x1080", "enc_1920x1080.y4m", "--intra-only --constant --quant 8 --dc-precision 9", 1920, 1080, "yuv420p", 2},
    // I, P and B pictures, predicted from the encoder's own reconstructions.
    {"ipb_m1_352x288", "enc_mandel_352x288.y4m", "--mpeg 1 --bit-rate 1150000 --vbv 20", 352, 288, "yuv420p", 4},
    {"ipb_m1_quant", "enc_mandel_768x576.y4m", "--mpeg 1 --quant 6 --gop 15 1", 768, 576, "yuv420p", 3},
    {"ipb_m2_prog", "enc_mandel_352x288.y4m", "--bit-rate 4000000 --gop 15 2", 352, 288, "yuv420p", 4},
    {"ipb_m2_tff", "enc_pan_720x576_tff.y4m", "--bit-rate 6000000", 720, 576, "yuv420p", 4},
    {"ipb_m2_bff_baseline", "enc_pan_720x576_bff.y4m", "--bit-rate 8000000 --baseline --closed-gop", 720, 576,
     "yuv420p", 3},
    {"ipb_m2_422", "enc_422_720x576.y4m", "--quant 3", 720, 576, "yuv422p", 3},
    {"ipb_m2_704x480", "enc_704x480.y4m", "--bit-rate 6000000 --me-mode 1", 704, 480, "yuv420p", 3},
    {"ipb_m2_720x486", "enc_720x486.y4m", "--bit-rate 8000000 --me-mode 2", 720, 486, "yuv420p", 2},
    {"ipb_m2_1920x1080", "enc_1920x1080.y4m", "--bit-rate 15000000 --vbv 597", 1920, 1080, "yuv420p", 2},
};

class EncCli : public ::testing::TestWithParam<CliCase> {};

std::vector<uint8_t> slurp(const std::string& p) { return tsupport::read_file(p); }

TEST_P(EncCli, OraclesAgree) {
  const CliCase& c = GetParam();
  const std::string dir = tsupport::temp_dir();
  const std::string in = tsupport::fixture(c.input);
  const std::string es = dir + "/out.m2v", rec = dir + "/rec.yuv", ours = dir + "/ours.yuv", ff = dir + "/ff.yuv";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("encode " + sh_quote(in) + " " + sh_quote(es) + " " + c.options + " --recon " + sh_quote(rec),
                          &lines),
            0);
  ASSERT_EQ(static_cast<int>(lines.size()), c.frames + 1);
  EXPECT_EQ(tsupport::field_int(lines.back(), "pictures"), c.frames);
  const bool intra_only = std::strstr(c.options, "--intra-only") != nullptr;
  long long sum = 0;
  std::string types;
  for (int i = 0; i < c.frames; ++i) {
    types += tsupport::field(lines[static_cast<size_t>(i)], "type");
    sum += tsupport::field_int(lines[static_cast<size_t>(i)], "bytes");
  }
  // Coded order: I first; without intra-only the last display picture is a
  // reference (nothing follows it to predict from).
  EXPECT_EQ(types[0], 'I') << types;
  if (intra_only) EXPECT_EQ(types, std::string(static_cast<size_t>(c.frames), 'I'));
  else if (c.frames > 1) EXPECT_NE(types.find('P'), std::string::npos) << types;
  EXPECT_EQ(sum + 4, tsupport::field_int(lines.back(), "bytes"));
  // ffmpeg's strict decode says nothing.
  std::string msg;
  EXPECT_EQ(run("ffmpeg -nostdin -hide_banner -v error -err_detect +crccheck+buffer+explode -i " + sh_quote(es) +
                    " -f null - 2>&1",
                &msg),
            0);
  EXPECT_EQ(msg, "");
  std::string probe;
  ASSERT_EQ(run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                "stream=width,height,pix_fmt,nb_read_frames -of default=nw=1 " +
                    sh_quote(es),
                &probe),
            0);
  EXPECT_NE(probe.find("width=" + std::to_string(c.width)), std::string::npos) << probe;
  EXPECT_NE(probe.find("height=" + std::to_string(c.height)), std::string::npos) << probe;
  EXPECT_NE(probe.find(std::string("pix_fmt=") + c.pix_fmt), std::string::npos) << probe;
  EXPECT_NE(probe.find("nb_read_frames=" + std::to_string(c.frames)), std::string::npos) << probe;
  // Closed loop: the reconstruction is our decoder's picture.
  ASSERT_EQ(tsupport::dev("decode " + sh_quote(es) + " " + sh_quote(ours), &lines), 0);
  const std::vector<uint8_t> r = slurp(rec), o = slurp(ours);
  ASSERT_FALSE(r.empty());
  EXPECT_TRUE(r == o);
  // ffmpeg's decode differs by inverse-DCT rounding only.
  ASSERT_EQ(run("ffmpeg -nostdin -v error -i " + sh_quote(es) + " -fps_mode passthrough -f rawvideo -pix_fmt " +
                c.pix_fmt + " -y " + sh_quote(ff)),
            0);
  const std::vector<uint8_t> f = slurp(ff);
  ASSERT_EQ(f.size(), o.size());
  const size_t frame = f.size() / static_cast<size_t>(c.frames);
  const size_t luma = static_cast<size_t>(c.width) * c.height;
  for (int i = 0; i < c.frames; ++i)
    EXPECT_GE(tsupport::psnr(f.data() + i * frame, o.data() + i * frame, luma), 50.0) << "frame " << i;
  // mpeg2dec as a second decoder (its PGM frames: the luma rows first).
  std::string pgm;
  ASSERT_EQ(run("mpeg2dec -o pgmpipe " + sh_quote(es) + " 2>/dev/null", &pgm), 0);
  size_t at = 0;
  int frames = 0;
  while (at < pgm.size() && frames < c.frames) {
    int pw = 0, ph = 0, maxv = 0, used = 0;
    ASSERT_EQ(std::sscanf(pgm.c_str() + at, "P5 %d %d %d%n", &pw, &ph, &maxv, &used), 3);
    at += static_cast<size_t>(used) + 1;
    ASSERT_LE(at + static_cast<size_t>(pw) * ph, pgm.size());
    std::vector<uint8_t> y(luma);
    for (int row = 0; row < c.height; ++row)
      std::memcpy(&y[static_cast<size_t>(row) * c.width], pgm.data() + at + static_cast<size_t>(row) * pw,
                  static_cast<size_t>(c.width));
    EXPECT_GE(tsupport::psnr(y.data(), o.data() + frames * frame, luma), 50.0) << "mpeg2dec frame " << frames;
    at += static_cast<size_t>(pw) * ph;
    ++frames;
  }
  EXPECT_GE(frames, c.frames - 1);  // mpeg2dec may hold back the last picture
}

INSTANTIATE_TEST_SUITE_P(Table, EncCli, ::testing::ValuesIn(kCli),
                         [](const ::testing::TestParamInfo<CliCase>& i) { return std::string(i.param.name); });

std::string trace_headers(const std::string& es) {
  std::string out;
  run("ffmpeg -nostdin -hide_banner -i " + sh_quote(es) + " -c copy -bsf:v trace_headers -f null - 2>&1", &out);
  return out;
}

// Values of one field in trace_headers' lines "POS NAME BITS = VALUE".
std::vector<long long> values(const std::string& trace, const std::string& name) {
  std::vector<long long> out;
  for (const std::string& l : tsupport::split_lines(trace)) {
    char field[64];
    long long pos = 0, v = 0;
    const size_t at = l.find("] ");
    if (at == std::string::npos) continue;
    char bits[64];
    if (std::sscanf(l.c_str() + at + 2, "%lld %63s %63s = %lld", &pos, field, bits, &v) == 4 && name == field)
      out.push_back(v);
  }
  return out;
}

TEST(EncCliHeaders, FieldsAsTraceHeadersReadsThem) {
  const std::string dir = tsupport::temp_dir();
  const std::string es = dir + "/h.m2v", ud = dir + "/ud.bin";
  const std::vector<uint8_t> user = {0, 0, 1, 0xB2, 'T', 'a', 'm', 's', 'e', 'l'};
  ASSERT_TRUE(tsupport::write_file(ud, user));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("encode " + sh_quote(tsupport::fixture("enc_704x480.y4m")) + " " + sh_quote(es) +
                              " --intra-only --quant 5 --constant --dc-precision 10 --first-number 1798"
                              " --drop-frame --user-data " +
                              sh_quote(ud),
                          &lines),
            0);
  const std::string t = trace_headers(es);
  const std::vector<long long> one3 = {1, 1, 1}, fifteen3 = {15, 15, 15};
  EXPECT_EQ(values(t, "vbv_delay"), (std::vector<long long>{65535, 65535, 65535}));
  for (const char* f : {"f_code[0][0]", "f_code[0][1]", "f_code[1][0]", "f_code[1][1]"})
    EXPECT_EQ(values(t, f), fifteen3) << f;
  EXPECT_EQ(values(t, "intra_dc_precision"), (std::vector<long long>{2, 2, 2}));
  EXPECT_EQ(values(t, "top_field_first"), one3);
  EXPECT_EQ(values(t, "progressive_frame"), (std::vector<long long>{0, 0, 0}));
  EXPECT_EQ(values(t, "user_data_start_code").size(), 1u);
  // Display 1798, 1799 and 1800 at 29.97 drop-frame: 00:00:59;28, 59;29,
  // then 00:01:00;02 (pictures 0 and 1 of the minute are dropped).
  auto tc = [](int h, int m, int s, int p) { return (1LL << 24) | h << 19 | m << 13 | 1 << 12 | s << 6 | p; };
  EXPECT_EQ(values(t, "time_code"), (std::vector<long long>{tc(0, 0, 59, 28), tc(0, 0, 59, 29), tc(0, 1, 0, 2)}));
}

TEST(EncCliHeaders, EverySliceCarriesTheQuantiserCode) {
  const std::string dir = tsupport::temp_dir();
  const std::string es = dir + "/q.m2v";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("encode " + sh_quote(tsupport::fixture("enc_352x240.y4m")) + " " + sh_quote(es) +
                              " --intra-only --quant 9 --constant --frames 1",
                          &lines),
            0);
  const std::vector<uint8_t> b = tsupport::read_file(es);
  int slices = 0;
  for (size_t i = 0; i + 4 < b.size(); ++i)
    if (!b[i] && !b[i + 1] && b[i + 2] == 1 && b[i + 3] >= 1 && b[i + 3] <= 0xAF) {
      EXPECT_EQ(b[i + 4] >> 3, 9) << "slice " << int(b[i + 3]);
      ++slices;
    }
  EXPECT_EQ(slices, 16);
}

TEST(EncCliCopyB, InsertedPicturesDecodeToTheirReference) {
  for (const char* dir_name : {"fwd", "bwd"}) {
    const std::string dir = tsupport::temp_dir();
    const std::string es = dir + "/b.m2v", ff = dir + "/ff.yuv", rec = dir + "/rec.yuv";
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("encode " + sh_quote(tsupport::fixture("enc_mandel_352x288.y4m")) + " " + sh_quote(es) +
                                " --intra-only --quant 4 --constant --copy-b " + dir_name + " --recon " + sh_quote(rec),
                            &lines),
              0);
    ASSERT_EQ(lines.size(), 8u);  // I I B I B I B total
    ASSERT_EQ(run("ffmpeg -nostdin -v error -i " + sh_quote(es) + " -fps_mode passthrough -f rawvideo -y " + sh_quote(ff)), 0);
    const std::vector<uint8_t> f = tsupport::read_file(ff);
    const size_t frame = 352 * 288 * 3 / 2;
    ASSERT_EQ(f.size(), 7 * frame);
    // Display order I0 B1 I2 B3 I4 B5 I6: each B equals its neighbour.
    for (int b = 1; b < 7; b += 2) {
      const int ref = std::string(dir_name) == "fwd" ? b - 1 : b + 1;
      EXPECT_EQ(0, std::memcmp(f.data() + b * frame, f.data() + ref * frame, frame)) << dir_name << " " << b;
    }
    EXPECT_EQ(tsupport::read_file(rec).size(), 7 * frame);
  }
}

TEST(EncCliInput, BadInputFailsCleanly) {
  const std::string dir = tsupport::temp_dir();
  const std::string good = tsupport::fixture("enc_mandel_352x288.y4m");
  const std::vector<uint8_t> g = tsupport::read_file(good);
  struct Bad {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"no_signature", std::vector<uint8_t>(g.begin() + 3, g.end())},
      {"truncated", std::vector<uint8_t>(g.begin(), g.begin() + static_cast<std::ptrdiff_t>(g.size() / 2))},
      {"chroma", {}},
      {"size", {}},
  };
  const std::string h444 = "YUV4MPEG2 W352 H288 F25:1 Ip C444\nFRAME\n";
  cases[2].bytes.assign(h444.begin(), h444.end());
  const std::string hsize = "YUV4MPEG2 W0 H288 F25:1 Ip\nFRAME\n";
  cases[3].bytes.assign(hsize.begin(), hsize.end());
  for (const Bad& b : cases) {
    const std::string in = dir + "/" + b.name + ".y4m";
    ASSERT_TRUE(tsupport::write_file(in, b.bytes));
    EXPECT_EQ(run(sh_quote(tsupport::dev_tool()) + " encode " + sh_quote(in) + " " + sh_quote(dir + "/o.m2v") +
                  " --intra-only --quant 4 --constant >/dev/null 2>&1"),
              1)
        << b.name;
  }
  // OUT may not be IN, and a full disk fails the command.
  EXPECT_NE(run(sh_quote(tsupport::dev_tool()) + " encode " + sh_quote(good) + " " + sh_quote(good) +
                " --intra-only --quant 4 --constant >/dev/null 2>&1"),
            0);
  EXPECT_EQ(tsupport::read_file(good), g);
  EXPECT_NE(run(sh_quote(tsupport::dev_tool()) + " encode " + sh_quote(good) +
                " /dev/full --intra-only --quant 4 --constant >/dev/null 2>&1"),
            0);
}

}  // namespace

namespace {

// Luma PSNR of a coded stream against its source (frames matched by index).
double stream_psnr(const std::string& es, const std::string& src) {
  std::string out;
  tsupport::run("ffmpeg -nostdin -hide_banner -i " + sh_quote(es) + " -i " + sh_quote(src) +
                    " -lavfi \"[0:v]settb=1/25,setpts=N[a];[1:v]settb=1/25,setpts=N[b];[a][b]psnr\" -f null - 2>&1",
                &out);
  const size_t at = out.find("PSNR y:");
  return at == std::string::npos ? 0.0 : std::stod(out.substr(at + 7));
}

long long file_size(const std::string& p) { return static_cast<long long>(tsupport::read_file(p).size()); }

// At equal size our intra coding is within 0.3 dB of ffmpeg's: its
// rate-PSNR curve, interpolated at our sizes.
TEST(EncCliQuality, IntraCodingMatchesThePeerAtEqualSize) {
  struct Clip {
    const char* name;
    const char* flags;
  } clips[] = {{"enc_mandel_352x288.y4m", ""}, {"enc_pan_720x576_tff.y4m", "-flags +ildct"}};
  for (const Clip& c : clips) {
    const std::string dir = tsupport::temp_dir();
    const std::string src = tsupport::fixture(c.name);
    std::vector<std::pair<double, double>> curve;  // bytes, PSNR
    for (int q : {2, 3, 4, 6, 8, 12, 16}) {
      const std::string f = dir + "/ff" + std::to_string(q) + ".m2v";
      const std::string qs = std::to_string(q);
      ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(src) + " -c:v mpeg2video -g 1 -bf 0 -qmin " + qs +
                    " -qmax " + qs + " -q:v " + qs + " -intra_vlc 1 -dc 10 " + c.flags + " -f mpeg2video " +
                    sh_quote(f)),
                0);
      curve.push_back({static_cast<double>(file_size(f)), stream_psnr(f, src)});
    }
    std::sort(curve.begin(), curve.end());
    for (int q : {6, 12}) {  // non-linear codes: values 6 and 16
      const std::string f = dir + "/our" + std::to_string(q) + ".m2v";
      std::vector<std::string> lines;
      ASSERT_EQ(tsupport::dev("encode " + sh_quote(src) + " " + sh_quote(f) + " --intra-only --constant --quant " +
                                  std::to_string(q),
                              &lines),
                0);
      const double size = static_cast<double>(file_size(f)), ours = stream_psnr(f, src);
      ASSERT_GE(size, curve.front().first);
      ASSERT_LE(size, curve.back().first);
      size_t i = 1;
      while (curve[i].first < size) ++i;
      const auto& a = curve[i - 1];
      const auto& b = curve[i];
      const double peer = a.second + (b.second - a.second) * (size - a.first) / (b.first - a.first);
      EXPECT_GE(ours, peer - 0.3) << c.name << " q " << q << " at " << size << " bytes";
    }
  }
}

}  // namespace

namespace {

// Raw planar input with loaded matrices: the matrices reach the header and
// the pictures stay a closed loop.
TEST(EncCliInput, RawPicturesWithLoadedMatrices) {
  const std::string dir = tsupport::temp_dir();
  const std::string raw = dir + "/in.yuv", es = dir + "/m.m2v", rec = dir + "/rec.yuv", ours = dir + "/ours.yuv";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(tsupport::fixture("enc_mandel_352x288.y4m")) +
                " -f rawvideo " + sh_quote(raw)),
            0);
  std::string intra = "8", inter = "16";
  for (int i = 1; i < 64; ++i) intra += " " + std::to_string(10 + (i * 5) % 60);
  for (int i = 1; i < 64; ++i) inter += " " + std::to_string(12 + i % 20);
  ASSERT_TRUE(tsupport::write_file(dir + "/intra.txt", std::vector<uint8_t>(intra.begin(), intra.end())));
  ASSERT_TRUE(tsupport::write_file(dir + "/inter.txt", std::vector<uint8_t>(inter.begin(), inter.end())));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("encode " + sh_quote(raw) + " " + sh_quote(es) + " --size 352x288 --rate 25 --intra-only" +
                              " --quant 3 --constant --intra-matrix " + sh_quote(dir + "/intra.txt") +
                              " --non-intra-matrix " + sh_quote(dir + "/inter.txt") + " --recon " + sh_quote(rec),
                          &lines),
            0);
  EXPECT_EQ(tsupport::field_int(lines.back(), "pictures"), 4);
  std::string msg;
  EXPECT_EQ(run("ffmpeg -nostdin -hide_banner -v error -err_detect +crccheck+buffer+explode -i " + sh_quote(es) +
                    " -f null - 2>&1",
                &msg),
            0);
  EXPECT_EQ(msg, "");
  const std::string t = trace_headers(es);
  // (trace_headers reads the first sequence header twice: as extradata too)
  for (const char* f : {"load_intra_quantiser_matrix", "load_non_intra_quantiser_matrix"}) {
    const std::vector<long long> v = values(t, f);
    EXPECT_GE(v.size(), 4u) << f;
    EXPECT_EQ(std::count(v.begin(), v.end(), 1LL), static_cast<long>(v.size())) << f;
  }
  EXPECT_EQ(values(t, "intra_quantiser_matrix[1]").at(0), 15);
  ASSERT_EQ(tsupport::dev("decode " + sh_quote(es) + " " + sh_quote(ours), &lines), 0);
  EXPECT_TRUE(tsupport::read_file(rec) == tsupport::read_file(ours));
  // A matrix file with 63 numbers is refused.
  const std::string short_m = intra.substr(0, intra.rfind(' '));
  ASSERT_TRUE(tsupport::write_file(dir + "/short.txt", std::vector<uint8_t>(short_m.begin(), short_m.end())));
  EXPECT_EQ(run(sh_quote(tsupport::dev_tool()) + " encode " + sh_quote(raw) + " " + sh_quote(es) +
                " --size 352x288 --rate 25 --intra-only --quant 3 --constant --intra-matrix " +
                sh_quote(dir + "/short.txt") + " >/dev/null 2>&1"),
            1);
}

}  // namespace

namespace {

TEST(EncCliHeaders, SequenceOptionsReachTheHeader) {
  const std::string dir = tsupport::temp_dir();
  const std::string es = dir + "/s.m2v";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("encode " + sh_quote(tsupport::fixture("enc_352x240.y4m")) + " " + sh_quote(es) +
                              " --intra-only --quant 4 --constant --bit-rate 8000000 --vbv 100 --aspect 3 --frames 1",
                          &lines),
            0);
  const std::string t = trace_headers(es);
  EXPECT_EQ(values(t, "aspect_ratio_information").at(0), 3);
  EXPECT_EQ(values(t, "bit_rate_value").at(0), 20000);
  EXPECT_EQ(values(t, "vbv_buffer_size_value").at(0), 100);
  EXPECT_EQ(values(t, "profile_and_level_indication").at(0), 0x48);
  // Our own header reader agrees; the input is bottom field first.
  ASSERT_EQ(tsupport::dev("headers " + sh_quote(es), &lines), 0);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(tsupport::field_int(lines[0], "vbv_size"), 100);
  EXPECT_EQ(tsupport::field_int(lines[0], "bit_rate"), 8000000);
  EXPECT_EQ(tsupport::field(lines[2], "tff"), "0");
  EXPECT_EQ(tsupport::field_int(lines[2], "vbv_delay"), 65535);
}

}  // namespace

namespace {

// The bytes we write must not depend on the processor.
TEST(EncCliInput, PlainAndSimdKernelsWriteTheSameStream) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = tsupport::fixture("enc_pan_720x576_tff.y4m");
  for (const char* cpu : {"c", ""}) {
    const std::string out = dir + "/" + (*cpu ? cpu : "simd") + ".m2v";
    ASSERT_EQ(run("TAMSEL_CPU=" + std::string(cpu) + " " + sh_quote(tsupport::dev_tool()) + " encode " + sh_quote(in) +
                  " " + sh_quote(out) + " --intra-only --quant 2 --constant >/dev/null"),
              0);
  }
  const std::vector<uint8_t> plain = tsupport::read_file(dir + "/c.m2v");
  ASSERT_FALSE(plain.empty());
  EXPECT_TRUE(plain == tsupport::read_file(dir + "/simd.m2v"));
}

}  // namespace

namespace {

// MPEG-1 levels stop at 255: at quantiser code 1 the saturated colours of
// a test pattern would be clipped far off. Without --constant such
// macroblocks take a coarser step; every picture type keeps the detail.
TEST(EncCliQuality, Mpeg1FinestQuantiserKeepsBrightDetail) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = tsupport::fixture("enc_352x240.y4m");
  const std::string es = dir + "/q1.m1v", rec = dir + "/rec.yuv", ours = dir + "/ours.yuv";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("encode " + sh_quote(in) + " " + sh_quote(es) + " --mpeg 1 --quant 1 --frames 3 --recon " +
                              sh_quote(rec),
                          &lines),
            0);
  ASSERT_EQ(tsupport::dev("decode " + sh_quote(es) + " " + sh_quote(ours), &lines), 0);
  const std::vector<uint8_t> r = slurp(rec);
  ASSERT_FALSE(r.empty());
  EXPECT_TRUE(r == slurp(ours));
  const std::vector<uint8_t> src = tsupport::ffmpeg_raw(in, " -frames:v 3", "yuv420p", dir + "/src.yuv");
  const std::vector<uint8_t> ff = tsupport::ffmpeg_raw(es, "", "yuv420p", dir + "/ff.yuv");
  const size_t luma = 352 * 240, frame = luma * 3 / 2;
  ASSERT_EQ(src.size(), 3 * frame);
  ASSERT_EQ(ff.size(), 3 * frame);
  for (size_t i = 0; i < 3; ++i) {
    const uint8_t* a = src.data() + i * frame;
    const uint8_t* b = ff.data() + i * frame;
    EXPECT_GE(tsupport::psnr(a, b, luma), 48.0) << "frame " << i;
    EXPECT_GE(tsupport::psnr(a + luma, b + luma, luma / 4), 45.0) << "frame " << i << " Cb";
    EXPECT_GE(tsupport::psnr(a + luma * 5 / 4, b + luma * 5 / 4, luma / 4), 45.0) << "frame " << i << " Cr";
  }
}

}  // namespace
