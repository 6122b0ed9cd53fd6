// The convertor's rules over the real engine: the Select PID rules, the
// input's lists and caption, the format moves of the estimates, the PIDs
// the output rows show, and conversions through the window's job judged
// by ffprobe.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "app/shell/editor_settings.h"
#include "app/tools/stream_convertor.h"
#include "ffmpeg_oracle.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(SelectPid, ShownAndAcceptedValues) {
  // Opening: PIDs on the PMT's are moved off it.
  EXPECT_EQ(select_pid_shown({64, 64, 65}), (TransportPids{64, 66, 65}));
  EXPECT_EQ(select_pid_shown({64, 32, 33}), (TransportPids{64, 32, 33}));
  EXPECT_EQ(select_pid_shown({64, 40, 64}), (TransportPids{64, 40, 41}));
  struct Case {
    const char *pmt, *video, *audio;
    TransportPids want;
  };
  const TransportPids cur{64, 32, 33};
  const Case cases[] = {
      {"64", "64", "64", {64, 32, 33}},       // all on the PMT's: nothing moves
      {"15", "16", "8190", {64, 16, 8190}},   // 15 is below the range
      {"8191", "8190", "8191", {64, 8190, 33}},
      {"100", "100", "33", {100, 32, 33}},    // video typed on the new PMT
      {"32", "x", "", {32, 33, 34}},          // the PMT takes the video's: both move on
      {"70", "33", "33", {70, 33, 34}},       // audio on the new video moves past it
      {"", "", "", {64, 32, 33}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pmt) + "/" + c.video + "/" + c.audio);
    EXPECT_EQ(select_pid_accept(cur, c.pmt, c.video, c.audio), c.want);
  }
  // Never past the range when it moves.
  EXPECT_EQ(select_pid_accept({64, 8189, 8190}, "", "8190", ""), (TransportPids{64, 8190, 16}));
}

TEST(ConvertorModel, TypesAndFormats) {
  const int types[][2] = {{4, 1}, {5, 2}, {6, 3}, {8, 4}, {3, 5}, {0, 5}};
  for (const auto& t : types) EXPECT_EQ(convertor_input_format(t[0]), t[1]);
  const int codes[][2] = {{1, 4}, {2, 5}, {3, 6}, {4, 8}, {7, 4}};
  for (const auto& c : codes) EXPECT_EQ(convertor_stream_type(c[0]), c[1]);
}

struct Rig {
  FakePlatform fake;
  Rig() {
    editor_settings().muxer_type = 2;
    editor_settings().pmt_pid = 64;
    editor_settings().video_pid = 32;
    editor_settings().audio_pid = 33;
  }
  // Polls the job until it is over, as the window's timer does.
  static void run_job(StreamConvertor& c) {
    while (c.busy()) {
      c.job().poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
};

TEST(ConvertorModel, LoadsListsAndMovesTheFormatWithTheEstimates) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob", "cv_vcd.mpg", "cv_5.ts");
  Rig r;
  StreamConvertor c;
  EXPECT_EQ(c.format(), 2);
  const std::string missing = temp_dir() + "/no_such.vob";
  EXPECT_FALSE(c.load(missing));
  EXPECT_EQ(r.fake.prompter.last_text(), "<" + missing + ">: is NOT an MPEG Systems file");

  ASSERT_TRUE(c.load(fixture("cv_dvd.vob")));
  EXPECT_EQ(c.input_format(), 3);
  ASSERT_EQ(c.input_rows().size(), 2u);
  EXPECT_EQ(c.input_rows()[0].stream_id, 224);
  EXPECT_EQ(c.group_caption().rfind("MPEG-2 Program Stream (size=", 0), 0u) << c.group_caption();
  EXPECT_NE(c.group_caption().find(", length="), std::string::npos);

  // A bad file leaves the loaded one in place.
  EXPECT_FALSE(c.load(missing));
  EXPECT_EQ(c.input_name(), fixture("cv_dvd.vob"));

  // MPEG-2 video: no Video CD and no MPEG-1 system stream; the choice moves to 3.
  ASSERT_TRUE(c.add_all());
  EXPECT_EQ(c.format(), 3);
  EXPECT_FALSE(c.format_enabled(2));
  EXPECT_FALSE(c.format_enabled(1));
  EXPECT_TRUE(c.format_enabled(4));
  EXPECT_GT(c.estimate(3), 1.0);
  EXPECT_EQ(c.video_count(), 1);
  ASSERT_TRUE(c.remove(0));
  EXPECT_EQ(c.video_count(), 0);
  EXPECT_EQ(c.input_rows().size(), 1u);

  // Video CD source: every format is offered again.
  ASSERT_TRUE(c.load(fixture("cv_vcd.mpg")));
  ASSERT_TRUE(c.add_all());
  EXPECT_TRUE(c.format_enabled(1));
  EXPECT_TRUE(c.format_enabled(2));
  c.set_format(2);
  EXPECT_EQ(c.format(), 2);
  EXPECT_STREQ(c.output_extension(), "dat");

  // Transport source: the dialog takes its PIDs; the rows show the writer's.
  ASSERT_TRUE(c.load(fixture("cv_5.ts")));
  c.set_format(4);
  ASSERT_TRUE(c.add_all());
  c.set_pids({64, 32, 33});
  std::set<std::string> shown;
  for (int i = 0; i < int(c.output_rows().size()); ++i) shown.insert(c.output_pid_text(i));
  EXPECT_EQ(shown.size(), c.output_rows().size());
  EXPECT_EQ(shown.count("64"), 0u);
}

TEST(ConvertorModel, ConvertRefusals) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  Rig r;
  StreamConvertor c;
  ASSERT_TRUE(c.load(fixture("cv_dvd.vob")));
  ASSERT_TRUE(c.add(1));  // the audio only
  EXPECT_FALSE(c.convert());
  EXPECT_EQ(r.fake.prompter.last_text(), kIncompleteOutput);
  ASSERT_TRUE(c.add(0));
  EXPECT_FALSE(c.convert());
  EXPECT_EQ(r.fake.prompter.last_text(), kNoOutputSelection);
  // The input itself is no output.
  r.fake.prompter.shown.clear();
  EXPECT_FALSE(c.choose_output(fixture("cv_dvd.vob")));
  EXPECT_FALSE(r.fake.prompter.shown.empty());
  EXPECT_TRUE(c.output_name().empty());
}

struct ConvertCase {
  const char* source;
  int format;
  const char* probe_format;
  const char* codecs;  // codec names ffprobe lists, in stream order
};

TEST(ConvertorModel, ConvertsThroughTheJobAndFfprobeAgrees) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob", "cv_vcd.mpg");
  if (!have_program("ffprobe")) GTEST_SKIP() << "ffprobe missing";
  const ConvertCase cases[] = {
      {"cv_dvd.vob", 4, "mpegts", "mpeg2video,mp2"},
      {"cv_dvd.vob", 3, "mpeg", "mpeg2video,mp2"},
      {"cv_vcd.mpg", 1, "mpeg", "mpeg1video,mp2"},
      {"cv_vcd.mpg", 2, "mpeg", "mpeg1video,mp2"},
  };
  for (const ConvertCase& k : cases) {
    SCOPED_TRACE(std::string(k.source) + " format " + std::to_string(k.format));
    Rig r;
    StreamConvertor c;
    ASSERT_TRUE(c.load(fixture(k.source)));
    ASSERT_TRUE(c.add_all());
    c.set_format(k.format);
    ASSERT_EQ(c.format(), k.format);
    const std::string out = temp_dir() + "/conv_" + std::to_string(k.format) + "." + c.output_extension();
    ASSERT_TRUE(c.choose_output(out));
    std::vector<std::string> pids;
    for (int i = 0; i < int(c.output_rows().size()); ++i) pids.push_back(c.output_pid_text(i));
    ASSERT_TRUE(c.convert());
    EXPECT_FALSE(c.convert());  // one job at a time
    EXPECT_FALSE(c.add_all());  // inputs locked during the job
    Rig::run_job(c);
    EXPECT_EQ(c.last_outcome(), JobOutcome::done);
    EXPECT_TRUE(c.output_name().empty());  // the next conversion needs a new name
    EXPECT_EQ(ToolJob::live_count(), 0);

    std::string format, probed;
    run("ffprobe -v error -show_entries format=format_name -of csv=p=0 " + sh_quote(out), &format);
    EXPECT_NE(format.find(k.probe_format), std::string::npos) << format;
    // Streams by index (a transport stream's programs list them again).
    run("ffprobe -v error -show_entries stream=index,codec_name,id -of csv=p=0 " + sh_quote(out), &probed);
    std::map<std::string, std::string> by_index;
    for (const std::string& l : split_lines(probed))
      if (l.find(',') != std::string::npos) by_index[l.substr(0, l.find(','))] = l.substr(l.find(',') + 1);
    std::string codecs;
    for (const auto& [index, rest] : by_index) codecs += (codecs.empty() ? "" : ",") + rest.substr(0, rest.find(','));
    EXPECT_EQ(codecs, k.codecs) << probed;
    if (k.format == 4) {
      // The PIDs the rows showed are the ones written.
      EXPECT_EQ(pids, (std::vector<std::string>{"32", "33"}));
      EXPECT_NE(probed.find("0x20"), std::string::npos) << probed;
      EXPECT_NE(probed.find("0x21"), std::string::npos) << probed;
    }
    if (k.format == 2) {
      // Video CD: every pack 2324 bytes (pack start codes 2324 apart).
      const std::vector<uint8_t> bytes = read_file(out);
      ASSERT_GT(bytes.size(), 2324u);
      EXPECT_EQ(bytes.size() % 2324, 0u);
      for (size_t at = 0; at + 4 <= bytes.size(); at += 2324) {
        ASSERT_TRUE(bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 && bytes[at + 3] == 0xBA) << at;
      }
    }
    EXPECT_EQ(ffmpeg_strict_messages(out), "");
  }
}

TEST(ConvertorModel, StopYesLeavesNoOutputStopNoOneFfprobeOpens) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  for (const PromptAnswer answer : {PromptAnswer::Yes, PromptAnswer::No}) {
    Rig r;
    StreamConvertor c;
    ASSERT_TRUE(c.load(fixture("cv_dvd.vob")));
    ASSERT_TRUE(c.add_all());
    c.set_format(3);
    const std::string out = temp_dir() + "/stop_" + std::to_string(int(answer)) + ".mpg";
    ASSERT_TRUE(c.choose_output(out));
    // Pause at once so the stop lands mid-job.
    ASSERT_TRUE(c.convert());
    c.job().control().pause();
    c.job().poll();
    auto* view = dynamic_cast<ProgressStandIn*>(c.job().view());
    ASSERT_NE(view, nullptr);
    r.fake.prompter.answers = {answer};
    view->press_stop();
    Rig::run_job(c);
    EXPECT_NE(c.last_outcome(), JobOutcome::done);
    EXPECT_EQ(c.output_name(), out);  // Convert is offered again
    if (answer == PromptAnswer::Yes) {
      EXPECT_FALSE(std::filesystem::exists(out));
    } else if (std::filesystem::exists(out) && std::filesystem::file_size(out) > 0) {
      EXPECT_EQ(run("ffprobe -v error " + sh_quote(out) + " >/dev/null 2>&1"), 0);
    }
  }
}

}  // namespace
