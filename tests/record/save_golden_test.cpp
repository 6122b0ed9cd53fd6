// Saves whose headers are patched on the way (GOP time codes counted from
// the output's start, temporal references, closed-GOP flags, aspect codes,
// vbv_delay, sectors of the program-stream kinds) give the same bytes as
// before the copy path was made faster: each output's MD5 was taken from
// the earlier writer on the same fixture (the transport case again after
// its tables came with every multiplexer call; the DVD cases again once
// program streams stopped padding to the header's rate). A fixture made by another encoder
// build has other bytes, and then the case is skipped, not failed.
// A part of a save at another bit rate is re-encoded at the output's, so
// every sequence header carries one rate.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

using namespace tsupport;

std::string md5_of(const std::string& path) {
  std::string out;
  if (run("md5sum < " + sh_quote(path), &out) != 0 || out.size() < 32) return "";
  return out.substr(0, 32);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t at; (at = s.find(sep, from)) != std::string::npos; from = at + 1) out.push_back(s.substr(from, at - from));
  out.push_back(s.substr(from));
  return out;
}

struct Golden {
  const char* input;
  const char* input_md5;  // the fixture the output MD5 was taken from
  const char* keep;
  const char* kind;
  const char* extra;
  const char* output_md5;
};

// Saves every case (inputs joined by commas) with `always` added to its
// options; false when no case's fixture equals the one its output was
// taken from.
template <size_t N>
bool compare_outputs(const Golden (&cases)[N], const std::string& always) {
  const std::string dir = temp_dir();
  int compared = 0;
  for (const Golden& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.kind + " " + c.extra);
    std::string names;
    bool usable = true;
    for (const std::string& name : split(c.input, ',')) {
      if (!missing_fixture({name}).empty() || md5_of(fixture(name)) != c.input_md5) usable = false;
      names += (names.empty() ? "" : ",") + fixture(name);
    }
    if (!usable) continue;
    const std::string out = dir + "/out";
    std::vector<std::string> lines;
    EXPECT_EQ(dev("save " + sh_quote(names) + " " + sh_quote(out) + " --keep " + c.keep + " --kind " + c.kind + " " +
                      always + " " + c.extra,
                  &lines),
              0);
    if (lines.empty()) continue;
    EXPECT_EQ(field(lines.back(), "status"), "done");
    EXPECT_EQ(md5_of(out), c.output_md5);
    ++compared;
  }
  return compared > 0;
}

TEST(SaveGolden, PatchedCopiesKeepTheirBytes) {
  const Golden cases[] = {
      {"sv_open.m2v", "f1ef89dad0f7027c251cb7231b3adc67", "5:30,50:62,70:90", "es", "",
       "fca252b8bdc04bdd7d5a9d46344085f0"},
      {"sv_open.m2v", "f1ef89dad0f7027c251cb7231b3adc67", "5:30,50:62,70:90", "es", "--aspect 3",
       "a34103b483f4e9022b2b9495f663c1dd"},
      {"sv_open.m2v", "f1ef89dad0f7027c251cb7231b3adc67", "5:30,50:62,70:90", "ts", "",
       "763fc6d8c7a7be37e6b781142c06ef76"},
      {"sv_bff.m2v", "d7827b6cefed92f5dfae7a774f1ee525", "4:20,35:50,61:80", "dvd", "",
       "7c3eb142ac68bf07405e7cb4f1be4113"},
      {"sv_dvd.vob", "d42eee34e05fd0dcbda1b6afcfb5f092", "5:30,50:62,70:90", "dvd", "",
       "b2d07144e72b6ac9d3ac3b66208b7492"},
      {"st_ts.ts", "f32c7b03d562214ce085aa272935d568", "5:30,50:62", "es", "", "98019187ca39f0ce941460ca8feaf0a6"},
      // Large enough for the long reads of a file read through.
      {"bench_sd.m2v", "a4c5249a4d7c8a10273691ff80eb9363", "10:100,140:200,230:240", "es", "",
       "35a38e3ad529a42dff3440e5209277c0"},
  };
  if (!compare_outputs(cases, "--gop-only")) GTEST_SKIP() << "no fixture equals the one the outputs were taken from";
}

// Every output kind and the options that change how a save is set up give
// the bytes they gave before the kinds were decided in one place.
TEST(SaveGolden, EveryKindAndOptionKeepsItsBytes) {
  const char* dvd = "d42eee34e05fd0dcbda1b6afcfb5f092";
  const char* keep = "5:30,50:62,70:90";
  const Golden cases[] = {
      {"sv_dvd.vob", dvd, keep, "es", "", "2d4a30d6c799a16c46ee30a9759555a7"},
      {"sv_dvd.vob", dvd, keep, "mpeg1", "", "4a22fc7ca3f041826fc0ee370e6aef93"},
      {"sv_dvd.vob", dvd, keep, "vcd", "", "14176a25e703a03531fd9ed945fb5457"},
      {"sv_dvd.vob", dvd, keep, "ps", "", "cec3daa0fd4d6efc206a4847f444d6bc"},
      {"sv_dvd.vob", dvd, keep, "svcd", "", "2952109b976abf98cf8e3f2d766dc2a3"},
      {"sv_dvd.vob", dvd, keep, "dvd", "", "1a86b2c3bfec16ddeb08a9e9011e36ad"},
      {"sv_dvd.vob", dvd, keep, "ts", "", "b024f9ddbfd6e055d3103ddcccecb32a"},
      {"sv_dvd.vob", dvd, keep, "ps", "--gop-only", "1aece16c859ff8527f4f547d7aa2b483"},
      {"sv_dvd.vob", dvd, keep, "dvd", "--gop-only --gain 0:1,0.5:0.25,1:1", "b2d07144e72b6ac9d3ac3b66208b7492"},
      {"sv_dvd.vob", dvd, keep, "ts", "--vbr", "1753a47543e320ad38c2b598721b6c2b"},
      {"sv_dvd.vob", dvd, keep, "es", "--restructure", "2d4a30d6c799a16c46ee30a9759555a7"},
      // One file named as two inputs: ranges of different inputs never join.
      {"sv_dvd.vob,sv_dvd.vob", dvd, "5:30,50:62,1@70:90,1@80:95,0@3:4", "ps", "--gop-only",
       "4094eecd40f7de46aad1cc55464981e9"},
      // Taken again once each range's sound began at the frame whose time
      // stamp lies nearest to its video's.
      {"fields_pal-vcd.mpg", "3b56fcd1bbf31053e1b1b918d5940ca1", "3:10,14:22", "vcd", "",
       "83677e8bc178aeed617e2dde173006c1"},
      {"fields_pal-vcd.mpg", "3b56fcd1bbf31053e1b1b918d5940ca1", "3:10,14:22", "mpeg1", "--gop-only",
       "f5100c74adcbb4a6062f8dea724ffab9"},
      {"st_ts.ts", "f32c7b03d562214ce085aa272935d568", "5:30,50:62", "ts", "--ref 1",
       "69e19d95715a8909fa9b0949541da5bc"},
      {"st_ts.ts", "f32c7b03d562214ce085aa272935d568", "5:30,50:62", "ts", "--gop-only",
       "c66dde8113dcfa4e14ac3de06b4e10f6"},
  };
  if (!compare_outputs(cases, "")) GTEST_SKIP() << "no fixture equals the one the outputs were taken from";
}

// bit_rate (in bit/s) of every sequence header of an elementary stream.
std::vector<long long> header_rates(const std::vector<uint8_t>& d) {
  std::vector<long long> r;
  for (size_t i = 0; i + 12 <= d.size(); ++i)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xB3)
      r.push_back(400LL * ((d[i + 8] << 10) | (d[i + 9] << 2) | (d[i + 10] >> 6)));
  return r;
}

TEST(SaveGolden, PartsAtAnotherRateAreReencodedAtTheOutputRate) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = temp_dir();
  for (int mbit : {1, 3}) {
    const std::string m = std::to_string(mbit);
    ASSERT_EQ(run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=0.48 -c:v mpeg2video "
                  "-threads 1 -b:v " + m + "M -maxrate " + m + "M -minrate " + m + "M -bufsize 1835008 -g 6 -bf 2 "
                  "-flags +cgop -sc_threshold 1000000000 -f mpeg2video " + sh_quote(dir + "/r" + m + ".m2v")),
              0);
  }
  const std::vector<uint8_t> low = read_file(dir + "/r1.m2v");
  ASSERT_EQ(header_rates(low).at(0), 1000000);
  std::vector<std::string> lines;
  const std::string out = dir + "/out.m2v";
  ASSERT_EQ(dev("save " + sh_quote(dir + "/r1.m2v") + "," + sh_quote(dir + "/r3.m2v") + " " + sh_quote(out) +
                    " --keep 0@0:11,1@0:11,0@0:5 --gop-only --kind es",
                &lines),
            0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(field(lines.back(), "status"), "done");
  const std::vector<long long> rates = header_rates(read_file(out));
  ASSERT_GE(rates.size(), 6u);  // both sources, every GOP
  // The output takes the first clip's rate; the 3 Mbit/s clip is coded
  // again at it, whole GOPs only or not.
  for (size_t i = 0; i < rates.size(); ++i) EXPECT_EQ(rates[i], 1000000) << "sequence header " << i;
  EXPECT_EQ(field_int(lines.back(), "reencoded"), 12);
  // The first clip's pictures are copied unchanged.
  std::string a, b;
  run("ffmpeg -nostdin -v error -i " + sh_quote(dir + "/r1.m2v") + " -frames:v 12 -f framemd5 - | grep -v '^#'", &a);
  run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -frames:v 12 -f framemd5 - | grep -v '^#'", &b);
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a, b);
}

}  // namespace
