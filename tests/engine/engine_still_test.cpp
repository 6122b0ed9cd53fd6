// The editor's "save frame": the full-size picture shown, as BMP, JPEG or a
// one-picture MPEG stream, checked against ffmpeg's decode of that frame;
// refusals leave no file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/mpeg_editor.h"
#include "picture/bmp.h"
#include "ffmpeg_oracle.h"
#include "support.h"

namespace {

using tsupport::ffmpeg_raw;
using tsupport::run;
using tsupport::sh_quote;

TEST(EngineStill, SaveImageWritesTheShownFrameAtFullSize) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = tsupport::temp_dir();
  const std::string src = dir + "/src.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 9 -c:v mpeg2video "
                "-q:v 2 -g 9 -bf 2 -aspect 16:9 -threads 1 -y " +
                sh_quote(src)),
            0);
  const int shown = 5;
  const size_t yuv = 720 * 576 * 3 / 2;
  const std::vector<uint8_t> want =
      ffmpeg_raw(src, " -vf 'select=eq(n\\," + std::to_string(shown) + ")' -frames:v 1", "yuv420p", dir + "/want.yuv");
  ASSERT_EQ(want.size(), yuv);
  // A half-size window saves the full picture.
  for (int size_mode : {0, 1}) {
    SCOPED_TRACE("size mode " + std::to_string(size_mode));
    std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(src.c_str(), size_mode, 0, 0);
    ASSERT_TRUE(ed_made);
    MPEG_Editor& ed = *ed_made;
    ed.search(shown, 0);
    ASSERT_EQ(ed.get_curr_frame_offset(), shown);
    const std::string mpv = dir + "/f.m2v", jpg = dir + "/f.jpg", bmp = dir + "/f.bmp";
    const int n = ed.save_image(mpv.c_str(), 3, 90);
    EXPECT_EQ(static_cast<size_t>(n), tsupport::read_file(mpv).size());
    std::string probe;
    ASSERT_EQ(run("ffprobe -v error -show_entries stream=codec_name,width,height,display_aspect_ratio -of "
                  "default=nw=1 " +
                      sh_quote(mpv),
                  &probe),
              0);
    EXPECT_NE(probe.find("codec_name=mpeg2video"), std::string::npos) << probe;
    EXPECT_NE(probe.find("width=720"), std::string::npos) << probe;
    EXPECT_NE(probe.find("display_aspect_ratio=16:9"), std::string::npos) << probe;  // the clip's own
    std::vector<uint8_t> got = ffmpeg_raw(mpv, "", "yuv420p", dir + "/mpv.yuv");
    ASSERT_EQ(got.size(), yuv);
    EXPECT_GE(tsupport::psnr(got.data(), want.data(), yuv), 38.0);
    EXPECT_GT(ed.save_image(jpg.c_str(), 11, 90), 0);
    got = ffmpeg_raw(jpg, "", "yuv420p", dir + "/jpg.yuv");
    ASSERT_EQ(got.size(), yuv);
    EXPECT_GE(tsupport::psnr(got.data(), want.data(), yuv), 38.0);
    EXPECT_GT(ed.save_image(bmp.c_str(), 12, 0), 0);
    got = ffmpeg_raw(bmp, "", "yuv420p", dir + "/bmp.yuv");
    ASSERT_EQ(got.size(), yuv);
    EXPECT_GE(tsupport::psnr(got.data(), want.data(), 720 * 576), 38.0);
    // Refused: an unknown type, a folder that does not exist, a full disk.
    struct stat st;
    EXPECT_EQ(ed.save_image((dir + "/x.mov").c_str(), 13, 90), 0);
    EXPECT_NE(stat((dir + "/x.mov").c_str(), &st), 0);
    EXPECT_EQ(ed.save_image((dir + "/no/such/x.m2v").c_str(), 2, 90), 0);
    if (stat("/dev/full", &st) == 0) {
      for (int type : {2, 11, 12}) EXPECT_EQ(ed.save_image("/dev/full", type, 90), 0) << type;
      ASSERT_EQ(stat("/dev/full", &st), 0);
      EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
  }
}

// The window's bitmap: the shown picture converted bottom row first, at the
// size the window decodes; progressive pictures never field-dithered.
TEST(EngineStill, BitmapOfTheShownPicture) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = tsupport::temp_dir();
  const std::string src = dir + "/src.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 6 -c:v mpeg2video "
                "-q:v 2 -g 6 -bf 2 -threads 1 -y " +
                sh_quote(src)),
            0);
  EXPECT_EQ(run("ffmpeg -nostdin -v error -i " + sh_quote(src) +
                " -vf 'select=eq(n\\,3),vflip' -frames:v 1 -f rawvideo -pix_fmt bgr24 -y " + sh_quote(dir + "/w.bgr")),
            0);
  const std::vector<uint8_t> want = tsupport::read_file(dir + "/w.bgr");
  ASSERT_EQ(want.size(), 352u * 288 * 3);
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(src.c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  DTamsel* e = ed.engine();
  ed.search(3, 0);
  EXPECT_EQ(e->set_bmp_depth(12), 24);  // refused, the old depth
  EXPECT_EQ(e->set_bmp_depth(24), 24);
  const uint8_t* dib = e->get_decoded_image_dib_data();
  ASSERT_NE(dib, nullptr);
  const BitmapInfo* h = e->get_decoded_image_dib_header();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->header.biWidth, 352);
  EXPECT_EQ(h->header.biHeight, 288);
  EXPECT_EQ(e->get_image_width(), 352);
  EXPECT_GE(tsupport::psnr(dib, want.data(), want.size()), 40.0);
  EXPECT_EQ(e->set_bmp_depth(8), 24);
  const std::vector<uint8_t> plain(e->get_decoded_image_dib_data(), e->get_decoded_image_dib_data() + 352 * 288);
  e->set_field_dither(1);
  const uint8_t* fd = e->get_decoded_image_dib_data();
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), fd));
  // Bytes per frame of the lowest output rates: a multiplex needs more
  // than the video alone.
  const int video = e->get_minimum_output_bit_rate(0);
  EXPECT_GT(video, 0);
  EXPECT_GT(e->get_minimum_output_bit_rate(6), video);
  EXPECT_GT(e->get_minimum_output_bit_rate(8), video);
  EXPECT_EQ(e->get_minimum_output_bit_rate(3), video);
}

}  // namespace
