// The Multiplexer's rules over a recording engine (estimates, radios, the
// options handed over at every start in their order) and one run over
// the real engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/shell/editor_settings.h"
#include "app/tools/multiplexer.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

using namespace tsupport;

struct RecordingEngine : MuxEngine {
  std::vector<std::string>* log;
  double sizes[5] = {0, 5e6, 5e6, 5e6, 5e6};
  int vcd = 1, svcd = 1, vbr_videos = 0;
  explicit RecordingEngine(std::vector<std::string>* l) : log(l) {}
  void put(const std::string& s) { log->push_back(s); }
  int add_es(const std::string&) override { return 1; }
  int remove_es(const std::string& n) override {
    put("remove " + std::filesystem::path(n).filename().string());
    return 1;
  }
  int estimate_sizes(double out[5]) override {
    std::copy(sizes, sizes + 5, out);
    return 1;
  }
  int is_vcd_compliant() override { return vcd; }
  int is_svcd_compliant() override { return svcd; }
  int count_vbr_video() override { return vbr_videos; }
  void set_minimize_size(int on) override { put("minimize " + std::to_string(on)); }
  void set_vbr(int on) override { put("vbr " + std::to_string(on)); }
  void set_pmt_pid(int p) override { put("pmt " + std::to_string(p)); }
  void set_video_pid(int p) override { put("video " + std::to_string(p)); }
  void set_audio_pid(int p) override { put("audio " + std::to_string(p)); }
  void set_svcd(int on) override { put("svcd " + std::to_string(on)); }
  void set_audio_offset(int64_t ms) override { put("offset " + std::to_string(ms)); }
  void run(const std::string&, int format, JobControl* c) override {
    c->set_progress(100);
    c->finish(JobOutcome::done);
    log_run = format;
  }
  std::atomic<int> log_run{0};
};

void run_job(Multiplexer& m) {
  while (m.busy()) {
    m.job().poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

struct Rig {
  FakePlatform fake;
  std::vector<std::string> log;
  RecordingEngine* engine = nullptr;
  std::unique_ptr<Multiplexer> mux;
  explicit Rig(int format = 1) {
    editor_settings() = EditorSettings();
    editor_settings().muxer_type = format;
    auto e = std::make_unique<RecordingEngine>(&log);
    engine = e.get();
    mux = std::make_unique<Multiplexer>(std::move(e));
  }
  ~Rig() { editor_settings() = EditorSettings(); }
};

TEST(Multiplexer, OptionsGoToTheEngineAtEveryStartInTheirOrder) {
  TSUPPORT_NEED_FIXTURES("pm_m2.m2v", "pm_a48.mp2");
  struct Case {
    const char* name;
    int format;
    bool svcd;
    int vbr_videos;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"transport, VBR video", 4, false, 1, {"minimize 0", "vbr 1", "pmt 64", "video 32", "audio 33", "svcd 0"}},
      {"SVCD", 3, true, 0, {"minimize 0", "svcd 1"}},
      {"plain program, minimized", 3, false, 0, {"minimize 1", "svcd 0"}},
      {"MPEG-1", 1, false, 0, {"minimize 1", "svcd 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r(c.format);
    r.engine->vbr_videos = c.vbr_videos;
    r.mux->set_minimize(true);
    ASSERT_TRUE(r.mux->add_video(fixture("pm_m2.m2v")));
    ASSERT_TRUE(r.mux->add_audio(fixture("pm_a48.mp2")));
    r.mux->set_format(c.format, c.svcd);
    EXPECT_EQ(r.mux->minimize_enabled(), c.format == 1 || (c.format == 3 && !c.svcd));
    ASSERT_TRUE(r.mux->set_output(test_dir() + "/out.mpg"));
    r.log.clear();
    ASSERT_TRUE(r.mux->save());
    run_job(*r.mux);
    EXPECT_EQ(r.engine->log_run.load(), c.format);
    // After success the inputs go: the video, then each audio.
    std::vector<std::string> want = c.calls;
    want.push_back("remove pm_m2.m2v");
    want.push_back("remove pm_a48.mp2");
    EXPECT_EQ(r.log, want);
    EXPECT_TRUE(r.mux->video().empty());
    EXPECT_TRUE(r.mux->output().empty());
  }
}

TEST(Multiplexer, EstimatesMoveAndDisableFormats) {
  TSUPPORT_NEED_FIXTURES("pm_m2.m2v");
  {
    Rig r(2);
    r.engine->sizes[2] = 1.0;  // exactly 1.0: stays chosen, radio off
    ASSERT_TRUE(r.mux->add_video(fixture("pm_m2.m2v")));
    EXPECT_EQ(r.mux->format(), 2);
    EXPECT_FALSE(r.mux->format_enabled(2));
  }
  {
    Rig r(2);
    r.engine->sizes[2] = 0.5;
    r.engine->sizes[1] = 0.0;
    ASSERT_TRUE(r.mux->add_video(fixture("pm_m2.m2v")));
    EXPECT_EQ(r.mux->format(), 3);  // MPEG-1 not offered either
    EXPECT_FALSE(r.mux->format_enabled(1));
  }
  {
    Rig r(1);
    r.engine->svcd = 0;
    ASSERT_TRUE(r.mux->add_video(fixture("pm_m2.m2v")));
    EXPECT_FALSE(r.mux->format_enabled(3, true));
    EXPECT_TRUE(r.mux->format_enabled(3));
    // The default output beside the video.
    EXPECT_EQ(r.mux->output(), mux_default_output(fixture("pm_m2.m2v")));
  }
}

TEST(Multiplexer, ProbesAndRefusals) {
  TSUPPORT_NEED_FIXTURES("pm_m2.m2v", "pm_a48.mp2");
  Rig r;
  const std::string junk = test_dir() + "/junk.bin";
  write_file(junk, std::vector<uint8_t>(4000, 0x11));
  EXPECT_FALSE(r.mux->add_video(junk));
  EXPECT_EQ(r.fake.prompter.last_text(), junk + "\n" + kNotMpeg + "\n\n");
  EXPECT_FALSE(r.mux->add_video(fixture("pm_a48.mp2")));
  EXPECT_EQ(r.fake.prompter.last_text(), fixture("pm_a48.mp2") + "\n" + kNotVideoEs + "\n\n");
  EXPECT_FALSE(r.mux->add_audio(fixture("pm_m2.m2v")));
  EXPECT_EQ(r.fake.prompter.last_text(), fixture("pm_m2.m2v") + "\n" + kNotAudioEs + "\n\n");
  ASSERT_TRUE(r.mux->add_audio(fixture("pm_a48.mp2")));
  EXPECT_FALSE(r.mux->add_audio(fixture("pm_a48.mp2")));
  EXPECT_EQ(r.fake.prompter.last_text(), "File: " + fixture("pm_a48.mp2") + "\nhas already been selected");
  EXPECT_EQ(r.mux->audios().size(), 1u);
  EXPECT_FALSE(r.mux->save());
  EXPECT_EQ(r.fake.prompter.last_text(), kNoOutputFile);
  ASSERT_TRUE(r.mux->set_output(test_dir() + "/o.mpg"));
  EXPECT_FALSE(r.mux->save());
  EXPECT_EQ(r.fake.prompter.last_text(), kNoInputVideo);
  // A video named like its default output gets none.
  const std::string mpg = test_dir() + "/v.mpg";
  std::filesystem::copy_file(fixture("pm_m2.m2v"), mpg);
  Rig r2;
  ASSERT_TRUE(r2.mux->add_video(mpg));
  EXPECT_TRUE(r2.mux->output().empty());
  // The A/V offset goes over negated.
  ASSERT_TRUE(r2.mux->add_audio(fixture("pm_a48.mp2")));
  r2.mux->set_audio_offset(100);
  EXPECT_EQ(r2.log.back(), "offset -100");
}

TEST(Multiplexer, RealEngineWritesAProgramStreamFfprobeReads) {
  TSUPPORT_NEED_FIXTURES("pm_m2.m2v", "pm_a48.mp2");
  if (!have_program("ffprobe")) GTEST_SKIP() << "ffprobe missing";
  FakePlatform fake;
  editor_settings() = EditorSettings();
  editor_settings().muxer_type = 3;
  Multiplexer m;
  ASSERT_TRUE(m.add_video(fixture("pm_m2.m2v")));
  ASSERT_TRUE(m.add_audio(fixture("pm_a48.mp2")));
  const std::string out = test_dir() + "/real.mpg";
  ASSERT_TRUE(m.set_output(out));
  ASSERT_TRUE(m.save());
  run_job(m);
  EXPECT_EQ(m.last_outcome(), JobOutcome::done);
  std::string probed;
  run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + sh_quote(out), &probed);
  EXPECT_NE(probed.find("mpeg2video"), std::string::npos) << probed;
  EXPECT_NE(probed.find("mp2"), std::string::npos) << probed;
  EXPECT_NE(probed.find("dvd_nav_packet"), std::string::npos) << probed;  // DVD video: a DVD title
  EXPECT_EQ(ToolJob::live_count(), 0);
  editor_settings() = EditorSettings();
}

TEST(Multiplexer, MinimizeCautionShownForProgramStreamsUntilTurnedOff) {
  Rig r(3);
  EXPECT_FALSE(r.mux->set_minimize(false));
  EXPECT_TRUE(r.mux->set_minimize(true));
  EXPECT_EQ(editor_settings().select_min_size, 1);
  CCompatCautionDlg caution;
  r.mux->caution_closed(caution);
  EXPECT_TRUE(r.mux->set_minimize(true));  // box left unchecked: shown again
  caution.dont_show_again = 1;
  r.mux->caution_closed(caution);
  EXPECT_EQ(editor_settings().show_min_size_info, 0);
  EXPECT_FALSE(r.mux->set_minimize(true));
  Rig mpeg1(1);
  EXPECT_FALSE(mpeg1.mux->set_minimize(true));  // no caution for MPEG-1
}

TEST(Multiplexer, AvSyncOffsetReachesTheEngineNegatedAndTheRangeIsKept) {
  Rig r;
  editor_settings().av_sync_range = 3000;
  AVSyncSetting s = r.mux->av_sync();
  EXPECT_EQ(s.range_ms, 3000);
  EXPECT_EQ(s.offset_ms, 0);
  // The dialog's own rules on the record, then Done.
  CAVSyncDlg dialog(&s);
  dialog.set_range_text("5");
  dialog.set_offset_text("-0.250");
  ASSERT_TRUE(dialog.done());
  r.log.clear();
  r.mux->take_av_sync(s);
  EXPECT_EQ(r.log, (std::vector<std::string>{"offset 250"}));
  EXPECT_EQ(r.mux->audio_offset(), -250);
  EXPECT_EQ(editor_settings().av_sync_range, 5000);
  EXPECT_EQ(r.mux->av_sync().offset_ms, -250);
}

TEST(Multiplexer, OutputDiskShortOfSpaceStopsTheSaveUnlessIgnored) {
  TSUPPORT_NEED_FIXTURES("pm_m2.m2v");
  const std::string dir = test_dir();
  for (const PromptAnswer answer : {PromptAnswer::Abort, PromptAnswer::Ignore}) {
    Rig r(1);
    r.fake.disk.volume_list = {{dir, 1e6}};
    r.fake.disk.free[dir] = 1e6;  // below the 5 MB estimate
    ASSERT_TRUE(r.mux->add_video(fixture("pm_m2.m2v")));
    ASSERT_TRUE(r.mux->set_output(dir + "/out.mpg"));
    ASSERT_EQ(r.mux->disks().size(), 1u);
    // Told when the name is chosen; it counts only at Save.
    EXPECT_NE(r.fake.prompter.last_text().find("may not have enough space"), std::string::npos);
    r.fake.prompter.shown.clear();
    r.fake.prompter.answers = {answer};
    EXPECT_EQ(r.mux->save(), answer == PromptAnswer::Ignore);
    ASSERT_EQ(r.fake.prompter.shown.size(), 1u);
    EXPECT_EQ(r.fake.prompter.shown[0].buttons, PromptButtons::AbortRetryIgnore);
    run_job(*r.mux);
    EXPECT_EQ(r.engine->log_run.load(), answer == PromptAnswer::Ignore ? 1 : 0);
  }
}

}  // namespace
