// The DeMultiplexer's rules: stream kinds, default names, the outputs'
// disk check, and extractions through its job compared with ffmpeg's.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/shell/editor_settings.h"
#include "app/tools/demultiplexer.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(DemuxRules, StreamKindsAndNames) {
  const struct {
    int id, pid;
    DemuxStreamKind kind;
  } kinds[] = {
      {224, 0, DemuxStreamKind::video}, {239, 0, DemuxStreamKind::video}, {240, 0, DemuxStreamKind::none},
      {192, 0, DemuxStreamKind::audio}, {223, 0, DemuxStreamKind::audio}, {128, 0, DemuxStreamKind::audio},
      {135, 0, DemuxStreamKind::audio}, {136, 0, DemuxStreamKind::none},  {160, 0, DemuxStreamKind::audio},
      {167, 0, DemuxStreamKind::audio}, {189, 0, DemuxStreamKind::none},  {189, 33, DemuxStreamKind::audio},
      {190, 0, DemuxStreamKind::none},
  };
  for (const auto& k : kinds) EXPECT_EQ(demux_stream_kind(k.id, k.pid), k.kind) << k.id << "/" << k.pid;
  EXPECT_EQ(demux_default_name("/a/b.vob", "mpv"), "/a/b.mpv");
  EXPECT_EQ(demux_default_name("/a.d/b", "mpa"), "/a.d/b.mpa");
  EXPECT_EQ(demux_default_name("/a/b.c.ts", "mpv"), "/a/b.c.mpv");
  EXPECT_STREQ(demux_format_text(8), "MPEG-2 Transport");
  EXPECT_STREQ(demux_format_text(3), "Unknown Format");
}

TEST(DemuxRules, OutputCheck) {
  const std::vector<Volume> disks = {{"/", 100.0}, {"/media", 50.0}};
  struct Case {
    const char* name;
    DemuxOutputPlace place;
    double v, a;
    bool ignore;
    bool pass, drop_video, drop_audio;
    int select;
    std::vector<int> warned;
  };
  const Case cases[] = {
      {"no outputs", {-2, -2}, 10, 10, false, false, false, false, -1, {}},
      {"both unlisted", {-1, -1}, 1e9, 1e9, false, true, false, false, -1, {}},
      {"one unlisted, other unusable", {-1, -2}, 1e9, 0, false, true, false, false, -1, {}},
      {"same disk, fits together", {0, 0}, 60, 40, false, true, false, false, 0, {}},
      {"same disk, together too big", {0, 0}, 60, 41, false, false, false, false, -1, {0}},
      {"same disk, too big, Ignore", {0, 0}, 60, 41, true, true, false, false, 0, {0}},
      {"two disks, each fits", {0, 1}, 90, 50, false, true, false, false, 1, {}},
      {"video too big", {1, 0}, 51, 1, false, false, true, false, -1, {1}},
      {"audio too big", {0, 1}, 1, 51, false, false, false, true, 0, {1}},
      {"video only, listed", {0, -2}, 100, 0, false, true, false, false, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DemuxCheck r = demux_output_check(c.place, c.v, c.a, disks, [&](int) { return c.ignore; });
    EXPECT_EQ(r.pass, c.pass);
    EXPECT_EQ(r.drop_video, c.drop_video);
    EXPECT_EQ(r.drop_audio, c.drop_audio);
    EXPECT_EQ(r.select, c.select);
    EXPECT_EQ(r.warned, c.warned);
  }
}

void run_job(Demultiplexer& d) {
  while (d.busy()) {
    d.job().poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::vector<uint8_t> with_end_code(std::vector<uint8_t> v) {
  const uint8_t end[4] = {0, 0, 1, 0xB7};
  if (v.size() < 4 || !std::equal(end, end + 4, v.end() - 4)) v.insert(v.end(), end, end + 4);
  return v;
}

TEST(Demultiplexer, ExtractsWhatFfmpegCopies) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob", "cv_mp2.ts");
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  for (const char* source : {"cv_dvd.vob", "cv_mp2.ts"}) {
    SCOPED_TRACE(source);
    FakePlatform fake;
    Demultiplexer d;
    const std::string in = test_dir() + "/" + source;
    std::filesystem::copy_file(fixture(source), in, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(d.load(in));
    ASSERT_EQ(d.video().size(), 1u);
    ASSERT_EQ(d.audio().size(), 1u);
    // Default names beside the input.
    EXPECT_EQ(d.video_output(), demux_default_name(in, "mpv"));
    EXPECT_EQ(d.audio_output(), demux_default_name(in, "mpa"));
    EXPECT_GT(d.estimate(), 0.0);
    ASSERT_TRUE(d.save());
    EXPECT_FALSE(d.save());
    run_job(d);
    EXPECT_EQ(d.last_outcome(), JobOutcome::done);
    EXPECT_TRUE(d.video_output().empty());
    EXPECT_EQ(ToolJob::live_count(), 0);

    const std::string ref_v = test_dir() + "/ref.m2v", ref_a = test_dir() + "/ref.mp2";
    ASSERT_EQ(run("ffmpeg -v error -y -i " + sh_quote(in) + " -map 0:v -c copy -f mpeg2video " + sh_quote(ref_v) +
                  " -map 0:a -c copy -f mp2 " + sh_quote(ref_a)),
              0);
    EXPECT_TRUE(with_end_code(read_file(demux_default_name(in, "mpv"))) == with_end_code(read_file(ref_v)));
    EXPECT_TRUE(read_file(demux_default_name(in, "mpa")) == read_file(ref_a));
  }
}

TEST(Demultiplexer, RefusalsAndBadInput) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  FakePlatform fake;
  Demultiplexer d;
  const std::string junk = test_dir() + "/junk.mpg";
  write_file(junk, std::vector<uint8_t>(5000, 0x47));
  EXPECT_FALSE(d.load(junk));
  EXPECT_EQ(fake.prompter.last_text(), "<" + junk + ">: is NOT an MPEG system file");
  // An input named like its default output gets no default output.
  const std::string in = test_dir() + "/x.mpv";
  std::filesystem::copy_file(fixture("cv_dvd.vob"), in);
  ASSERT_TRUE(d.load(in));
  EXPECT_TRUE(d.video_output().empty());
  EXPECT_FALSE(d.set_video_output(in));
  // A bad second input leaves the first in place.
  EXPECT_FALSE(d.load(junk));
  EXPECT_EQ(d.input_name(), in);
  EXPECT_EQ(d.video().size(), 1u);
}

TEST(Demultiplexer, StopYesRemovesOutputsAndCloseWaitsForTheJob) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  FakePlatform fake;
  {
    Demultiplexer d;
    const std::string in = test_dir() + "/s.vob";
    std::filesystem::copy_file(fixture("cv_dvd.vob"), in);
    ASSERT_TRUE(d.load(in));
    ASSERT_TRUE(d.save());
    d.job().control().pause();
    d.job().poll();
    auto* view = dynamic_cast<ProgressStandIn*>(d.job().view());
    ASSERT_NE(view, nullptr);
    fake.prompter.answers = {PromptAnswer::Yes};
    view->press_stop();
    run_job(d);
    EXPECT_EQ(d.last_outcome(), JobOutcome::stopped);
    EXPECT_FALSE(std::filesystem::exists(demux_default_name(in, "mpv")));
    EXPECT_FALSE(std::filesystem::exists(demux_default_name(in, "mpa")));
    EXPECT_TRUE(d.save_enabled());  // offered again once the job has ended

    // Close during a job: OK stops it; the window goes after the join.
    bool ready = false;
    d.on_close_ready = [&] { ready = true; };
    ASSERT_TRUE(d.save());
    d.job().control().pause();
    fake.prompter.answers = {PromptAnswer::Ok};
    EXPECT_FALSE(d.close());
    EXPECT_EQ(fake.prompter.last_text(), kStopCurrentProcess);
    EXPECT_FALSE(ready);
    run_job(d);
    EXPECT_TRUE(ready);
    EXPECT_TRUE(d.close());
  }
  EXPECT_EQ(ToolJob::live_count(), 0);
}

}  // namespace
