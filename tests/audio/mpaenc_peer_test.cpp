// The encoder against the peers: ffmpeg decodes our frames without a word
// (CRC checked), mpg123 is silent, ffprobe reads the format, and the SNR
// of ffmpeg's decode stays within reach of twolame's at the same rate.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support.h"

namespace {

using tsupport::dev;
using tsupport::fixture;
using tsupport::run;
using tsupport::sh_quote;

std::vector<int16_t> read_pcm(const std::string& path) {
  const std::vector<uint8_t> b = tsupport::read_file(path);
  std::vector<int16_t> v(b.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(b[2 * i] | (b[2 * i + 1] << 8));
  return v;
}

// SNR of dec against ref after the delay (in frames, 0-1200) that best
// correlates them.
double snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, int ch) {
  int best = 0;
  double best_c = -1e300;
  for (int d = 0; d <= 1200; ++d) {
    double c = 0;
    for (size_t i = size_t(8000) * ch; i < size_t(40000) * ch && i + size_t(d) * ch < dec.size() && i < ref.size(); i += 3)
      c += double(ref[i]) * dec[i + size_t(d) * ch];
    if (c > best_c) {
      best_c = c;
      best = d;
    }
  }
  double sig = 0, err = 0;
  const size_t off = size_t(best) * ch;
  for (size_t i = size_t(2000) * ch; i + off < dec.size() && i + size_t(2000) * ch < ref.size(); ++i) {
    sig += double(ref[i]) * ref[i];
    const double e = double(ref[i]) - dec[i + off];
    err += e * e;
  }
  return 10 * std::log10(sig / std::max(err, 1.0));
}

// Decodes with ffmpeg at its strictest; empty stderr and status 0 asked.
bool ffmpeg_decode(const std::string& in, const std::string& out, std::string* said) {
  const int rc = run("ffmpeg -nostdin -v error -err_detect crccheck+bitstream+buffer+explode -i " + sh_quote(in) +
                         " -f s16le -y " + sh_quote(out) + " 2>&1",
                     said);
  return rc == 0 && said->empty();
}

struct Signal {
  const char* sig;
  int rate, channels;
};

class MpaEncPeers : public ::testing::TestWithParam<Signal> {};

TEST_P(MpaEncPeers, DecodesEverywhereAndMatchesTwolame) {
  const Signal s = GetParam();
  std::string base = fixture("mpaenc_" + std::string(s.sig) + "_" + std::to_string(s.rate) + "_" +
                             std::to_string(s.channels) + ".pcm");
  base.resize(base.size() - 4);
  const std::vector<int16_t> in = read_pcm(base + ".pcm");
  ASSERT_FALSE(in.empty());
  const int kbps = s.channels == 2 ? 192 : 96;
  const double tl2 = snr(in, read_pcm(base + "_tl2.pcm"), s.channels);
  const double tl1 = snr(in, read_pcm(base + "_tl1.pcm"), s.channels);
  const double ff = snr(in, read_pcm(base + "_ff.pcm"), s.channels);
  const std::string dir = tsupport::temp_dir();
  struct Run {
    const char* name;
    int layer, kbps;
    const char* options;
    double floor;
  } runs[] = {{"model2", 2, kbps, "", tl2 - 3.0},
              {"model1", 2, kbps, " --model 1", tl1 - 4.0},
              {"layer1", 1, 2 * kbps, "", tl2 - 1.0},
              {"crc", 2, kbps, " --crc", tl2 - 3.0}};
  std::string line = std::string(s.sig) + " " + std::to_string(s.rate) + "/" + std::to_string(s.channels) + ":";
  for (const Run& r : runs) {
    SCOPED_TRACE(r.name);
    const std::string out = dir + "/" + r.name + (r.layer == 1 ? ".mp1" : ".mp2");
    std::vector<std::string> lines;
    ASSERT_EQ(dev("mpa-encode " + sh_quote(base + ".pcm") + " " + std::to_string(s.rate) + " " +
                      std::to_string(s.channels) + " " + std::to_string(r.kbps * 1000) + " " +
                      std::to_string(r.layer) + " " + sh_quote(out) + r.options,
                  &lines),
              0);
    ASSERT_EQ(lines.size(), 1u);
    const long long samples = (long long)in.size() / s.channels, per = r.layer == 1 ? 384 : 1152;
    EXPECT_EQ(tsupport::field_int(lines[0], "frames"), (samples + per - 1) / per);
    EXPECT_EQ(tsupport::field_int(lines[0], "bit_rate"), r.kbps * 1000);
    std::string said;
    EXPECT_TRUE(ffmpeg_decode(out, dir + "/dec.pcm", &said)) << said;
    std::string probe;
    ASSERT_EQ(run("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of "
                  "default=noprint_wrappers=1 " + sh_quote(out), &probe),
              0);
    EXPECT_NE(probe.find(std::string("codec_name=") + (r.layer == 1 ? "mp1" : "mp2")), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=" + std::to_string(s.rate)), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=" + std::to_string(s.channels)), std::string::npos) << probe;
    EXPECT_NE(probe.find("bit_rate=" + std::to_string(r.kbps * 1000)), std::string::npos) << probe;
    std::string mpg;
    if (run("command -v mpg123 >/dev/null") == 0) {
      run("mpg123 -q -t " + sh_quote(out) + " 2>&1", &mpg);
      EXPECT_TRUE(mpg.empty()) << mpg;
    }
    const double ours = snr(in, read_pcm(dir + "/dec.pcm"), s.channels);
    EXPECT_GE(ours, r.floor);
    line += " " + std::string(r.name) + "=" + std::to_string(ours).substr(0, 5);
  }
  std::printf("%s twolame2=%.2f twolame1=%.2f ffmpeg=%.2f\n", line.c_str(), tl2, tl1, ff);
}

INSTANTIATE_TEST_SUITE_P(Signals, MpaEncPeers,
                         ::testing::Values(Signal{"tones", 48000, 2}, Signal{"tones", 48000, 1},
                                           Signal{"tones", 44100, 2}, Signal{"tones", 44100, 1},
                                           Signal{"tones", 32000, 2}, Signal{"tones", 32000, 1},
                                           Signal{"pink", 48000, 2}, Signal{"pink", 48000, 1},
                                           Signal{"pink", 44100, 2}, Signal{"pink", 44100, 1},
                                           Signal{"pink", 32000, 2}, Signal{"pink", 32000, 1}));

TEST(MpaEncPeers, SilentFramesDecodeToZerosEverywhere) {
  const std::string dir = tsupport::temp_dir();
  struct Case {
    int rate, channels, bit_rate, layer;
  } cases[] = {{48000, 2, 192000, 2}, {44100, 2, 128000, 2}, {32000, 2, 192000, 2}, {48000, 2, 384000, 1},
               {44100, 2, 384000, 1}, {32000, 1, 128000, 1}, {44100, 1, 192000, 2}, {44100, 1, 200000, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " layer " + std::to_string(c.layer));
    const std::string out = dir + "/s.mp" + std::to_string(c.layer);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("mpa-silence " + std::to_string(c.rate) + " " + std::to_string(c.channels) + " " +
                      std::to_string(c.bit_rate) + " " + std::to_string(c.layer) + " 40 " + sh_quote(out),
                  &lines),
              0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(tsupport::field_int(lines[0], "frames"), 40);
    // 200 kbit/s is no layer II rate: the encoder falls back to its default.
    EXPECT_EQ(tsupport::field_int(lines[0], "bit_rate"), c.bit_rate == 200000 ? 128000 : c.bit_rate);
    std::string said;
    ASSERT_TRUE(ffmpeg_decode(out, dir + "/dec.pcm", &said)) << said;
    const std::vector<uint8_t> pcm = tsupport::read_file(dir + "/dec.pcm");
    EXPECT_EQ(pcm.size(), size_t(40) * (c.layer == 1 ? 384 : 1152) * c.channels * 2);
    for (uint8_t b : pcm) ASSERT_EQ(b, 0);
    if (run("command -v mpg123 >/dev/null") == 0) {
      std::string raw;
      ASSERT_EQ(run("mpg123 -q -s " + sh_quote(out) + " | tr -d '\\000' | wc -c", &raw), 0);
      EXPECT_EQ(std::stoi(raw), 0) << "mpg123 gave non-zero samples";
    }
  }
}

}  // namespace
