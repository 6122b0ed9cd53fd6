// The Video Clipboard over the real engine: thumbnails judged against
// ffmpeg's decode, the thumbnail strip read by ImageMagick, a restart.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/shell/clipboard_model.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "ffmpeg_oracle.h"
#include "support.h"

namespace {

std::string slurp(const std::string& path) {
  const std::vector<uint8_t> bytes = tsupport::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

constexpr int kStart = 5, kCount = 20, kThumb = 7;

struct ClipboardEngine : ::testing::Test {
  void SetUp() override {
    if (!tsupport::have_program("ffmpeg") || !tsupport::have_program("convert"))
      GTEST_SKIP() << "ffmpeg and ImageMagick are needed";
    dir = tsupport::test_dir();
    const char* sources[] = {"testsrc=size=352x288:rate=25", "smptebars=size=352x288:rate=30000/1001",
                             "mandelbrot=size=352x288:rate=25"};
    for (int i = 0; i < 3; ++i) {
      movies.push_back(dir + "/m" + std::to_string(i) + ".mpg");
      ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -f lavfi -i " + std::string(sources[i]) +
                              " -frames:v 40 -c:v mpeg1video -q:v 2 -f mpeg " + tsupport::sh_quote(movies.back())),
                0);
    }
  }
  // Thumbnails drawn at once, as the worker would.
  static void paint_now(VideoClipboard* board, int* jobs) {
    board->set_scheduler([jobs](EClip clip, std::function<void(DrawnThumbnail)> done) {
      if (jobs) ++*jobs;
      done(draw_clip_thumbnail(clip, &MpegEditorAdapter::from_clip));
    });
  }
  void fill(VideoClipboard* board) {
    for (int i = 0; i < 3; ++i) {
      auto editor = MpegEditorAdapter::open(movies[size_t(i)], 0);
      ASSERT_NE(editor, nullptr);
      std::unique_ptr<EClip> clip = editor->frame_copy(kStart, kCount);
      ASSERT_NE(clip, nullptr);
      clip->file_name = "#" + std::to_string(i + 1) + " clip";
      set_clip_thumbnail_frame(clip.get(), kThumb);
      board->add_clip(*clip, nullptr);
    }
  }
  std::string dir;
  std::vector<std::string> movies;
};

TEST_F(ClipboardEngine, ThumbnailsAreTheirFramesAndComeBackAfterARestart) {
  VideoClipboard board(&MpegEditorAdapter::from_clip);
  paint_now(&board, nullptr);
  fill(&board);
  ASSERT_EQ(board.count(), 3);

  std::vector<std::vector<uint8_t>> truth;
  for (int i = 0; i < 3; ++i) {
    truth.push_back(tsupport::ffmpeg_raw(movies[size_t(i)],
                                         " -vf 'select=eq(n\\," + std::to_string(kStart + kThumb) +
                                             "),format=rgb24,scale=48:48:flags=area' -frames:v 1",
                                         "rgb24", dir + "/truth" + std::to_string(i) + ".rgb"));
    ASSERT_EQ(truth.back().size(), size_t(48 * 48 * 3));
  }
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(board.row(i)->drawn);
    const double own = tsupport::psnr(board.row(i)->thumbnail.rgb.data(), truth[size_t(i)].data(), truth[0].size());
    EXPECT_GE(own, 25.0) << i;
    for (int k = 0; k < 3; ++k)
      if (k != i)
        EXPECT_GE(own - tsupport::psnr(board.row(i)->thumbnail.rgb.data(), truth[size_t(k)].data(), truth[0].size()),
                  6.0)
            << i << " against " << k;
  }
  EXPECT_EQ(length_text(board.row(0)->length), "00:00:00:20");

  const std::string vls = dir + "/mpeg-tamsel.vls", bmp = dir + "/mpeg-tamsel.bmp";
  ASSERT_EQ(board.write_project_list(vls, bmp), 3);
  std::string out;
  ASSERT_EQ(tsupport::run("identify -format '%w %h' " + tsupport::sh_quote(bmp), &out), 0);
  EXPECT_EQ(out, "48 144");
  for (int i = 0; i < 3; ++i) {
    const std::string slice = dir + "/slice.rgb";
    ASSERT_EQ(tsupport::run("convert " + tsupport::sh_quote(bmp) + " -crop 48x48+0+" + std::to_string(48 * i) +
                            " -depth 8 rgb:" + tsupport::sh_quote(slice)),
              0);
    const std::string bytes = slurp(slice);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), board.row(i)->thumbnail.rgb) << i;
  }

  // The next start: rows, lengths, sizes and pictures, nothing decoded.
  VideoClipboard next(&MpegEditorAdapter::from_clip);
  int jobs = 0;
  paint_now(&next, &jobs);
  ASSERT_EQ(next.read_project_list(vls, bmp), 3);
  EXPECT_EQ(jobs, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(next.row(i)->text, board.row(i)->text);
    EXPECT_EQ(next.row(i)->length, board.row(i)->length);
    EXPECT_EQ(next.row(i)->size, board.row(i)->size);
    EXPECT_GT(next.row(i)->size, 0);
    EXPECT_EQ(next.row(i)->thumbnail.rgb, board.row(i)->thumbnail.rgb);
    EXPECT_EQ(next.row(i)->clip.clips.size(), board.row(i)->clip.clips.size());
  }

  // A strip of one picture: the first clip takes it, the rest are drawn.
  ASSERT_EQ(board.write_project_list(vls, ""), 3);
  const std::string one = encode_thumbnail_strip({&board.row(0)->thumbnail});
  ASSERT_TRUE(tsupport::write_file(bmp, std::vector<uint8_t>(one.begin(), one.end())));
  jobs = 0;
  ASSERT_EQ(next.read_project_list(vls, bmp), 3);
  EXPECT_EQ(jobs, 2);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(next.row(i)->thumbnail.rgb, board.row(i)->thumbnail.rgb) << i;

  // The second movie is removed: its row stays (grey), its block is kept.
  ASSERT_EQ(board.write_project_list(vls, ""), 3);
  const std::string list = slurp(vls);
  const size_t a = list.find("CLIPLIST: #2 clip"), b = list.find("CLIPLIST: #3 clip");
  ASSERT_TRUE(a != std::string::npos && b != std::string::npos);
  std::remove(movies[1].c_str());
  VideoClipboard after(&MpegEditorAdapter::from_clip);
  paint_now(&after, nullptr);
  ASSERT_EQ(after.read_project_list(vls, ""), 3);
  EXPECT_FALSE(after.row(1)->drawn);
  EXPECT_EQ(after.row(1)->thumbnail.rgb, placeholder_thumbnail().rgb);
  EXPECT_EQ(after.row(2)->thumbnail.rgb, board.row(2)->thumbnail.rgb);
  ASSERT_EQ(after.write_project_list(vls, ""), 3);
  EXPECT_NE(slurp(vls).find(list.substr(a, b - a)), std::string::npos);
}

}  // namespace
