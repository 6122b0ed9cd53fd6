#include "app/shell/clipboard_model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "fake_editor.h"
#include "support.h"

namespace {

std::string slurp(const std::string& path) {
  const std::vector<uint8_t> bytes = tsupport::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// Clips of three fake movies of unlike sizes; a synchronous painter.
struct ClipboardTest : ::testing::Test {
  void SetUp() override {
    dir = tsupport::test_dir();
    for (int i = 0; i < 3; ++i) {
      movies.push_back(dir + "/m" + std::to_string(i) + ".mpg");
      ASSERT_TRUE(write_fake_movie(movies.back(), 50 + 10 * i, 160 + 32 * i, 120 + 24 * i));
    }
    board.set_scheduler([this](EClip clip, std::function<void(DrawnThumbnail)> done) {
      ++jobs;
      done(draw_clip_thumbnail(clip, fake_clip_factory()));
    });
  }
  EClip clip_of(int movie, int start, int count, int thumb, const std::string& name) {
    FakeEditor e(50 + 10 * movie, 160, 120);
    e.file = movies[size_t(movie)];
    EClip c = *e.frame_copy(start, count);
    c.file_name = name;
    set_clip_thumbnail_frame(&c, thumb);
    return c;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (int i = 0; i < board.count(); ++i) out.push_back(board.row(i)->clip.file_name);
    return out;
  }
  std::string dir;
  std::vector<std::string> movies;
  VideoClipboard board{fake_clip_factory()};
  int jobs = 0;
};

TEST(Thumbnail, AreaAveragesTheDisplayPictureAtEveryDepthButEight) {
  for (int depth : {24, 16}) {
    FakeEditor e(10, 96, 96);
    e.set_bmp_depth(depth);
    e.search(3, 1);
    const Thumbnail t = thumbnail_of_editor(e);
    ASSERT_EQ(t.rgb.size(), size_t(48 * 48 * 3));
    // Each thumbnail pixel averages a 2 x 2 block of the picture.
    for (int y : {0, 23, 47})
      for (int x : {0, 17, 47}) {
        int sum[3] = {0, 0, 0};
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx) {
            const FakeRgb p = e.rgb_at(2 * x + dx, 2 * y + dy);
            sum[0] += p.r, sum[1] += p.g, sum[2] += p.b;
          }
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(t.rgb[size_t((y * 48 + x) * 3 + c)], sum[c] / 4.0, 0.6) << depth << " " << x << "," << y;
      }
  }
  FakeEditor dithered(10, 96, 96);
  dithered.set_bmp_depth(8);
  EXPECT_TRUE(thumbnail_of_editor(dithered).empty());
}

TEST(Thumbnail, LengthIsADropFrameTimeCodeAt2997) {
  EXPECT_EQ(length_text(packed_length(25 * 61 + 3, 25.0)), "00:01:01:03");
  // 1800 frames at 29.97 drop two frame numbers at the minute.
  EXPECT_EQ(length_text(packed_length(1800, 30000.0 / 1001)), "00:01:00:02");
  EXPECT_EQ(size_text(1234567), "  1.234567");
}

TEST(ThumbnailStrip, RoundTripsAndRefusesWhatIsNotOne) {
  std::vector<Thumbnail> pics(3, placeholder_thumbnail());
  for (size_t i = 0; i < pics.size(); ++i)
    for (size_t k = 0; k < pics[i].rgb.size(); ++k) pics[i].rgb[k] = uint8_t(k * (i + 3) + i);
  const std::string bytes = encode_thumbnail_strip({&pics[0], &pics[1], &pics[2]});
  const std::vector<Thumbnail> back = decode_thumbnail_strip(bytes);
  ASSERT_EQ(back.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(back[i].rgb, pics[i].rgb);
  std::string wrong_width = bytes;
  wrong_width[18] = 47;
  std::string short_rows = bytes;
  short_rows[22] = 47;
  for (const std::string& bad : {bytes.substr(0, bytes.size() - 1), std::string("GIF89a"), std::string(), wrong_width,
                                 short_rows, std::string(bytes.begin(), bytes.begin() + 54)})
    EXPECT_TRUE(decode_thumbnail_strip(bad).empty());
}

TEST_F(ClipboardTest, DeleteSelectsTheNextRowAndUndoBringsTheLastDeletedBackAtTheEnd) {
  for (int i = 0; i < 6; ++i) board.add_clip(clip_of(i % 3, 0, 10, 0, "#" + std::to_string(i + 1) + " clip"), nullptr);
  EXPECT_EQ(board.selected(), 5);
  board.select(2);
  board.delete_selected();
  EXPECT_EQ(board.selected(), 2);  // the row that moved into its place
  EXPECT_EQ(board.row(2)->clip.file_name, "#4 clip");
  board.select(4);  // "#6 clip", the last row
  board.delete_selected();
  EXPECT_EQ(board.selected(), 0);
  board.undo_delete();
  board.undo_delete();
  EXPECT_EQ(names(), (std::vector<std::string>{"#1 clip", "#2 clip", "#4 clip", "#5 clip", "#6 clip", "#3 clip"}));
  EXPECT_FALSE(board.has_undo());
  board.delete_all();
  board.undo_delete();
  EXPECT_EQ(board.count(), 0);
}

TEST_F(ClipboardTest, EveryRowKeepsItsOwnPictureThroughFailuresAndDeletes) {
  board.add_clip(clip_of(0, 0, 10, 4, "a"), nullptr);
  EClip gone = clip_of(1, 0, 10, 0, "gone");
  gone.clips[0].set_file_name((dir + "/nothing.mpg").c_str());
  board.add_clip(gone, nullptr);
  board.add_clip(clip_of(2, 5, 10, 0, "c"), nullptr);
  ASSERT_EQ(board.count(), 3);
  EXPECT_TRUE(board.row(0)->drawn);
  EXPECT_FALSE(board.row(1)->drawn);  // kept, grey
  EXPECT_EQ(board.row(1)->thumbnail.rgb, placeholder_thumbnail().rgb);
  const std::vector<uint8_t> c_picture = board.row(2)->thumbnail.rgb;
  EXPECT_NE(c_picture, board.row(0)->thumbnail.rgb);
  board.select(1);
  board.delete_selected();
  EXPECT_EQ(board.row(1)->thumbnail.rgb, c_picture);
  board.undo_delete();
  EXPECT_EQ(board.row(2)->clip.file_name, "gone");
  EXPECT_EQ(board.row(2)->thumbnail.rgb, placeholder_thumbnail().rgb);
}

TEST_F(ClipboardTest, ACopyTakesTheEditorsPictureAtOnceUnlessItIsDithered) {
  FakeEditor shown(60, 160, 120);
  shown.file = movies[0];
  shown.search(7, 1);
  board.add_clip(clip_of(0, 5, 10, 2, "#1 clip"), &shown);
  EXPECT_EQ(jobs, 0);
  EXPECT_EQ(board.row(0)->thumbnail.rgb, thumbnail_of_editor(shown).rgb);
  EXPECT_EQ(length_text(board.row(0)->length), "00:00:00:10");
  shown.set_bmp_depth(8);
  board.add_clip(clip_of(0, 5, 10, 2, "#2 clip"), &shown);
  EXPECT_EQ(jobs, 1);
  EXPECT_TRUE(board.row(1)->drawn);
  EXPECT_NE(board.row(1)->thumbnail.rgb, placeholder_thumbnail().rgb);
}

TEST_F(ClipboardTest, APictureDrawnAfterItsRowWasDeletedGoesNowhere) {
  std::vector<std::function<void()>> later;
  board.set_scheduler([&](EClip clip, std::function<void(DrawnThumbnail)> done) {
    later.push_back([clip, done] { done(draw_clip_thumbnail(clip, fake_clip_factory())); });
  });
  board.add_clip(clip_of(0, 0, 10, 0, "a"), nullptr);
  board.add_clip(clip_of(1, 0, 10, 0, "b"), nullptr);
  board.select(0);
  board.delete_selected();
  for (auto& f : later) f();
  ASSERT_EQ(board.count(), 1);
  EXPECT_TRUE(board.row(0)->drawn);
  EXPECT_EQ(board.pending(), 0);
  board.undo_delete();
  EXPECT_EQ(board.row(1)->clip.file_name, "a");
}

TEST_F(ClipboardTest, ListAndStripComeBackAfterARestartAndAMissingFileKeepsItsBlock) {
  const std::string vls = dir + "/mpeg-tamsel.vls", bmp = dir + "/mpeg-tamsel.bmp";
  board.add_clip(clip_of(0, 0, 20, 3, "#1 clip"), nullptr);
  board.add_clip(clip_of(1, 10, 20, 0, "#2 clip"), nullptr);
  board.add_clip(clip_of(2, 0, 30, 9, "#3 clip"), nullptr);
  std::string error;
  ASSERT_EQ(board.write_project_list(vls, bmp, &error), 3) << error;
  const std::string first = slurp(vls);
  EXPECT_NE(first.find("# MPEG-Tamsel Project List\n"), std::string::npos);
  EXPECT_NE(first.find("# total: 3 clips\n"), std::string::npos);

  VideoClipboard next(fake_clip_factory());
  int drawn = 0;
  next.set_scheduler([&](EClip, std::function<void(DrawnThumbnail)>) { ++drawn; });
  ASSERT_EQ(next.read_project_list(vls, bmp), 3);
  EXPECT_EQ(drawn, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(next.row(i)->clip.file_name, board.row(i)->clip.file_name);
    EXPECT_EQ(next.row(i)->length, board.row(i)->length);
    EXPECT_EQ(next.row(i)->thumbnail.rgb, board.row(i)->thumbnail.rgb);
    EXPECT_EQ(clip_thumbnail_frame(next.row(i)->clip), clip_thumbnail_frame(board.row(i)->clip));
  }

  // Clips the engine cannot read (fake movies are no MPEG) keep their
  // rows and are written back as they were read.
  VideoClipboard third(fake_clip_factory());
  ASSERT_EQ(third.read_project_list(vls, ""), 3);
  EXPECT_FALSE(third.row(1)->drawn);
  EXPECT_EQ(third.row(1)->text, "#2 clip");
  ASSERT_EQ(third.write_project_list(vls, bmp), 3);
  // Written back twice: the same lists, nothing gained between them.
  for (int round = 0; round < 2; ++round) {
    VideoClipboard reread(fake_clip_factory());
    ASSERT_EQ(reread.read_project_list(vls, ""), 3);
    ASSERT_EQ(reread.write_project_list(vls, ""), 3);
    const std::string again = slurp(vls);
    EXPECT_EQ(again.substr(again.find("CLIPLIST:")), first.substr(first.find("CLIPLIST:")));
  }
}

TEST_F(ClipboardTest, BadListsLeaveTheRowsAndAFailedWriteKeepsTheOldFile) {
  board.add_clip(clip_of(0, 0, 10, 0, "keep"), nullptr);
  const std::string bad = dir + "/bad.vls";
  for (const std::string& text : {std::string(), std::string("#\n# nothing\n"), std::string("\x01\x02garbage\r\n")}) {
    ASSERT_TRUE(tsupport::write_file(bad, std::vector<uint8_t>(text.begin(), text.end())));
    EXPECT_EQ(board.read_project_list(bad, ""), 0);
    EXPECT_EQ(board.count(), 1);
  }
  EXPECT_EQ(board.read_project_list(dir + "/none.vls", ""), 0);

  // A list in CRLF lines reads as the same clips.
  const std::string vls = dir + "/crlf.vls";
  ASSERT_EQ(board.write_project_list(vls, ""), 1);
  std::string crlf;
  for (char c : slurp(vls)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_TRUE(tsupport::write_file(vls, std::vector<uint8_t>(crlf.begin(), crlf.end())));
  VideoClipboard next(fake_clip_factory());
  next.set_scheduler([](EClip, std::function<void(DrawnThumbnail)>) {});
  ASSERT_EQ(next.read_project_list(vls, ""), 1);
  EXPECT_EQ(next.row(0)->clip.file_name, "keep");

  // A folder that cannot hold files, even for root.
  const std::string not_folder = dir + "/plain";
  ASSERT_TRUE(tsupport::write_file(not_folder, {'x'}));
  std::string refused;
  EXPECT_EQ(board.write_project_list(not_folder + "/l.vls", not_folder + "/l.bmp", &refused), 0);
  EXPECT_NE(refused.find("l.vls"), std::string::npos) << refused;

  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const std::string ro = dir + "/ro";
  ASSERT_EQ(::mkdir(ro.c_str(), 0755), 0);
  ASSERT_EQ(board.write_project_list(ro + "/l.vls", ro + "/l.bmp"), 1);
  const std::string before = slurp(ro + "/l.vls");
  ::chmod(ro.c_str(), 0555);
  board.add_clip(clip_of(1, 0, 10, 0, "more"), nullptr);
  std::string error;
  EXPECT_EQ(board.write_project_list(ro + "/l.vls", ro + "/l.bmp", &error), 0);
  EXPECT_NE(error.find("l.vls"), std::string::npos);
  EXPECT_EQ(slurp(ro + "/l.vls"), before);
  ::chmod(ro.c_str(), 0755);
}

TEST_F(ClipboardTest, RemovingANodeFindsItsRowWhereverItStands) {
  board.add_clip(clip_of(0, 0, 10, 0, "a"), nullptr);
  board.add_clip(clip_of(1, 0, 10, 0, "b"), nullptr);
  board.add_clip(clip_of(2, 0, 10, 0, "c"), nullptr);
  const int id = board.row(1)->id;
  board.select(2);
  EXPECT_TRUE(board.remove_node(id));
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(board.selected(), 1);  // still "c"
  EXPECT_FALSE(board.remove_node(id));
  board.undo_delete();
  EXPECT_EQ(board.row(2)->clip.file_name, "b");
}

}  // namespace

namespace {

TEST_F(ClipboardTest, AStripPairsWithItsListUnderEitherChecksum) {
  const std::string vls = dir + "/mpeg-tamsel.vls", bmp = dir + "/mpeg-tamsel.bmp";
  board.add_clip(clip_of(0, 0, 20, 3, "#1 clip"), nullptr);
  board.add_clip(clip_of(2, 0, 30, 9, "#2 clip"), nullptr);
  ASSERT_EQ(board.write_project_list(vls, bmp), 2);
  std::string list = slurp(vls), strip = slurp(bmp);
  // Lists written earlier name the strip's byte-wise FNV-1a.
  uint32_t bytewise = 2166136261u;
  for (unsigned char c : strip) bytewise = (bytewise ^ c) * 16777619u;
  const size_t at = list.find("# thumbnails ");
  ASSERT_NE(at, std::string::npos);
  char sum[16];
  std::snprintf(sum, sizeof sum, "%08x", bytewise);
  const std::string older = list.substr(0, at + 13) + sum + list.substr(at + 21);
  struct Case {
    const char* what;
    std::string list;
    bool flip, paired;
  } cases[] = {{"word-wise sum", list, false, true},
               {"byte-wise sum", older, false, true},
               {"changed strip", list, true, false},
               {"changed strip, older list", older, true, false}};
  for (const Case& c : cases) {
    ASSERT_TRUE(tsupport::write_file(vls, std::vector<uint8_t>(c.list.begin(), c.list.end())));
    std::vector<uint8_t> s(strip.begin(), strip.end());
    if (c.flip) s[s.size() - 7] ^= 0x40;
    ASSERT_TRUE(tsupport::write_file(bmp, s));
    // The fake movies are no MPEG: only a paired strip gives pictures.
    VideoClipboard next(fake_clip_factory());
    ASSERT_EQ(next.read_project_list(vls, bmp), 2) << c.what;
    EXPECT_EQ(next.row(1)->drawn, c.paired) << c.what;
    if (c.paired) EXPECT_EQ(next.row(1)->thumbnail.rgb, board.row(1)->thumbnail.rgb) << c.what;
  }
}

}  // namespace
