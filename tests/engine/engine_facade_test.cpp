// The editor facade's window-facing calls: time codes as the movie's GOPs
// count them, the frame-rate notice, and the window's bitmap.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/mpeg_editor.h"
#include "picture/bmp.h"
#include "picture/frame.h"
#include "support.h"

namespace {

// A short MPEG-2 stream whose GOP time codes start at tc.
std::string timecoded_movie(const std::string& rate, const std::string& tc, double seconds) {
  const std::string out = tsupport::test_dir() + "/tc_" + std::to_string(std::hash<std::string>()(rate + tc)) + ".m2v";
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=" + rate +
                          ":duration=" + std::to_string(seconds) +
                          " -c:v mpeg2video -g 12 -bf 2 -flags +cgop -sc_threshold 1000000000 -timecode " + tsupport::sh_quote(tc) +
                          " -f mpeg2video " + tsupport::sh_quote(out);
  return tsupport::run(cmd) == 0 ? out : std::string();
}

TEST(EditorTimecode, EveryFrameRoundTripsFromTheGopTimeCodes) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  struct Case {
    const char* rate;
    const char* start;
    double seconds;
    int frame;
    const char* text;  // of that frame
  };
  const Case cases[] = {
      {"25", "01:00:00:00", 3, 0, "01:00:00:00"},
      {"25", "01:00:00:00", 3, 74, "01:00:02:24"},
      {"30000/1001", "01:00:00;00", 3, 0, "1:00:00;00"},
      {"30000/1001", "01:00:00;00", 3, 89, "1:00:02;29"},
      // Across a minute that drops pictures 00 and 01.
      {"30000/1001", "01:00:58;00", 3, 60, "1:01:00;02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rate) + " " + c.start);
    const std::string movie = timecoded_movie(c.rate, c.start, c.seconds);
    ASSERT_FALSE(movie.empty());
    int err = 0;
    MPEG_Editor ed(movie.c_str(), &err, 0, 0, 0);
    ASSERT_EQ(err, 0);
    std::string text;
    ed.get_frame_offset_timecode(c.frame, &text);
    EXPECT_EQ(text, c.text);
    const int total = ed.get_total_frames();
    ASSERT_GT(total, c.frame);
    for (int n = 0; n < total; ++n) {
      ed.get_frame_offset_timecode(n, &text);
      ASSERT_EQ(ed.timecode_2_frame(text.c_str()), n) << text;
    }
    EXPECT_EQ(ed.timecode_2_frame("not a time"), -1);
    EXPECT_EQ(ed.timecode_2_frame("00:00:00:00"), -1);  // before the movie's first time code
  }
}

TEST(EditorTimecode, AnEditedMovieCountsOnWithoutGapsAndRoundTrips) {
  int err = 0;
  MPEG_Editor ed(tsupport::fixture("en_tc.m2v").c_str(), &err, 0, 0, 0);
  ASSERT_EQ(err, 0);
  ASSERT_EQ(ed.frame_cut(10, 5), 1);
  std::string text;
  ed.get_frame_offset_timecode(50, &text);
  EXPECT_EQ(text, "01:00:02:00");
  for (int n = 0; n < ed.get_total_frames(); ++n) {
    ed.get_frame_offset_timecode(n, &text);
    ASSERT_EQ(ed.timecode_2_frame(text.c_str()), n) << text;
  }
}

struct Notices {
  int count = 0;
  static void on(void* user, int what) {
    if (what == 1) ++static_cast<Notices*>(user)->count;
  }
};

TEST(EditorNotify, OnceWhenAnEditJoinsAClipOfAnotherFrameRate) {
  const std::string missing = tsupport::missing_fixture({"en_a.m2v", "en_ntsc.m2v"});
  if (!missing.empty()) GTEST_SKIP() << missing;
  int err = 0;
  MPEG_Editor ed(tsupport::fixture("en_a.m2v").c_str(), &err, 0, 0, 0);
  ASSERT_EQ(err, 0);
  Notices notices;
  EXPECT_EQ(ed.set_notify_callback(nullptr, &notices), 0);
  EXPECT_EQ(ed.set_notify_callback(&Notices::on, nullptr), 0);
  ASSERT_EQ(ed.set_notify_callback(&Notices::on, &notices), 1);

  // Same rate: no notice, however far it plays.
  EClip same;
  ASSERT_EQ(same.init(tsupport::fixture("en_a.m2v").c_str(), 0), 0);
  ASSERT_EQ(ed.frame_paste(same, ed.get_total_frames()), 1);
  while (ed.forward(1)) {
  }
  EXPECT_EQ(notices.count, 0);

  EClip ntsc;
  ASSERT_EQ(ntsc.init(tsupport::fixture("en_ntsc.m2v").c_str(), 0), 0);
  ASSERT_EQ(ed.frame_paste(ntsc, ed.get_total_frames()), 1);
  ed.search(0, 0);
  notices.count = 0;
  while (ed.forward(1)) {
  }
  EXPECT_EQ(notices.count, 1);
  EXPECT_NEAR(ed.get_frame_rate(), 30000.0 / 1001.0, 1e-6);
  // Back to the 25 fps clips: one more notice, then none within them.
  ASSERT_EQ(ed.prev_clip(), 1);
  EXPECT_EQ(notices.count, 2);
  EXPECT_EQ(ed.prev_clip(), 1);
  EXPECT_EQ(ed.prev_clip(), 0);
  EXPECT_EQ(ed.get_curr_frame_offset(), 0);
  EXPECT_EQ(notices.count, 2);
  ASSERT_EQ(ed.next_clip(), 1);
  EXPECT_EQ(ed.get_curr_frame_offset(), 75);
}

TEST(EditorPicture, DibOfFrameNEqualsTheDevToolsFrameN) {
  const std::string movie = tsupport::fixture("en_a.m2v");
  int err = 0;
  MPEG_Editor ed(movie.c_str(), &err, 0, 0, 0);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(ed.get_decoded_image_width(), 352);
  EXPECT_EQ(ed.get_decoded_image_height(), 288);
  ed.set_bmp_depth(24);
  const std::string dir = tsupport::test_dir();
  for (int n : {0, 7, 40, 74}) {
    SCOPED_TRACE(n);
    ASSERT_EQ(ed.search(n, 0), n);
    EXPECT_EQ(ed.get_decoded_frame_flag(), ed.get_decoded_frame()->picture_coding_type());
    EXPECT_GE(ed.get_decoded_frame_flag(), 1);
    const uint8_t* dib = ed.get_decoded_image_dib_data();
    ASSERT_NE(dib, nullptr);
    const std::string yuv = dir + "/f" + std::to_string(n) + ".yuv", bmp = dir + "/f" + std::to_string(n) + ".bmp";
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("frame " + tsupport::sh_quote(movie) + " " + std::to_string(n) + " --out " +
                                tsupport::sh_quote(yuv),
                            &lines),
              0);
    ASSERT_EQ(tsupport::dev("yuv2bmp " + tsupport::sh_quote(yuv) + " 352 288 420 24 " + tsupport::sh_quote(bmp),
                            &lines),
              0);
    const std::vector<uint8_t> file = tsupport::read_file(bmp);
    ASSERT_GT(file.size(), 54u);
    const uint32_t off = uint32_t(file[10]) | uint32_t(file[11]) << 8 | uint32_t(file[12]) << 16 |
                         uint32_t(file[13]) << 24;
    const size_t bytes = size_t(352 * 3) * 288;
    ASSERT_EQ(file.size(), off + bytes);
    EXPECT_EQ(std::memcmp(file.data() + off, dib, bytes), 0);
  }
}

TEST(EditorFacade, WithoutEngineEveryForwarderAnswersItsDefault) {
  int err = 0;
  MPEG_Editor ed("/nonexistent/movie.m2v", &err, 0, 0, 0);
  ASSERT_EQ(err, 1);
  EXPECT_EQ(ed.timecode_2_frame("00:00:00:00"), -1);
  EXPECT_EQ(ed.get_frame_offset_timecode(0, nullptr), 0u);
  EXPECT_EQ(ed.next_clip(), 0);
  EXPECT_EQ(ed.get_decoded_frame(), nullptr);
  EXPECT_EQ(ed.get_decoded_frame_flag(), 0);
  EXPECT_EQ(ed.get_decoded_image_width(), 352);
  EXPECT_EQ(ed.get_decoded_image_dib_data(), nullptr);
  EXPECT_EQ(ed.set_video_pid(100), 0);
  ed.set_gop_fix_mode();
  ed.set_audio_encoder(2, 48000, 2, 192000, -1);
}

TEST(EditorFacade, SaveOptionsLandInTheEnginesSettings) {
  int err = 0;
  MPEG_Editor ed(tsupport::fixture("en_a.m2v").c_str(), &err, 0, 0, 0);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(ed.set_video_pid(8191), 0);
  EXPECT_EQ(ed.set_video_pid(15), 0);
  EXPECT_EQ(ed.set_video_pid(8190), 8190);
  EXPECT_EQ(ed.set_audio_pid(16), 16);
  EXPECT_EQ(ed.set_program_pid(300), 300);
  ed.set_gop_fix_mode();
  ed.set_audio_encoder(2, 48000, 1, 192000, 3);
  ed.set_audio_copy();
  ed.set_record_option(1);
  const EngineSettings& s = ed.engine()->get_settings();
  EXPECT_EQ(s.video_pid, 8190);
  EXPECT_EQ(s.audio_pid, 16);
  EXPECT_EQ(s.program_pid, 300);
  EXPECT_EQ(s.gop_fix, 1);
  EXPECT_EQ(s.audio.set, 1);
  EXPECT_EQ(s.audio.sample_rate, 48000);
  EXPECT_EQ(s.audio.channels, 1);
  EXPECT_EQ(s.audio.bit_rate, 192000);
  EXPECT_EQ(s.audio.clip_select, 3);
  EXPECT_EQ(s.audio.copy, 1);
  EXPECT_EQ(s.record_option, 1);
}

}  // namespace
