// The editor facade's window-facing calls: time codes as the movie's GOPs
// count them, the frame-rate notice, and the window's bitmap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/editor_record.h"
#include "engine/clips/settings.h"
#include "engine/mpeg_editor.h"
#include "foundation/job_control.h"
#include "record/save_request.h"
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
    std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(movie.c_str(), 0, 0, 0);
    ASSERT_TRUE(ed_made);
    MPEG_Editor& ed = *ed_made;
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
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_tc.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
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
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
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
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(movie.c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
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

TEST(EditorFacade, FactoriesSayWhyNoEditorWasMade) {
  EngineError error;
  EXPECT_FALSE(MPEG_Editor::create("/nonexistent/movie.m2v", 0, 0, 0, &error));
  EXPECT_EQ(error.code, EngineError::no_movie);
  EXPECT_NE(error.message.find("/nonexistent/movie.m2v"), std::string::npos) << error.message;
  EXPECT_FALSE(MPEG_Editor::create("/nonexistent/movie.m2v"));  // the error is optional
  error = EngineError{};
  EXPECT_FALSE(MPEG_Editor::create(EClip(), 0, 0, 0, &error));
  EXPECT_EQ(error.code, EngineError::no_movie);
  EXPECT_FALSE(error.message.empty());
  error = EngineError{};
  EXPECT_FALSE(DTamsel::create(nullptr, 0, &error));
  EXPECT_EQ(error.code, EngineError::no_movie);
  auto ed = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0, &error);
  ASSERT_TRUE(ed);
  EXPECT_EQ(error.code, EngineError::none);
}

TEST(EditorFacade, SaveOptionsLandInTheEnginesSettings) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
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

namespace {

// A small program stream with MPEG audio: 352x288 MPEG-2 at 2 Mbit/s, GOPs
// of 12, 48 kHz stereo layer II at 192 kbit/s.
std::string av_movie() {
  const std::string out = tsupport::test_dir() + "/av.mpg";
  const std::string cmd =
      "ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25:duration=2 -f lavfi -i "
      "sine=frequency=440:sample_rate=48000:duration=2 -ac 2 -c:v mpeg2video -b:v 2M -g 12 -bf 2 -flags +cgop "
      "-sc_threshold 1000000000 -c:a mp2 -b:a 192k -f vob " +
      tsupport::sh_quote(out);
  return tsupport::run(cmd) == 0 ? out : std::string();
}

std::string probe(const std::string& file, const std::string& args) {
  std::string out;
  tsupport::run("ffprobe -v error " + args + " " + tsupport::sh_quote(file), &out);
  return out;
}

// A save project with its own encoder settings, loaded and saved through
// the editor: the output shows every one of them.
TEST(EditorRecord, SaveProjectSettingsReachTheOutput) {
  if (!tsupport::have_program("ffmpeg") || !tsupport::have_program("ffprobe")) GTEST_SKIP() << "ffmpeg missing";
  const std::string movie = av_movie();
  ASSERT_FALSE(movie.empty());
  const std::string dir = tsupport::test_dir();
  auto ed = MPEG_Editor::create(movie.c_str(), 0, 0, 0);
  ASSERT_TRUE(ed);
  EditorRecordData rec;
  editor_record_set_editor(&rec, ed.get());
  rec.output_type = 8;
  rec.video.bit_rate = 3000000;
  rec.video.gop_size = 9;
  rec.video.clip_select = -1;
  rec.audio.has_audio = 1;
  rec.audio.layer = 2;
  rec.audio.sample_rate = 44100;
  rec.audio.channels = 2;
  rec.audio.bit_rate = 128000;
  rec.audio.copy_flag = 0;
  rec.audio.clip_select = -1;
  rec.program_pid = 0x100;
  rec.video_pid = 0x101;
  rec.audio_pid = 0x102;
  rec.second_file_name = dir + "/out.ts";
  ASSERT_EQ(rec.save((dir + "/job.rec").c_str(), "test"), 0);

  std::unique_ptr<MPEG_Editor> editor;
  EditorRecordData job;
  ASSERT_EQ(editor_record_load(&job, (dir + "/job.rec").c_str(), &editor, 0), 0);
  ASSERT_EQ(job.record(editor.get()), 0);
  EXPECT_EQ(job.progress, 100);

  const std::string out = dir + "/out.ts";
  const std::string v = probe(out, "-select_streams v -show_entries stream=codec_name,bit_rate,id -of flat");
  EXPECT_NE(v.find("codec_name=\"mpeg2video\""), std::string::npos) << v;
  EXPECT_NE(v.find("id=\"0x101\""), std::string::npos) << v;
  const std::string rate = tsupport::field(v.substr(v.find("bit_rate=")), "bit_rate");
  const double bits = std::atof(rate.c_str() + (rate[0] == '"' ? 1 : 0));
  EXPECT_NEAR(bits, 3000000.0, 60000.0) << v;
  const std::string a = probe(out, "-select_streams a -show_entries stream=codec_name,sample_rate,bit_rate,id -of flat");
  EXPECT_NE(a.find("codec_name=\"mp2\""), std::string::npos) << a;
  EXPECT_NE(a.find("sample_rate=\"44100\""), std::string::npos) << a;
  EXPECT_NE(a.find("bit_rate=\"128000\""), std::string::npos) << a;
  EXPECT_NE(a.find("id=\"0x102\""), std::string::npos) << a;
  // The save project keeps the program PID too.
  EXPECT_EQ(job.program_pid, 0x100);
  const std::string p = probe(out, "-show_entries program=pmt_pid -of flat");
  EXPECT_NE(p.find("pmt_pid=256\n"), std::string::npos) << p;
  // I pictures every nine frames.
  const std::vector<std::string> types =
      tsupport::split_lines(probe(out, "-select_streams v -show_entries frame=pict_type -of csv=p=0"));
  std::vector<int> at;
  int n = 0;
  for (const std::string& t : types) {
    if (t.empty()) continue;
    if (t[0] == 'I') at.push_back(n);
    ++n;
  }
  ASSERT_GE(at.size(), 3u);
  for (size_t k = 1; k < at.size(); ++k) EXPECT_EQ(at[k] - at[k - 1], 9);
}

// The encoder words of a save project reach the encoder of a save made
// through the editor: a fixed quantiser sets the size of clips re-encoded
// whole, the motion search words change the coding.
TEST(EditorRecord, SaveProjectEncoderWordsReachTheEncoder) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const std::string movie = av_movie();
  ASSERT_FALSE(movie.empty());
  const std::string dir = tsupport::test_dir();
  auto ed = MPEG_Editor::create(movie.c_str(), 0, 0, 0);
  ASSERT_TRUE(ed);
  const auto save = [&](const std::string& name, int q, int search, int mode) {
    EditorRecordData rec;
    editor_record_set_editor(&rec, ed.get());
    rec.output_type = 3;
    rec.video.clip_select = -1;
    rec.video.bit_rate = 3000000;  // another rate than the source's: re-encoded whole
    rec.video.fixed_mquant = q;
    rec.video.fixed_mq_max_bit_rate = q ? 8000000 : 0;
    rec.video.me[0] = rec.video.me[1] = search;
    rec.video.me[2] = mode;
    rec.second_file_name = dir + "/" + name;
    EXPECT_EQ(rec.record(ed.get()), 0);
    return tsupport::read_file(dir + "/" + name);
  };
  const auto plain = save("plain.m2v", 0, 7, 0);
  const auto fine = save("fine.m2v", 2, 7, 0);
  const auto coarse = save("coarse.m2v", 31, 7, 0);
  ASSERT_GT(plain.size(), 0u);
  ASSERT_GT(coarse.size(), 0u);
  EXPECT_GT(fine.size(), 3 * coarse.size());
  EXPECT_FALSE(fine == plain);
  EXPECT_FALSE(save("search.m2v", 0, 1, 0) == plain);
  EXPECT_FALSE(save("mode.m2v", 0, 7, 1) == plain);
}

// The editor's save and the developer tool's save of the same request
// write the same bytes; the project's SVCD flag makes the SVCD stream.
TEST(EditorRecord, ProgramAndSvcdSavesEqualTheDevToolsSave) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const std::string movie = av_movie();
  ASSERT_FALSE(movie.empty());
  const std::string dir = tsupport::test_dir();
  auto ed = MPEG_Editor::create(movie.c_str(), 0, 0, 0);
  ASSERT_TRUE(ed);
  EditorRecordData rec;
  editor_record_set_editor(&rec, ed.get());
  rec.output_type = 6;
  for (int svcd : {0, 1}) {
    SCOPED_TRACE(svcd);
    rec.svcd = svcd;
    const std::string mine = dir + "/editor" + std::to_string(svcd) + ".mpg",
                      theirs = dir + "/dev" + std::to_string(svcd) + ".mpg";
    rec.second_file_name = mine;
    ASSERT_EQ(rec.record(ed.get()), 0);
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("save " + tsupport::sh_quote(movie) + " " + tsupport::sh_quote(theirs) +
                                " --keep 0:49 --kind " + (svcd ? "svcd" : "ps"),
                            &lines),
              0);
    const auto a = tsupport::read_file(mine), b = tsupport::read_file(theirs);
    ASSERT_GT(a.size(), 0u);
    EXPECT_TRUE(a == b);
  }
  EXPECT_FALSE(tsupport::read_file(dir + "/editor0.mpg") == tsupport::read_file(dir + "/editor1.mpg"));
}

// For every output kind and the options a save can take, the editor's
// save of a three-clip movie and the developer tool's save of the same
// ranges write the same bytes.
TEST(EditorRecord, EveryKindAndOptionEqualsTheDevToolsSave) {
  const std::string src = tsupport::fixture("sv_dvd.vob");
  if (!tsupport::missing_fixture({"sv_dvd.vob"}).empty()) GTEST_SKIP() << "fixture missing";
  const std::string dir = tsupport::test_dir();
  MPEG_Clip* head = nullptr;
  MPEG_Clip* tail = nullptr;
  for (auto [a, b] : {std::pair{5, 30}, {50, 62}, {70, 90}}) {
    MPEG_Clip* c = mpeg_clip_of_file(src.c_str(), a, b - a + 1);
    ASSERT_NE(c, nullptr);
    clip_list_link(&head, &tail, c);
  }
  const std::string movie = dir + "/movie.clp";
  const int saved = clip_save(head, movie.c_str());
  mpeg_clip_list_free(head);
  ASSERT_EQ(saved, 3);
  auto ed = MPEG_Editor::create(movie.c_str(), 0, 0, 0);
  ASSERT_TRUE(ed);
  ASSERT_EQ(ed->get_total_frames(), 60);

  struct Case {
    OutputKind kind;
    const char* options;  // the developer tool's
    bool gop_only;
    int ref;
    std::vector<double> gain;
  };
  const Case cases[] = {
      {OutputKind::es, "", false, 0, {}},
      {OutputKind::mpeg1, "", false, 0, {}},
      {OutputKind::vcd, "", false, 0, {}},
      {OutputKind::ps, "", false, 0, {}},
      {OutputKind::svcd, "", false, 0, {}},
      {OutputKind::dvd, "", false, 0, {}},
      {OutputKind::ts, "", false, 0, {}},
      {OutputKind::ps, "--gop-only", true, 0, {}},
      {OutputKind::ts, "--gop-only --ref 1", true, 1, {}},
      {OutputKind::ts, "--ref 2", false, 2, {}},
      {OutputKind::dvd, "--gain 0:1,0.5:0.25,1:1", false, 0, {0, 1, 0.5, 0.25, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(output_kind_name(c.kind)) + " " + c.options);
    const OutputProfile profile = output_profile(c.kind);
    EngineSettings s = ed->engine()->get_settings();
    s.svcd = profile.svcd ? 1 : 0;
    s.dvd = profile.nav_packs ? 1 : 0;
    s.gop_only = c.gop_only ? 1 : 0;
    s.ref_clip = c.ref;
    s.gain = c.gain;
    ed->engine()->set_settings(s);
    const std::string mine = dir + "/editor.out", theirs = dir + "/dev.out";
    int progress = 0;
    ASSERT_EQ(ed->frame_record_range(mine.c_str(), profile.mux_type, 0, 60, &progress), 1);
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("save " + tsupport::sh_quote(src) + " " + tsupport::sh_quote(theirs) +
                                " --keep 5:30,50:62,70:90 --kind " + output_kind_name(c.kind) + " " + c.options,
                            &lines),
              0);
    const auto a = tsupport::read_file(mine), b = tsupport::read_file(theirs);
    ASSERT_GT(a.size(), 0u);
    EXPECT_TRUE(a == b) << a.size() << " " << b.size();
  }
}

TEST(EditorRecord, WithoutEditorNothingIsSavedAndProgressCompletes) {
  EditorRecordData rec;
  rec.second_file_name = tsupport::test_dir() + "/never.mpg";
  JobControl control;
  double last = 0;
  control.set_progress_callback([&last](double p) { last = p; });
  EXPECT_EQ(rec.record(nullptr, &control), 1);
  EXPECT_EQ(rec.progress, 100);
  EXPECT_EQ(last, 100.0);
  // A window waiting on the control sees the save end.
  EXPECT_EQ(control.outcome(), JobOutcome::failed);
}

}  // namespace

namespace {

TEST(EditorRecordSettings, ChromaFormatOnlyForMpeg2AndTheSelectedClipsOwn) {
  EClip project;
  ASSERT_EQ(project.init(tsupport::fixture("en_a.m2v").c_str(), 0), 0);  // 4:2:0
  VideoEncoderData v;
  static_cast<EClip&>(v) = project;
  v.clip_select = 0;
  v.mpeg2_format = 0;
  EXPECT_EQ(v.set_chroma_format(1), 0);
  v.mpeg2_format = 1;
  EXPECT_EQ(v.set_chroma_format(3), 0);
  EXPECT_EQ(v.set_chroma_format(2), 0);  // the clip's GOPs are 4:2:0
  EXPECT_EQ(v.chroma_format, 0);
  EXPECT_EQ(v.set_chroma_format(1), 1);
  EXPECT_EQ(v.chroma_format, 1);
  v.clip_select = -1;
  EXPECT_EQ(v.set_chroma_format(2), 1);
  EXPECT_EQ(v.chroma_format, 2);
}

TEST(EditorRecordSettings, SourceTypeOfATransportClipBringsItsPids) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("ts_m2.ts").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  EditorRecordData rec;
  editor_record_set_editor(&rec, &ed);
  rec.program_pid = rec.video_pid = rec.audio_pid = 0;
  EXPECT_EQ(rec.get_source_type(), 8);
  // ffmpeg's defaults: PMT 0x1000, video 0x100, audio 0x101.
  EXPECT_EQ(rec.program_pid, 0x1000);
  EXPECT_EQ(rec.video_pid, 0x100);
  EXPECT_EQ(rec.audio_pid, 0x101);

  std::unique_ptr<MPEG_Editor> es_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  MPEG_Editor& es = *es_made;
  EditorRecordData other;
  editor_record_set_editor(&other, &es);
  int p = -1, v = -1, a = -1;
  EXPECT_EQ(other.video.get_transport_pids(&p, &v, &a), 0);
  EXPECT_EQ(p, -1);
  EXPECT_EQ(other.get_source_type(), 3);
  EXPECT_EQ(other.video_pid, 17);
}

TEST(EditorRecordSettings, OutputSizeEstimateFollowsTheOutputFamily) {
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str(), 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  EditorRecordData rec;
  editor_record_set_editor(&rec, &ed);
  ASSERT_EQ(rec.count, 75);
  EXPECT_GT(rec.rates.video_es, 0);
  rec.output_type = 3;
  EXPECT_DOUBLE_EQ(rec.estimate_output_size(), double(rec.rates.video_es) * 75);
  rec.output_type = 6;
  EXPECT_DOUBLE_EQ(rec.estimate_output_size(), double(rec.rates.program) * 75);
  rec.output_type = 8;
  EXPECT_DOUBLE_EQ(rec.estimate_output_size(), double(rec.rates.transport) * 75);
  EXPECT_GT(rec.rates.transport, rec.rates.program);
  EXPECT_GT(rec.rates.program, rec.rates.video_es);
  rec.output_type = 7;
  EXPECT_EQ(rec.estimate_output_size(), 0.0);
}

TEST(EditorRecordSettings, VideoOnlyKindsAndSilentMoviesSaveNoAudio) {
  struct Case {
    int kind;
    bool audio_in_list;
    int n_es_after;
    int audio_id_after;
  };
  const Case cases[] = {{2, true, 1, -1}, {3, true, 1, -1}, {6, true, 2, 0xC0}, {8, false, 1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    MPEG_Clip clip;
    clip.audio_stream_count = c.audio_in_list ? 1 : 0;
    clip.audio_stream_id = c.audio_in_list ? 0xC0 : 0;
    RecordData data;
    data.n_es = 2;
    EXPECT_EQ(check_record_data(c.kind, &clip, &data), 0);
    EXPECT_EQ(data.n_es, c.n_es_after);
    EXPECT_EQ(clip.audio_stream_id, c.audio_id_after);
  }
  RecordData none;
  none.n_es = 0;
  EXPECT_EQ(check_record_data(6, nullptr, &none), 1);
}

TEST(EditorRecordSettings, EditScriptTakesKindByName) {
  const std::string dir = tsupport::test_dir();
  const std::string script = dir + "/ops.txt";
  std::ofstream(script) << "record " << dir << "/by_name.m2v es 0 30\nrecord " << dir << "/by_number.m2v 3 0 30\n";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("edit " + tsupport::sh_quote(tsupport::fixture("en_a.m2v")) + " --script " +
                              tsupport::sh_quote(script),
                          &lines),
            0);
  const auto a = tsupport::read_file(dir + "/by_name.m2v");
  ASSERT_GT(a.size(), 0u);
  EXPECT_TRUE(a == tsupport::read_file(dir + "/by_number.m2v"));
  std::ofstream(script) << "record " << dir << "/bad.m2v mpeg4 0 30\n";
  EXPECT_NE(tsupport::dev("edit " + tsupport::sh_quote(tsupport::fixture("en_a.m2v")) + " --script " +
                              tsupport::sh_quote(script),
                          &lines),
            0);
}

}  // namespace

namespace {

// A refused cut or insert leaves the working list as it was (and the frame
// shown).
TEST(EditorEdits, RefusedCutOrInsertLeavesTheListUnchanged) {
  auto ed = MPEG_Editor::create(tsupport::fixture("en_a.m2v").c_str());
  ASSERT_TRUE(ed);
  ASSERT_EQ(ed->frame_cut(20, 10), 1);  // two clips
  DTamsel* e = ed->engine();
  e->search(33, 0, 0);
  MPEG_Clip* before = clip_list_duplicate(e->get_clip_list());
  const int total = e->get_total_frames();
  struct Cut {
    int start, count;
  };
  for (const Cut& c : {Cut{-1, 5}, Cut{10, 1000}, Cut{total, 1}, Cut{0, -3}}) {
    SCOPED_TRACE(testing::Message() << "cut " << c.start << " " << c.count);
    EXPECT_EQ(e->cut(c.start, c.count), 0);
    EXPECT_EQ(mpeg_clip_list_differs(before, e->get_clip_list()), 0);
  }
  struct Insert {
    int frame, effect, length;
  };
  for (const Insert& c : {Insert{-5, 0, 0}, Insert{-1, 4, 5}}) {
    SCOPED_TRACE(testing::Message() << "insert " << c.frame << " " << c.effect << " " << c.length);
    MPEG_Clip* inserted = mpeg_clip_of_file(tsupport::fixture("en_b.m2v").c_str(), 0, 12);
    ASSERT_NE(inserted, nullptr);
    if (e->paste(inserted, c.frame, c.effect, c.length)) {
      ADD_FAILURE() << "taken";
    } else {
      mpeg_clip_list_free(inserted);
    }
    EXPECT_EQ(mpeg_clip_list_differs(before, e->get_clip_list()), 0);
  }
  EXPECT_EQ(e->paste(nullptr, 0, 0, 0), 0);
  // The facade's own range checks refuse before the engine is asked.
  EXPECT_EQ(ed->frame_cut(0, total + 1), 0);
  EClip b;
  ASSERT_EQ(b.init(tsupport::fixture("en_b.m2v").c_str(), 0), 0);
  EXPECT_EQ(ed->frame_paste(b, -1), 0);
  EXPECT_EQ(mpeg_clip_list_differs(before, e->get_clip_list()), 0);
  EXPECT_EQ(e->get_total_frames(), total);
  EXPECT_EQ(e->get_curr_frame_offset(), 33);
  mpeg_clip_list_free(before);
}

}  // namespace
