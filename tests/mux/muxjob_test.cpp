// The Multiplexer tool's job: stream ids and PIDs as the dialog sets them,
// refusals, and runs through tamsel-dev muxjob read back by the test tree's
// transport reader and ffprobe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "mux/muxjob.h"
#include "support/support.h"
#include "tsmux_reader.h"

namespace {

using namespace tsupport;

std::string fx(const char* name) { return fixture(name); }

// An audio-first list still finds its video (the job picks it by kind), and
// the PIDs come from the bases, 16 apart.
TEST(MUXer, TransportPidsFromTheBasesWithAudioListedFirst) {
  const std::string out = temp_dir() + "/muxjob_bases.ts";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("muxjob " + sh_quote(out) + " --format 4 --video-pid 100 --audio-pid 200 " + sh_quote(fx("pm_a48.mp2")) +
                    " " + sh_quote(fx("pm_m2.m2v")) + " " + sh_quote(fx("pm_a.ac3")),
                &lines),
            0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(field(lines.back(), "status"), "done");
  EXPECT_EQ(field(lines.back(), "type"), "8");
  const tsr::File f = tsr::read(read_file(out));
  ASSERT_EQ(f.error, "");
  std::set<int> pids;
  for (const tsr::EsInfo& e : f.streams) pids.insert(e.pid);
  EXPECT_EQ(pids, (std::set<int>{100, 200, 216}));
  EXPECT_EQ(f.pcr_pid, 100);
  EXPECT_EQ(f.pmt_pid, 16);
}

TEST(MUXer, FormatSevenWritesAnMpeg2ProgramStream) {
  const std::string out = temp_dir() + "/muxjob_f7.mpg";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("muxjob " + sh_quote(out) + " --format 7 " + sh_quote(fx("pm_m2.m2v")) + " " + sh_quote(fx("pm_a48.mp2")),
                &lines),
            0);
  EXPECT_EQ(field(lines.back(), "type"), "6");
  const std::vector<uint8_t> d = read_file(out);
  ASSERT_GT(d.size(), 14u);
  EXPECT_EQ(d[3], 0xBA);
  EXPECT_EQ(d[4] >> 6, 1);  // the MPEG-2 pack header
}

TEST(MUXer, AFailedRunReportsFailure) {
  std::vector<std::string> lines;
  EXPECT_NE(dev("muxjob /nonexistent-dir/x.mpg --format 3 " + sh_quote(fx("pm_m2.m2v")), &lines), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(field(lines.back(), "status"), "failed");
}

TEST(MUXer, SameFileTwiceIsRefused) {
  MUXer m;
  EXPECT_EQ(m.add_es(fx("pm_m2.m2v").c_str(), 0, 0), 1);
  EXPECT_EQ(m.add_es(fx("pm_m2.m2v").c_str(), 0, 0), 0);
  EXPECT_EQ(m.add_es("", 0, 0), 0);
  EXPECT_EQ(m.add_es((temp_dir() + "/no-such-file.m2v").c_str(), 0, 0), 0);
  EXPECT_EQ(m.count(), 1);
  EXPECT_EQ(m.remove_es(fx("pm_m2.m2v").c_str(), 0), 1);
  EXPECT_EQ(m.count(), 0);
}

// Base PIDs are checked with every PID they give, not only against each
// other: a PMT PID on a second video's PID, or audio PIDs running into the
// video's, are refused and the old value kept.
TEST(MUXer, DerivedPidsNeverMeetThePmtPidOrEachOther) {
  MUXer m;
  ASSERT_EQ(m.add_es(fx("pm_m2.m2v").c_str(), 0, 0), 1);
  ASSERT_EQ(m.add_es(fx("pm_ntsc.m2v").c_str(), 0, 0), 1);
  ASSERT_EQ(m.add_es(fx("pm_a48.mp2").c_str(), 0, 0), 1);
  ASSERT_EQ(m.add_es(fx("pm_a.ac3").c_str(), 0, 0), 1);
  EXPECT_EQ(m.set_pmt_pid(17), 16);  // the video base
  EXPECT_EQ(m.set_pmt_pid(8191), 16);
  EXPECT_EQ(m.set_video_pid(100), 100);
  EXPECT_EQ(m.set_pmt_pid(116), 16);    // the second video's PID
  EXPECT_EQ(m.set_audio_pid(116), 20);  // would meet the second video
  EXPECT_EQ(m.set_audio_pid(84), 20);   // 84, 100: meets the first video
  EXPECT_EQ(m.set_audio_pid(200), 200);
  EXPECT_EQ(m.set_video_pid(16), 100);  // the PMT PID
  EXPECT_EQ(m.set_pmt_pid(8190), 8190);
  std::set<int> pids = {m.pmt_pid()};
  for (int i = 0; i < m.count(); ++i) EXPECT_TRUE(pids.insert(m.input(i).pid).second) << m.input(i).pid;
  EXPECT_EQ(pids, (std::set<int>{8190, 100, 116, 200, 216}));
}

// Sixteen video stream ids exist; the seventeenth video is refused instead
// of sharing an id with the first.
TEST(MUXer, SeventeenthVideoIsRefused) {
  MUXer m;
  const std::string dir = temp_dir();
  for (int i = 0; i < 17; ++i) {
    const std::string name = dir + "/muxjob_v" + std::to_string(i) + ".m1v";
    unlink(name.c_str());
    ASSERT_EQ(symlink(fx("pm_m1.m1v").c_str(), name.c_str()), 0);
    EXPECT_EQ(m.add_es(name.c_str(), 0, 0), i < 16 ? 1 : 0) << i;
  }
  std::set<int> ids;
  for (int i = 0; i < m.count(); ++i) EXPECT_TRUE(ids.insert(m.input(i).stream_id).second);
}

TEST(MUXer, ChecksAndEstimates) {
  MUXer m;
  double sizes[5];
  EXPECT_EQ(m.estimate_sizes(sizes), 0);
  ASSERT_EQ(m.add_es(fx("pm_m1.m1v").c_str(), 0, 0), 1);
  ASSERT_EQ(m.add_es(fx("pm_a44.mp2").c_str(), 0, 0), 1);
  EXPECT_EQ(m.is_vcd_compliant(), 1);
  EXPECT_EQ(m.is_svcd_compliant(), 0);
  EXPECT_EQ(m.estimate_sizes(sizes), 1);
  for (int k = 1; k < 5; ++k) EXPECT_GT(sizes[k], 0) << k;
  EXPECT_EQ(MUXer::mux_type_of_format(7), 6);
  EXPECT_EQ(MUXer::mux_type_of_format(2), 5);
  EXPECT_EQ(m.set_audio_offset(-100, nullptr), 0);
  EXPECT_EQ(m.input(1).audio_offset, -100);
}

}  // namespace

namespace {

// DVD video as a plain MPEG-2 program stream is a DVD title a DVD authoring
// tool takes (navigation packs); Minimize Size writes none.
TEST(MUXer, DvdVideoProgramStreamCarriesNavigationPacks) {
  TSUPPORT_NEED_FIXTURES("cv_es.m2v", "cv_dvd.vob");
  if (!have_program("dvdauthor") || !have_program("ffmpeg")) GTEST_SKIP() << "dvdauthor or ffmpeg missing";
  const std::string audio = temp_dir() + "/nav_a.mp2";
  ASSERT_EQ(run("ffmpeg -v error -y -i " + sh_quote(fx("cv_dvd.vob")) + " -map 0:a -c copy -f mp2 " + sh_quote(audio)),
            0);
  for (const bool minimize : {false, true}) {
    SCOPED_TRACE(minimize ? "minimize" : "plain");
    const std::string out = temp_dir() + (minimize ? "/nav_min.mpg" : "/nav.mpg");
    std::vector<std::string> lines;
    ASSERT_EQ(dev("muxjob " + sh_quote(out) + " --format 3 " + (minimize ? "--minimize " : "") +
                      sh_quote(fx("cv_es.m2v")) + " " + sh_quote(audio),
                  &lines),
              0);
    const std::vector<uint8_t> d = read_file(out);
    ASSERT_GT(d.size(), 2048u);
    // A navigation pack carries private stream 2 (0xBF) packets.
    bool nav = false;
    for (size_t i = 0; i + 4 <= 2048 && !nav; ++i) nav = d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xBF;
    EXPECT_EQ(nav, !minimize);
    if (minimize) continue;
    const std::string dir = temp_dir() + "/nav_dvd";
    std::string log;
    run("rm -rf " + sh_quote(dir) + "; VIDEO_FORMAT=PAL dvdauthor -o " + sh_quote(dir) + " -t " + sh_quote(out) +
            " 2>&1",
        &log);
    EXPECT_EQ(log.find("ERR:"), std::string::npos) << log;
    EXPECT_EQ(log.find("Skipping sector"), std::string::npos) << log;
  }
}

}  // namespace
