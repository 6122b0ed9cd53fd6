// Frames: copies between sizes and chroma formats, centring, bookkeeping.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/frame.h"
#include "support/support.h"

using namespace tsupport;

namespace {

void fill_rows(uint8_t* plane, int width, int rows, int base) {
  for (int r = 0; r < rows; ++r) std::memset(plane + static_cast<size_t>(r) * width, base + r, width);
}

}  // namespace

TEST(Frame, EqualDisplaySizesCopyBytes) {
  Frame a(352, 288, 1, 0), b(352, 288, 1, 0);
  for (int i = 0; i < a.y_size(); ++i) a.y_plane()[i] = static_cast<uint8_t>(i * 13);
  a.set_stream_frame(17);
  a.set_mean_quantiser(7.5);
  MBInfo mb[3];
  mb[2].mb_type = 8;
  a.set_mb_info(mb, 3);
  b.copy_from(&a, 1, 0, 1);
  EXPECT_EQ(std::memcmp(a.buffer(), b.buffer(), a.y_size() + 2 * a.c_size()), 0);
  EXPECT_EQ(b.stream_frame(), 17);
  EXPECT_EQ(b.mean_quantiser(), 7.5);
  ASSERT_EQ(b.mb_count(), 3);
  EXPECT_EQ(b.mb_info()[2].mb_type, 8);
}

TEST(Frame, CifIntoPalIsDoubledAndCentred) {
  const std::string dir = temp_dir();
  const std::string out = dir + "/out.yuv";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("scale " + sh_quote(fixture("pic_352x288.yuv")) + " 352 288 420 720 576 " + sh_quote(out), &lines), 0);
  const auto ours = read_file(out);
  ASSERT_EQ(ours.size(), 720u * 576 * 3 / 2);
  // Exactly 8 black columns each side: Y 0, chroma 128 (4 chroma columns).
  for (int r = 0; r < 576; ++r)
    for (int x = 0; x < 720; ++x)
      if (x < 8 || x >= 712) {
        ASSERT_EQ(ours[r * 720 + x], 0) << r << "," << x;
      }
  for (int plane = 0; plane < 2; ++plane)
    for (int r = 0; r < 288; ++r)
      for (int x = 0; x < 360; ++x)
        if (x < 4 || x >= 356) {
          ASSERT_EQ(ours[720 * 576 + plane * 360 * 288 + r * 360 + x], 128);
        }
  // Inside, the picture is a 2x enlargement (ffmpeg's bicubic as sanity check).
  std::string ref;
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt yuv420p -s 352x288 -i " +
                    sh_quote(fixture("pic_352x288.yuv")) +
                    " -vf scale=704:576:flags=bicubic,pad=720:576:8:0 -f rawvideo -pix_fmt yuv420p -",
                &ref),
            0);
  ASSERT_EQ(ref.size(), ours.size());
  std::vector<uint8_t> a, b;
  for (int r = 0; r < 576; ++r)
    for (int x = 8; x < 712; ++x) {
      a.push_back(ours[r * 720 + x]);
      b.push_back(static_cast<uint8_t>(ref[r * 720 + x]));
    }
  EXPECT_GE(psnr(a.data(), b.data(), a.size()), 30.0);
}

TEST(Frame, ChromaFormatConversionFrameAndFieldWise) {
  Frame src(64, 32, 1, 0), dst(64, 32, 2, 0);
  fill_rows(src.y_plane(), 64, 32, 10);
  fill_rows(src.cb_plane(), 32, 16, 100);
  fill_rows(src.cr_plane(), 32, 16, 150);
  // Progressive: chroma row k lands on row 2k.
  dst.copy_from(&src, 0, 0, 0);
  for (int k = 0; k < 16; ++k) {
    ASSERT_EQ(dst.cb_plane()[(2 * k) * 32], 100 + k);
    ASSERT_EQ(dst.cr_plane()[(2 * k) * 32 + 31], 150 + k);
  }
  EXPECT_EQ(std::memcmp(dst.y_plane(), src.y_plane(), 64 * 32), 0);
  // Interlaced: each field's rows are doubled within the field, so row
  // 4k + f holds source row 2k + f.
  src.set_progressive_sequence(0);
  src.set_progressive_frame(0);
  Frame dst2(64, 32, 2, 0);
  dst2.copy_from(&src, 0, 0, 0);
  for (int k = 0; k < 8; ++k)
    for (int f = 0; f < 2; ++f) ASSERT_EQ(dst2.cb_plane()[(4 * k + f) * 32], 100 + 2 * k + f) << k << "," << f;
  // And back down: 4:2:2 to 4:2:0 of a flat picture stays flat.
  Frame flat(64, 32, 2, 0), down(64, 32, 1, 0);
  std::memset(flat.cb_plane(), 77, flat.c_size());
  std::memset(flat.cr_plane(), 88, flat.c_size());
  down.copy_from(&flat, 0, 0, 0);
  for (int i = 0; i < down.c_size(); ++i) ASSERT_TRUE(down.cb_plane()[i] == 77 && down.cr_plane()[i] == 88);
}

TEST(Frame, Chroma422CopiedBetweenSizesWithItsGeometry) {
  Frame src(352, 288, 2, 0), dst(720, 576, 2, 0);
  std::memset(src.y_plane(), 99, src.y_size());
  std::memset(src.cb_plane(), 60, src.c_size());
  std::memset(src.cr_plane(), 70, src.c_size());
  for (int r = 200; r < 288; ++r) std::memset(src.cb_plane() + r * 176, 200, 176);
  dst.copy_from(&src, 0, 0, 1);  // no scaling: centred 352x288 in 720x576
  // Luma rows 144..431, columns 184..535; chroma rows the same, columns 92..267.
  EXPECT_EQ(dst.y_plane()[143 * 720 + 300], 0);
  EXPECT_EQ(dst.y_plane()[144 * 720 + 300], 99);
  EXPECT_EQ(dst.y_plane()[431 * 720 + 535], 99);
  EXPECT_EQ(dst.cb_plane()[143 * 360 + 100], 128);
  EXPECT_EQ(dst.cb_plane()[144 * 360 + 100], 60);
  EXPECT_EQ(dst.cb_plane()[(144 + 250) * 360 + 100], 200);
  EXPECT_EQ(dst.cb_plane()[431 * 360 + 267], 200);
  EXPECT_EQ(dst.cb_plane()[432 * 360 + 100], 128);
  EXPECT_EQ(dst.cr_plane()[300 * 360 + 91], 128);
  EXPECT_EQ(dst.cr_plane()[300 * 360 + 92], 70);
}

TEST(Frame, BookkeepingAndRefusals) {
  Image img(720, 480, 1, 0);
  img.set_picture_header_flags(3, 1, 1, 0, 3);
  Frame f;
  f.attach_image(&img);
  EXPECT_EQ(f.field_count(), 3);
  EXPECT_EQ(f.displayed_fields(), 3);
  EXPECT_EQ(f.top_field_first(), 1);
  EXPECT_EQ(f.repeat_flag(), 1);
  EXPECT_EQ(f.progressive_frame(), 0);
  EXPECT_FALSE(f.owns_image());
  f.set_display_size(720, 480);
  EXPECT_EQ(f.get_width(), 720);
  f.set_display_size(700, 470);
  EXPECT_EQ(f.get_width(), 700);
  EXPECT_EQ(f.get_height(), 470);
  f.set_picture_coding_type(4);
  EXPECT_EQ(f.picture_coding_type(), -1);
  f.set_picture_coding_type(2);
  EXPECT_EQ(img.picture_coding_type, 2);
  // Time code forwarded to the picture and carried by copies.
  f.set_time_code_rate(25.0);
  f.set_time_code_frame(100);
  EXPECT_EQ(img.time_code.to_frame(), 100);
  Frame other(720, 480, 1, 0);
  other.copy_picture_info(&f);
  EXPECT_EQ(other.image()->time_code.to_frame(), 100);
  EXPECT_EQ(other.image()->picture_coding_type, 2);
  f.cleanup();  // borrowed image survives

  Frame none;
  TraceCapture cap;
  EXPECT_EQ(none.get_color_key(), 0);
  EXPECT_TRUE(cap.contains("Frame::get_color_key (ERROR): _image=nil"));
  Frame target(64, 64, 1, 0);
  target.copy_data(&none, 1);
  EXPECT_TRUE(cap.contains("Frame::copy_data (Aborted): can't access source image buffer"));

  // MBInfo arrays are reused while large enough.
  MBInfo recs[8];
  target.set_mb_info(recs, 8);
  MBInfo* first = target.mb_info();
  target.set_mb_info(recs, 4);
  EXPECT_EQ(target.mb_info(), first);
  EXPECT_EQ(target.mb_count(), 4);
  target.set_mb_info(nullptr, 0);
  EXPECT_EQ(target.mb_info(), nullptr);
}

// Regression: attaching an image to a frame that made its own forgot the
// own image and its luminance layers without freeing them (a leak under
// the sanitizer's leak check). The frame owns exactly what it made.
TEST(Frame, AttachingAnImageFreesWhatTheFrameOwned) {
  Image img(32, 32, 1, 0);
  Frame f(64, 64, 1, 0);
  ASSERT_TRUE(f.owns_image());
  f.get_layer2(1, 1);
  ASSERT_TRUE(f.layer2() && f.layer4() && f.layer2_fields());
  f.attach_image(&img);
  EXPECT_FALSE(f.owns_image());
  EXPECT_EQ(f.image(), &img);
  EXPECT_EQ(f.padded_width(), 32);
  EXPECT_EQ(f.buffer(), img.buffer);
  EXPECT_EQ(f.layer2(), nullptr);
  // Its own image handed back stays its own.
  Frame g(16, 16, 1, 0);
  Image* own = g.image();
  g.attach_image(own);
  EXPECT_TRUE(g.owns_image());
  EXPECT_EQ(g.y_plane(), own->buffer);
}

TEST(Frame, Chroma422ScaledCopyMatchesFfmpeg) {
  // 4:2:2 CIF into PAL: chroma keeps full height through the 1:2 scaling
  // and the centred copy. A 4:2:0 geometry would leave the lower half grey.
  const std::string out = temp_dir() + "/out422.yuv";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("scale " + sh_quote(fixture("pic_352x288_422.yuv")) + " 352 288 422 720 576 " + sh_quote(out), &lines),
            0);
  const auto ours = read_file(out);
  ASSERT_EQ(ours.size(), 720u * 576 * 2);
  std::string ref;
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt yuv422p -s 352x288 -i " +
                    sh_quote(fixture("pic_352x288_422.yuv")) +
                    " -vf scale=704:576:flags=bicubic,pad=720:576:8:0 -f rawvideo -pix_fmt yuv422p -",
                &ref),
            0);
  ASSERT_EQ(ref.size(), ours.size());
  for (int plane = 0; plane < 2; ++plane) {
    SCOPED_TRACE(plane);
    std::vector<uint8_t> a, b;
    const size_t base = 720u * 576 + plane * 360u * 576;
    for (int r = 0; r < 576; ++r)
      for (int x = 4; x < 356; ++x) {
        a.push_back(ours[base + r * 360 + x]);
        b.push_back(static_cast<uint8_t>(ref[base + r * 360 + x]));
      }
    EXPECT_GE(psnr(a.data(), b.data(), a.size()), 30.0);
  }
}
