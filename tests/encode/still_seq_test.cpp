// Pictures written as an MPEG stream of intra pictures (still-seq and the
// AddImageSequence behind it), checked with ffmpeg: format chosen from the
// picture size, every picture close to its image, the end code.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "encode/image_sequence.h"
#include "ffmpeg_oracle.h"
#include "picture/frame.h"
#include "support.h"

namespace {

using tsupport::run;
using tsupport::sh_quote;

// N pictures of a moving test pattern with noise, planar.
std::string make_pictures(const std::string& dir, int w, int h, int n, const char* pix_fmt) {
  const std::string path = dir + "/in_" + std::to_string(w) + "x" + std::to_string(h) + pix_fmt + ".yuv";
  const std::string cmd = "ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                          std::to_string(h) + ":rate=25,noise=alls=6:allf=t -frames:v " + std::to_string(n) +
                          " -pix_fmt " + pix_fmt + " -f rawvideo -y " + sh_quote(path);
  EXPECT_EQ(run(cmd), 0) << cmd;
  return path;
}

// First sequence header's fields.
struct SeqFields {
  int width = 0, height = 0, rate_code = 0;
  long long bit_rate = 0;
};
SeqFields seq_fields(const std::vector<uint8_t>& es) {
  SeqFields f;
  for (size_t i = 0; i + 12 <= es.size(); ++i) {
    if (es[i] || es[i + 1] || es[i + 2] != 1 || es[i + 3] != 0xB3) continue;
    const uint8_t* p = &es[i + 4];
    f.width = p[0] << 4 | p[1] >> 4;
    f.height = (p[1] & 15) << 8 | p[2];
    f.rate_code = p[3] & 15;
    f.bit_rate = 400LL * (p[4] << 10 | p[5] << 2 | p[6] >> 6);
    break;
  }
  return f;
}

// ffmpeg's strict decode is silent; the decoded pictures in pix_fmt.
std::vector<uint8_t> ffmpeg_decode(const std::string& es, const std::string& dir, const char* pix_fmt) {
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(es), "");
  return tsupport::ffmpeg_raw(es, "", pix_fmt, dir + "/dec.yuv");
}

struct SeqCase {
  const char* name;
  int w, h;
  const char* pix_fmt;
  int mpeg, rate_code;
  long long bit_rate;
};

const SeqCase kSeq[] = {
    {"vcd_352x288", 352, 288, "yuv420p", 1, 3, 4000000},
    {"pal_720x576", 720, 576, "yuv420p", 2, 3, 9800000},
    {"ntsc_720x480", 720, 480, "yuv420p", 2, 4, 9800000},
    {"narrow_352x480", 352, 480, "yuv420p", 2, 4, 9800000},
    // MPEG-1 holds no 4:2:2: a small 4:2:2 picture makes MPEG-2.
    {"small_422", 352, 288, "yuv422p", 2, 3, 9800000},
};

class StillSeq : public ::testing::TestWithParam<SeqCase> {};

TEST_P(StillSeq, FormatFromPictureSizeAndEveryPictureClose) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const SeqCase& c = GetParam();
  const std::string dir = tsupport::temp_dir();
  const int images = 2, count = 3;  // the pictures are used in turn
  const std::string in = make_pictures(dir, c.w, c.h, images, c.pix_fmt);
  const std::string es = dir + "/out.mpv";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("still-seq " + sh_quote(in) + " " + std::to_string(c.w) + " " + std::to_string(c.h) + " " +
                              (std::string(c.pix_fmt) == "yuv422p" ? "422" : "420") + " " + sh_quote(es) +
                              " --count " + std::to_string(count),
                          &lines),
            0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(tsupport::field_int(lines[0], "pictures"), count);
  EXPECT_EQ(tsupport::field_int(lines[0], "mpeg"), c.mpeg);
  EXPECT_EQ(tsupport::field_int(lines[0], "bit_rate"), c.bit_rate);
  const std::vector<uint8_t> bytes = tsupport::read_file(es);
  EXPECT_EQ(static_cast<long long>(bytes.size()), tsupport::field_int(lines[0], "bytes"));
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), (std::vector<uint8_t>{0, 0, 1, 0xB7}));
  const SeqFields f = seq_fields(bytes);
  EXPECT_EQ(f.width, c.w);
  EXPECT_EQ(f.height, c.h);
  EXPECT_EQ(f.rate_code, c.rate_code);
  EXPECT_EQ(f.bit_rate, c.bit_rate);
  std::string probe;
  ASSERT_EQ(run("ffprobe -v error -show_entries stream=codec_name -of default=nw=1 " + sh_quote(es), &probe), 0);
  EXPECT_NE(probe.find(c.mpeg == 1 ? "mpeg1video" : "mpeg2video"), std::string::npos) << probe;
  const std::vector<uint8_t> src = tsupport::read_file(in);
  const std::vector<uint8_t> dec = ffmpeg_decode(es, dir, c.pix_fmt);
  const size_t frame = src.size() / images;
  ASSERT_EQ(dec.size(), frame * count);
  for (int k = 0; k < count; ++k) {
    const uint8_t* want = src.data() + (k % images) * frame;
    EXPECT_GE(tsupport::psnr(dec.data() + k * frame, want, frame), 38.0) << "picture " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StillSeq, ::testing::ValuesIn(kSeq),
                         [](const ::testing::TestParamInfo<SeqCase>& i) { return std::string(i.param.name); });

TEST(StillSeqEdges, NothingEncodedWritesNothingAndFullDiskFails) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = tsupport::temp_dir();
  const std::string in = make_pictures(dir, 352, 288, 1, "yuv420p");
  std::vector<std::string> lines;
  const std::string empty = dir + "/empty.mpv";
  ASSERT_EQ(tsupport::dev("still-seq " + sh_quote(in) + " 352 288 420 " + sh_quote(empty) + " --count 0", &lines), 0);
  EXPECT_EQ(tsupport::field_int(lines.at(0), "pictures"), 0);
  EXPECT_TRUE(tsupport::read_file(empty).empty());
  // A write that does not reach the disk is a failure, not a count.
  EXPECT_EQ(tsupport::dev("still-seq " + sh_quote(in) + " 352 288 420 /dev/full", nullptr), 1);
  EXPECT_EQ(tsupport::dev("still-seq " + sh_quote(in) + " 352 288 420 " + sh_quote(in), nullptr), 1);
  EXPECT_EQ(tsupport::read_file(in).size(), 352u * 288 * 3 / 2);
  {
    int failed = 0;
    AddImageSequence seq("/dev/full", &failed);
    ASSERT_EQ(failed, 0);
    Frame f(352, 288, 1, 0);
    std::memset(f.buffer(), 128, static_cast<size_t>(f.y_size() + 2 * f.c_size()));
    EXPECT_EQ(seq.add_image(f.image()), 0);
    EXPECT_EQ(seq.get_bytes_written(), 0);
    EXPECT_EQ(seq.add_image(f.image()), 0);
  }
  int failed = 0;
  AddImageSequence none("", &failed);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(none.add_image(nullptr), 0);
}

// A later picture of another size is centred in the coded size the first
// one fixed (bordered when smaller), never scaled.
TEST(StillSeqEdges, LaterPictureOfAnotherSizeIsCentred) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = tsupport::temp_dir();
  const std::string big = make_pictures(dir, 352, 288, 1, "yuv420p");
  const std::string small = make_pictures(dir, 176, 144, 1, "yuv420p");
  auto load = [](Frame& f, const std::vector<uint8_t>& b, int w, int h) {
    const uint8_t* s = b.data();
    for (int y = 0; y < h; ++y) std::memcpy(f.y_plane() + y * f.padded_width(), s + y * w, size_t(w));
    for (int y = 0; y < h / 2; ++y) {
      std::memcpy(f.cb_plane() + y * f.c_width(), s + w * h + y * (w / 2), size_t(w / 2));
      std::memcpy(f.cr_plane() + y * f.c_width(), s + w * h * 5 / 4 + y * (w / 2), size_t(w / 2));
    }
  };
  const std::vector<uint8_t> bb = tsupport::read_file(big), sb = tsupport::read_file(small);
  Frame fb(352, 288, 1, 0), fs(176, 144, 1, 0);
  load(fb, bb, 352, 288);
  load(fs, sb, 176, 144);
  const std::string es = dir + "/two.mpv";
  {
    int failed = 1;
    AddImageSequence seq(es.c_str(), &failed);
    ASSERT_EQ(failed, 0);
    ASSERT_EQ(seq.add_image(fb.image()), 1);
    ASSERT_EQ(seq.add_image(fs.image()), 1);
    EXPECT_EQ(seq.get_pictures_written(), 2);
    EXPECT_EQ(seq.close(), 0);
  }
  const std::vector<uint8_t> dec = ffmpeg_decode(es, dir, "yuv420p");
  const size_t frame = 352 * 288 * 3 / 2;
  ASSERT_EQ(dec.size(), 2 * frame);
  std::vector<uint8_t> centre(176 * 144);
  for (int y = 0; y < 144; ++y) std::memcpy(&centre[y * 176], &dec[frame + (y + 72) * 352 + 88], 176);
  EXPECT_GE(tsupport::psnr(centre.data(), sb.data(), centre.size()), 38.0);
  EXPECT_LT(dec[frame + 10 * 352 + 10], 20);  // black border
}

}  // namespace
