// meanq against streams made at one constant quantiser, and on damaged
// input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "encode/mean_quant.h"
#include "support.h"

namespace {

using tsupport::sh_quote;

std::string make_constant(const std::string& dir, const std::string& name, const std::string& codec, int q) {
  const std::string out = dir + "/" + name;
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 20 -c:v " +
                          codec + " -g 12 -bf 2 -q:v " + std::to_string(q) + " -qmin " + std::to_string(q) +
                          " -qmax " + std::to_string(q) +
                          " -i_qfactor 1 -b_qfactor 1 -i_qoffset 0 -b_qoffset 0 -f " +
                          (codec == "mpeg1video" ? "mpeg1video " : "mpeg2video ") + sh_quote(out);
  EXPECT_EQ(tsupport::run(cmd), 0) << cmd;
  return out;
}

TEST(EncMeanq, ConstantQuantiserStreamsReadInValueUnits) {
  const std::string dir = tsupport::temp_dir();
  struct Case {
    const char* name;
    const char* codec;
    int q;
    double want;
  } cases[] = {{"m1.m1v", "mpeg1video", 6, 12.0}, {"m2.m2v", "mpeg2video", 7, 14.0}};
  for (const Case& c : cases) {
    const std::string f = make_constant(dir, c.name, c.codec, c.q);
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("meanq " + sh_quote(f), &lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    const std::string& l = lines[0];
    EXPECT_EQ(tsupport::field(l, "error"), "0") << l;
    for (const char* k : {"i", "p", "b"}) EXPECT_DOUBLE_EQ(std::stod(tsupport::field(l, k)), c.want) << c.name << " " << l;
    EXPECT_GT(tsupport::field_int(l, "i_pictures"), 0);
    EXPECT_GT(tsupport::field_int(l, "p_pictures"), 0);
    EXPECT_GT(tsupport::field_int(l, "b_pictures"), 0);
  }
}

TEST(EncMeanq, NonMpegFileGivesError) {
  const std::string dir = tsupport::temp_dir();
  const std::string f = dir + "/x.bin";
  ASSERT_TRUE(tsupport::write_file(f, std::vector<uint8_t>(5000, 0x47)));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("meanq " + sh_quote(f), &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(tsupport::field(lines[0], "error"), "1");
  EXPECT_EQ(tsupport::field_int(lines[0], "i_pictures"), 0);
}

TEST(EncMeanq, DamagedStreamsEndCleanly) {
  const std::string dir = tsupport::temp_dir();
  const std::vector<uint8_t> good = tsupport::read_file(make_constant(dir, "m2.m2v", "mpeg2video", 5));
  ASSERT_FALSE(good.empty());
  std::mt19937 rng(5);
  for (int i = 0; i < 60; ++i) {
    std::vector<uint8_t> v = good;
    if (i % 3 == 0) v.resize(rng() % v.size());
    else if (i % 3 == 1)
      for (int k = 0; k < 40; ++k) v[rng() % v.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    else
      for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
    v.resize(v.size() + 64, 0);
    int error = -1;
    MeanQuantizer mq(v.data(), v.size() - 64, &error);
    EXPECT_TRUE(error == 0 || error == 1);
  }
}

}  // namespace
