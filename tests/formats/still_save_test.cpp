// Frames saved as stills (snapshot, Frame::save_bmp, Frame::save_jpeg)
// against ffmpeg's and ImageMagick's reading of them and ffmpeg's decode of
// the same frame.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "picture/frame.h"
#include "ffmpeg_oracle.h"
#include "support.h"

namespace {

using tsupport::ffmpeg_raw;
using tsupport::run;
using tsupport::sh_quote;

TEST(StillSave, SnapshotMatchesFfmpegsFrameAsBitmapAndJpeg) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = tsupport::temp_dir();
  const std::string src = dir + "/src.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 12 -c:v mpeg2video "
                "-q:v 2 -g 6 -bf 2 -threads 1 -y " +
                sh_quote(src)),
            0);
  const bool magick = tsupport::have_program("convert");
  const size_t rgb = 352 * 288 * 3, yuv = 352 * 288 * 3 / 2;
  for (int n : {4, 11}) {
    SCOPED_TRACE("frame " + std::to_string(n));
    const std::string sel = " -vf 'select=eq(n\\," + std::to_string(n) + ")' -frames:v 1";
    const std::string bmp = dir + "/s.bmp", jpg = dir + "/s.jpg";
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("snapshot " + sh_quote(src) + " " + std::to_string(n) + " " + sh_quote(bmp), &lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(tsupport::field_int(lines[0], "frame"), n);
    EXPECT_EQ(tsupport::field_int(lines[0], "width"), 352);
    EXPECT_EQ(tsupport::field_int(lines[0], "height"), 288);
    EXPECT_EQ(tsupport::field(lines[0], "format"), "bmp");
    EXPECT_EQ(tsupport::field_int(lines[0], "bytes"), static_cast<long long>(tsupport::read_file(bmp).size()));
    const std::vector<uint8_t> ours = ffmpeg_raw(bmp, "", "rgb24", dir + "/bmp.rgb");
    const std::vector<uint8_t> want = ffmpeg_raw(src, sel, "rgb24", dir + "/want.rgb");
    ASSERT_EQ(ours.size(), rgb);
    ASSERT_EQ(want.size(), rgb);
    // Upright and the same colours: a flipped picture is far below this.
    EXPECT_GE(tsupport::psnr(ours.data(), want.data(), rgb), 40.0);
    if (magick) {
      std::string im;
      ASSERT_EQ(run("convert " + sh_quote(bmp) + " -depth 8 rgb:-", &im), 0);
      EXPECT_TRUE(im.size() == rgb && std::memcmp(im.data(), ours.data(), rgb) == 0);
    }
    ASSERT_EQ(tsupport::dev("snapshot " + sh_quote(src) + " " + std::to_string(n) + " " + sh_quote(jpg) +
                                " --quality 90",
                            &lines),
              0);
    EXPECT_EQ(tsupport::field(lines.at(0), "format"), "jpeg");
    // Full-range JPEG read back to video range is the frame.
    const std::vector<uint8_t> j = ffmpeg_raw(jpg, "", "yuv420p", dir + "/jpg.yuv");
    const std::vector<uint8_t> f = ffmpeg_raw(src, sel, "yuv420p", dir + "/want.yuv");
    ASSERT_EQ(j.size(), yuv);
    ASSERT_EQ(f.size(), yuv);
    EXPECT_GE(tsupport::psnr(j.data(), f.data(), yuv), 38.0);
  }
  EXPECT_EQ(tsupport::dev("snapshot " + sh_quote(src) + " 12 " + sh_quote(dir + "/x.bmp"), nullptr), 1);
  EXPECT_EQ(tsupport::dev("snapshot " + sh_quote(src) + " 0 " + sh_quote(dir + "/x.png"), nullptr), 2);
}

// A noisy 4:2:2 picture at quality 100 codes to more than a byte per pixel:
// the whole picture is written, never a truncated one.
TEST(StillSave, JpegLargerThanOneBytePerPixelIsWhole) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = tsupport::temp_dir();
  Frame f(128, 64, 2, 0);
  std::mt19937 rng(7);
  for (int i = 0; i < f.y_size() + 2 * f.c_size(); ++i) f.buffer()[i] = static_cast<uint8_t>(16 + rng() % 220);
  const std::string jpg = dir + "/noise.jpg";
  const int n = f.save_jpeg(jpg.c_str(), 100);
  EXPECT_GT(n, 128 * 64 + 32);
  EXPECT_EQ(static_cast<size_t>(n), tsupport::read_file(jpg).size());
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(jpg), "");
  const std::vector<uint8_t> back = ffmpeg_raw(jpg, "", "yuv422p", dir + "/back.yuv");
  ASSERT_EQ(back.size(), static_cast<size_t>(f.y_size() + 2 * f.c_size()));
  EXPECT_GE(tsupport::psnr(back.data(), f.buffer(), back.size()), 35.0);
}

// Failed writes report 0 and remove only a file they made, never the
// device named as output.
TEST(StillSave, FullDiskFailsAndLeavesTheDevice) {
  struct stat st;
  if (stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "no /dev/full";
  Frame f(64, 48, 1, 0);
  std::memset(f.buffer(), 100, static_cast<size_t>(f.y_size() + 2 * f.c_size()));
  EXPECT_EQ(f.save_bmp("/dev/full", 24), 0);
  EXPECT_EQ(f.save_jpeg("/dev/full", 90), 0);
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  const std::string dir = tsupport::temp_dir();
  EXPECT_EQ(f.save_bmp((dir + "/no/such/a.bmp").c_str(), 24), 0);
  EXPECT_EQ(f.save_jpeg((dir + "/no/such/a.jpg").c_str(), 90), 0);
  EXPECT_GT(f.save_bmp((dir + "/a.bmp").c_str(), 24), 0);
}

}  // namespace
