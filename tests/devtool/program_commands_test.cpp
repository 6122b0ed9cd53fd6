// streams, demux and span on program streams, as the reviewers' scripts
// read them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

using namespace tsupport;

std::vector<std::string> lines_starting(const std::vector<std::string>& lines, const std::string& head) {
  std::vector<std::string> v;
  for (const auto& l : lines)
    if (l.rfind(head, 0) == 0) v.push_back(l);
  return v;
}

TEST(ProgramCommands, StreamsListKeysAndSegments) {
  struct Case {
    const char* file;
    std::vector<std::string> ids;
    int segments;
    const char* audio;
  };
  const Case cases[] = {
      {"ps_dvd.vob", {"0xE0", "0x80", "0xC0", "0xA0"}, 0, "0x80"},
      {"ps_ac3x2.vob", {"0xE0", "0x80", "0x81"}, 0, "0x80"},
      {"ps_vcd_raw.bin", {"0xE0", "0xC0"}, 0, "0xC0"},
      {"ps_title/VIDEO_TS/VTS_01_1.VOB", {"0xE0", "0x80"}, 2, "0x80"},
      {"ps_rec.VRO", {"0xE0", "0xC0"}, 3, "0xC0"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> out;
    ASSERT_EQ(dev("streams " + sh_quote(fixture(c.file)), &out), 0) << c.file;
    const auto es = lines_starting(out, "es ");
    ASSERT_EQ(es.size(), c.ids.size()) << c.file;
    for (size_t i = 0; i < es.size(); ++i) {
      EXPECT_EQ(field(es[i], "id"), c.ids[i]) << c.file;
      EXPECT_EQ(field(es[i], "pid"), "0") << c.file;
    }
    const auto sel = lines_starting(out, "select ");
    ASSERT_EQ(sel.size(), 1u);
    EXPECT_EQ(field(sel[0], "audio_id"), c.audio) << c.file;
    const auto seg = lines_starting(out, "segment ");
    EXPECT_EQ(int(seg.size()), c.segments) << c.file;
    // Segment lines follow the selection line.
    if (!seg.empty()) {
      EXPECT_LT(std::find(out.begin(), out.end(), sel[0]), std::find(out.begin(), out.end(), seg[0]));
    }
  }
}

TEST(ProgramCommands, DemuxNamesOutputsByKey) {
  const std::string dir = temp_dir();
  std::vector<std::string> out;
  ASSERT_EQ(dev("demux " + sh_quote(fixture("ps_dvd.vob")) + " " + sh_quote(dir), &out), 0);
  const auto outs = lines_starting(out, "out ");
  ASSERT_EQ(outs.size(), 4u);
  const char* names[] = {"e0.m2v", "80.ac3", "c0.mp2", "a0.wav"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(field(outs[i], "file"), names[i]);
    EXPECT_GT(field_int(outs[i], "bytes"), 1000);
  }
  EXPECT_EQ(field(out.back(), "status"), "done");
  // Only one stream, and a stop that deletes.
  const std::string dir2 = temp_dir() + "/only";
  ASSERT_EQ(run("mkdir -p " + sh_quote(dir2)), 0);
  out.clear();
  ASSERT_EQ(dev("demux " + sh_quote(fixture("ps_dvd.vob")) + " " + sh_quote(dir2) + " --only 0x80 --stop -1@40", &out),
            0);
  ASSERT_EQ(lines_starting(out, "out ").size(), 1u);
  EXPECT_EQ(field(out.back(), "status"), "stopped");
  EXPECT_NE(run("test -e " + sh_quote(dir2 + "/80.ac3")), 0);
}

TEST(ProgramCommands, SpanOfAProgramStreamsAudioKey) {
  std::vector<std::string> out;
  ASSERT_EQ(dev("span " + sh_quote(fixture("ps_dvd.vob")) + " 100000 --stream 0xC0", &out), 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_GE(field_int(out[0], "start"), 100000);
  EXPECT_NE(field(out[0], "pts"), "none");
  out.clear();
  EXPECT_EQ(dev("span " + sh_quote(fixture("ps_dvd.vob")) + " 0 --stream 0xC3", &out), 1);
}

}  // namespace
