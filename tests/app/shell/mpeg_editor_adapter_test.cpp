// The editor interface over the real engine: a movie opens through it with
// its frames, bitmap and sources; a file that is no movie gives nothing,
// and the open road says so.
#include <gtest/gtest.h>

#include <fstream>

#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "platform/fakes.h"
#include "platform/file_use.h"
#include "support.h"

namespace {

TEST(MpegEditorAdapter, OpensAMovie) {
  TSUPPORT_NEED_FIXTURES("fa_ps.mpg");
  const std::string path = tsupport::fixture("fa_ps.mpg");
  auto e = MpegEditorAdapter::open(path, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->get_total_frames(), 500);
  EXPECT_NEAR(e->get_frame_rate(), 25.0, 1e-9);
  // The engine keeps the file's real path: the same file, however spelled.
  const auto sources = e->source_files();
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_TRUE(same_file(sources[0], path)) << sources[0];

  const BitmapInfo* h = e->get_decoded_image_dib_header();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->header.biBitCount, 24);
  EXPECT_EQ(h->header.biWidth, 352);
  EXPECT_EQ(std::abs(h->header.biHeight), 288);
  EXPECT_NE(e->get_decoded_image_dib_data(), nullptr);
  e->set_bmp_depth(8);
  EXPECT_EQ(e->get_decoded_image_dib_header()->header.biBitCount, 8);

  int notified = 0;
  e->set_notify_callback([&] { ++notified; });
  EXPECT_EQ(e->search(100, 1), 100);
  EXPECT_EQ(e->get_curr_frame_offset(), 100);
  EXPECT_EQ(e->forward(3), 3);
  EXPECT_EQ(e->get_curr_frame_offset(), 103);
  EXPECT_EQ(notified, 0);  // one clip: the current clip never changes
  EXPECT_EQ(e->timecode_2_frame(e->get_frame_offset_timecode(137)), 137);
  EXPECT_LT(e->timecode_2_frame("not a time"), 0);
  auto all = e->frame_copy(0, 0);
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->get_total_frames(), 500);
}

TEST(MpegEditorAdapter, NoEditorOfWhatIsNoMovie) {
  const std::string dir = tsupport::test_dir();
  std::ofstream(dir + "/junk.mpg") << std::string(4096, 'j');
  std::ofstream(dir + "/empty.mpg").flush();
  EXPECT_EQ(MpegEditorAdapter::open(dir + "/junk.mpg", 0), nullptr);
  EXPECT_EQ(MpegEditorAdapter::open(dir + "/empty.mpg", 0), nullptr);
  EXPECT_EQ(MpegEditorAdapter::open(dir + "/missing.mpg", 0), nullptr);
}

TEST(MpegEditorAdapter, OpenRoadOfTheProgram) {
  TSUPPORT_NEED_FIXTURES("fa_ps.mpg");
  FakePlatform fp;
  struct Host : EditorWindowHost {
    bool create_editor_window(EditorEntry*, int, int) override { return true; }
    bool editor_window_position(const EditorEntry*, int*, int*) override { return false; }
  } host;
  editor_settings() = EditorSettings();
  CEditorApp app(&MpegEditorAdapter::open);
  app.set_window_host(&host);
  app.init_instance();
  EXPECT_EQ(app.open_input_file(tsupport::fixture("fa_ps.mpg"), 0, 0, 0), 1);
  const std::string junk = tsupport::test_dir() + "/junk.mpg";
  std::ofstream(junk) << std::string(4096, 'j');
  EXPECT_EQ(app.open_input_file(junk, 0, 0, 0), 0);
  EXPECT_EQ(fp.prompter.texts(), std::vector<std::string>{"<" + junk + ">: not a valid input file\n"});
  // The movie's file is in use while its editor is open.
  EXPECT_TRUE(fp.file_use.in_use(tsupport::fixture("fa_ps.mpg")));
  app.exit_instance();
  EXPECT_FALSE(fp.file_use.in_use(tsupport::fixture("fa_ps.mpg")));
  editor_settings() = EditorSettings();
}

}  // namespace
