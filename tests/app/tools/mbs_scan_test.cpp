// The MBS Scan rules: names and bytes of the segment lists, grouped
// numbers, and a scan of two joined recordings whose segment lists read
// back as exactly their byte ranges of the input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/tools/mbs_scan.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(MbsScanRules, NamesBytesAndNumbers) {
  EXPECT_EQ(mbs_segment_name("/m/movie.mpg", 2, 2), "/m/movie.mpg_video_2.mbs");
  EXPECT_EQ(mbs_segment_name("/m/movie.mpg", 1, 1), "/m/movie.mpg_timebase_1.mbs");
  EXPECT_EQ(mbs_file_text("/m/a.mpg", 0, 2048),
            "[MBSFile]\nNumFile= 1\nFile= /m/a.mpg\nSegment=          0       2048\n\n");
  const struct {
    double n;
    const char* text;
  } numbers[] = {{512, "0,512"}, {1234567, "1,234,567"}, {1000, "1,000"}, {0, "0,000"}, {2000000001, "2,000,000,001"}};
  for (const auto& c : numbers) EXPECT_EQ(mbs_grouped(c.n), c.text) << c.n;
  MbsSegment s;
  s.start = 512;
  s.end = 1234567;
  s.video.mpeg2 = 1;
  s.video.bit_rate = 4500000;
  const std::vector<std::string> lines = mbs_info_lines(s, 0);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "Segment #1: ");
  EXPECT_EQ(lines[1], "File Offset (byte):  start = 0,512; end = 1,234,567; length = 1,234,055 ");
  EXPECT_EQ(lines[2], "MPEG-2 video");
  EXPECT_EQ(lines[5], "bit rate (kbs): 4,500 ");
  EXPECT_EQ(lines[6], "");  // no audio
}

TEST(MbsScan, JoinedRecordingsBecomeSegmentsThatReadAsTheirRanges) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  FakePlatform fake;
  // Two program streams of different picture sizes, joined.
  const std::string a = test_dir() + "/a.mpg", b = test_dir() + "/b.mpg", joined = test_dir() + "/joined.mpg";
  ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=1 -c:v mpeg2video -f vob " +
                sh_quote(a)),
            0);
  ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25:duration=1 -c:v mpeg2video -f vob " +
                sh_quote(b)),
            0);
  ASSERT_EQ(run("cat " + sh_quote(a) + " " + sh_quote(b) + " > " + sh_quote(joined)), 0);

  MbsScan m;
  EXPECT_FALSE(m.set_input(test_dir() + "/x.MBS"));
  ASSERT_TRUE(m.set_input(joined));
  EXPECT_EQ(m.ok_files(), std::vector<std::string>{joined});  // before a scan: the input itself
  m.scan_or_pause();
  ASSERT_TRUE(m.busy());
  EXPECT_FALSE(m.can_close());
  while (m.busy()) {
    m.poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(m.percent(), 100);
  const std::vector<MbsSegment>& video = m.segments(2);
  ASSERT_GE(video.size(), 2u);
  EXPECT_EQ(m.kind(), m.segments(1).empty() ? 2 : 1);
  m.select_kind(2);
  const std::vector<std::string> files = m.ok_files();
  ASSERT_EQ(files.size(), video.size());
  const std::vector<uint8_t> input = read_file(joined);
  for (const MbsSegment& s : video) {
    SCOPED_TRACE(s.file);
    std::ifstream f(s.file);
    std::stringstream text;
    text << f.rdbuf();
    EXPECT_EQ(text.str(), mbs_file_text(joined, s.start, s.end));
    // The file layer reads the list as exactly that byte range.
    const std::string out = test_dir() + "/range.bin";
    ASSERT_EQ(run(sh_quote(dev_tool()) + " read " + sh_quote(s.file) + " 0 " + std::to_string(long(s.end - s.start)) + " " + sh_quote(out) + " >/dev/null 2>&1"), 0);
    const std::vector<uint8_t> got = read_file(out);
    ASSERT_LE(s.end, double(input.size()));
    EXPECT_TRUE(got == std::vector<uint8_t>(input.begin() + long(s.start), input.begin() + long(s.end)));
  }
  EXPECT_EQ(ToolJob::live_count(), 0);

  // A segment list that cannot be written is reported, not silently left out.
  const std::string long_name = test_dir() + "/" + std::string(240, 'j') + ".mpg";
  std::filesystem::copy_file(joined, long_name);
  ASSERT_TRUE(m.set_input(long_name));
  fake.prompter.shown.clear();
  m.scan_or_pause();
  while (m.busy()) {
    m.poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(m.segments(2).empty());
  ASSERT_FALSE(fake.prompter.shown.empty());
  EXPECT_NE(fake.prompter.last_text().find(">: cannot open to write"), std::string::npos);
}

}  // namespace
