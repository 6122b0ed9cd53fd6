// Picture buffers: geometry, defaults, flags, user data, colour key.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "picture/image.h"
#include "picture/mbinfo.h"
#include "picture/plane_memory.h"
#include "support/support.h"

using tsupport::TraceCapture;

TEST(Image, GeometryAndInitialContents) {
  {
    TraceCapture cap;
    Image img(720, 480, 3, 0);
    EXPECT_TRUE(cap.contains("ERROR (Image::ctor): 444 has NOT implemented yet!"));
    EXPECT_TRUE(cap.contains("\treset to 420"));
    EXPECT_EQ(img.chroma_format, 1);
    EXPECT_EQ(img.c_width(), 360);
    EXPECT_EQ(img.c_height(), 240);
  }
  Image img(352, 240, 1, 1);
  EXPECT_EQ(img.padded_width, 352);
  EXPECT_EQ(img.padded_height, 256);
  EXPECT_EQ(img.display_width, 352);
  EXPECT_EQ(img.display_height, 240);
  ASSERT_TRUE(img.get_y());
  EXPECT_EQ(img.get_u(), img.get_y() + 90112);
  EXPECT_EQ(img.get_v(), img.get_u() + 22528);
  for (size_t i = 0; i < 90112; ++i) ASSERT_EQ(img.get_y()[i], 0);
  for (size_t i = 0; i < 2 * 22528; ++i) ASSERT_EQ(img.get_u()[i], 128);
  const YuvPlanes p = img.planes();
  EXPECT_EQ(p.y_stride, 352);
  EXPECT_EQ(p.c_stride, 176);
  EXPECT_EQ(p.width, 352);
  EXPECT_EQ(p.height, 240);

  Image i422(720, 576, 2, 0);
  EXPECT_EQ(i422.c_height(), 576);
  EXPECT_EQ(i422.c_size(), 720u * 576 / 2);
  EXPECT_EQ(i422.cr_offset(), 720u * 576 + 720u * 576 / 2);

  TraceCapture cap;
  Image small(0, -5, 1, 0);
  EXPECT_TRUE(cap.contains("ERROR (Image::init): wd = 0, ht = -5"));
  EXPECT_EQ(small.display_width, 16);
  EXPECT_EQ(small.display_height, 16);
  EXPECT_EQ(small.field_count, 2);
  EXPECT_EQ(small.progressive_frame, 1);
  EXPECT_EQ(small.picture_structure, 3);
}

// A 1080-line buffer is past the size that takes its own huge-page-aligned
// mapping; re-sizing goes between that and the heap in both directions.
TEST(Image, LargeBuffersClearedAcrossResizes) {
  auto check = [](const Image& img) {
    ASSERT_TRUE(img.get_y());
    const uint8_t* y = img.get_y();
    for (size_t i = 0; i < img.y_size(); i += 4093) ASSERT_EQ(y[i], 0) << i;
    EXPECT_EQ(y[img.y_size() - 1], 0);
    const uint8_t* c = img.get_u();
    for (size_t i = 0; i < 2 * img.c_size(); i += 4093) ASSERT_EQ(c[i], 128) << i;
    EXPECT_EQ(c[2 * img.c_size() - 1], 128);
    for (size_t i = 0; i < 32; ++i) ASSERT_EQ(img.get_y()[img.buffer_size() - 32 + i], 0);
  };
  Image img(1920, 1080, 2, 1);
  check(img);
  std::memset(img.get_y(), 77, img.buffer_size());
  img.init(352, 288, 0);
  check(img);
  img.init(1920, 1080, 0);
  check(img);
  std::memset(img.get_y(), 77, img.buffer_size());
  img.init(3840, 2160, 0);
  check(img);
}

// SD pictures share huge-page chunks: three frames in one chunk, a reused
// buffer as clean as a fresh one, and no chunk left once all are gone.
TEST(Image, PooledSdBuffersShareChunksAndComeBackClean) {
  const int before = planes_pool_chunks();
  {
    std::vector<std::unique_ptr<Image>> frames;
    for (int k = 0; k < 3; ++k) frames.push_back(std::make_unique<Image>(720, 576, 1, 1));
    EXPECT_LE(planes_pool_chunks(), before + 1);
    for (int a = 0; a < 3; ++a)
      for (int b = a + 1; b < 3; ++b) {
        const uint8_t* pa = frames[a]->get_y();
        const uint8_t* pb = frames[b]->get_y();
        EXPECT_TRUE(pa + frames[a]->buffer_size() <= pb || pb + frames[b]->buffer_size() <= pa) << a << b;
      }
    for (auto& f : frames) std::memset(f->get_y(), 77, f->buffer_size());
    frames[1].reset();
    frames[1] = std::make_unique<Image>(720, 576, 1, 1);  // takes the freed buffer back
    const Image& img = *frames[1];
    for (size_t i = 0; i < img.y_size(); ++i) ASSERT_EQ(img.get_y()[i], 0) << i;
    for (size_t i = 0; i < 2 * img.c_size(); ++i) ASSERT_EQ(img.get_u()[i], 128) << i;
    for (size_t i = 0; i < 32; ++i) ASSERT_EQ(img.get_y()[img.buffer_size() - 32 + i], 0);
    // a smaller picture in the same chunk, and a resize of a pooled one
    Image half(360, 288, 1, 0);
    frames[2]->init(704, 480, 0);
    EXPECT_EQ(frames[2]->get_y()[frames[2]->y_size() - 1], 0);
    EXPECT_EQ(frames[2]->get_v()[frames[2]->c_size() - 1], 128);
  }
  EXPECT_EQ(planes_pool_chunks(), before);
}

// Threads sharing the pool each get clean buffers of their own.
TEST(Image, PooledBuffersAcrossThreads) {
  const int before = planes_pool_chunks();
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&bad, t] {
      for (int i = 0; i < 20; ++i) {
        Image img(720 - 16 * (i % 2), 576, 1, 0);
        const size_t n = img.buffer_size();
        if (img.get_y()[0] != 0 || img.get_y()[img.y_size() - 1] != 0 || img.get_u()[0] != 128 ||
            img.get_v()[img.c_size() - 1] != 128 || img.get_y()[n - 1] != 0)
          ++bad;
        std::memset(img.get_y(), 60 + t, n);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(planes_pool_chunks(), before);
}

TEST(Image, PictureFlagsAreValidated) {
  Image img(64, 64, 1, 0);
  TraceCapture cap;
  EXPECT_EQ(img.set_picture_header_flags(7, 0, 0, 1, 3), 1);
  EXPECT_TRUE(cap.contains("ERROR (IMAGE::set_picture_header_flags): invalid input(s)"));
  EXPECT_TRUE(cap.contains("field_count                    = 7"));
  EXPECT_EQ(img.field_count, 2);
  EXPECT_EQ(img.set_picture_header_flags(3, 1, 1, 0, 3), 0);
  EXPECT_EQ(img.field_count, 3);
  EXPECT_EQ(img.repeat_first_field, 1);
  EXPECT_EQ(img.set_picture_header_flags(2, 0, 2, 0, 3), 1);
  EXPECT_EQ(img.set_picture_header_flags(2, 0, 0, 0, 4), 1);
  EXPECT_EQ(img.top_field_first, 1);
}

TEST(Image, UserDataBlocks) {
  Image img(16, 16, 1, 0);
  const uint8_t long_data[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  img.set_user_data(long_data, 20);
  uint8_t* block = img.user_data;
  ASSERT_TRUE(block);
  EXPECT_EQ(img.user_data_length, 20);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(block[20 + i], 0);  // zeroed tail
  img.set_user_data(long_data + 5, 4);
  EXPECT_EQ(img.user_data, block);  // shorter data keeps the block
  EXPECT_EQ(img.user_data_length, 4);
  EXPECT_EQ(img.user_data[0], 6);
  img.set_user_data(nullptr, 4);
  EXPECT_EQ(img.user_data, nullptr);
  EXPECT_EQ(img.user_data_length, 0);

  Image other(16, 16, 1, 0);
  img.set_gop_user_data(long_data, 3);
  img.picture_coding_type = 2;
  img.size_mode = 1;
  other.copy_flags(img);
  EXPECT_EQ(other.gop_user_data_length, 3);
  EXPECT_EQ(other.gop_user_data[2], 3);
  EXPECT_EQ(other.picture_coding_type, 2);
  EXPECT_EQ(other.size_mode, 1);
}

TEST(Image, ColorKey) {
  Image black(64, 32, 1, 0);
  EXPECT_EQ(black.get_color_key(0.368, 5), 0x8080);
  Image uni(64, 32, 1, 0);
  std::memset(uni.get_y(), 200, uni.y_size());
  std::memset(uni.get_u(), 90, uni.c_size());
  std::memset(uni.get_v(), 60, uni.c_size());
  EXPECT_EQ(uni.get_color_key(0.368, 5), (200 << 16) | (90 << 8) | 60);
  // Ties go to the lowest value; a key below the ratio means no key.
  Image half(64, 32, 1, 0);
  std::memset(half.get_y(), 50, half.y_size() / 2);
  std::memset(half.get_y() + half.y_size() / 2, 40, half.y_size() / 2);
  EXPECT_EQ(half.get_color_key(0.0, 0) >> 16, 40);
  EXPECT_EQ(half.get_color_key(0.9, 2), 0x8080);
  // The padding around a smaller picture is painted with the key.
  Image padded(50, 30, 1, 0);
  std::memset(padded.get_y(), 200, padded.y_size());
  std::memset(padded.get_u(), 90, padded.c_size());
  std::memset(padded.get_v(), 60, padded.c_size());
  padded.get_y()[0] = 1;  // top-left corner lies in the border
  padded.get_color_key(0.368, 5);
  EXPECT_EQ(padded.get_y()[0], 200);
  TraceCapture cap;
  Image broken(16, 16, 1, 0);
  broken.reset_buffers();
  EXPECT_EQ(broken.get_color_key(0.368, 5), 0);
  EXPECT_TRUE(cap.contains("Image::get_color_key (ERROR): not initialized"));
}

TEST(MBInfo, SettersAndResets) {
  MBInfo prev, cur;
  prev.mb_type = 0xff;
  prev.motion_type = 2;
  for (int i = 0; i < 14; ++i) prev.mv[i] = i + 1;
  prev.values[3] = 9;
  cur.mb_number = 42;
  cur.set_from_mpeg1_mb(&prev);
  EXPECT_EQ(cur.mb_type, 13);
  EXPECT_EQ(cur.mv[3], 4);
  EXPECT_EQ(cur.mv[4], 0);
  EXPECT_EQ(cur.values[3], 9);
  EXPECT_EQ(cur.valid, 1);
  cur.set_from_mpeg2_mb(&prev);
  EXPECT_EQ(cur.mv[13], 14);
  cur.quantiser_scale = 5;
  cur.reset_mpeg1();
  EXPECT_EQ(cur.mv[3], 0);
  EXPECT_EQ(cur.mv[4], 5);
  EXPECT_EQ(cur.valid, 0);
  EXPECT_EQ(cur.mb_number, 42);
  cur.activity = 3.5;
  cur.reset();
  EXPECT_EQ(cur.mv[13], 0);
  EXPECT_EQ(cur.activity, 0.0);
  EXPECT_EQ(cur.mb_number, 42);
  MBInfo copy;
  copy.assign(prev);
  EXPECT_EQ(copy.mb_type, 0xff);
}
