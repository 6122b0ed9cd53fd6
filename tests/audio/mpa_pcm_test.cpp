// Our decode of real streams against the peer decoders (ffmpeg's float
// decoders, mpg123, madplay) through `tamsel-dev mpa-decode`, and the
// command-level behaviours: seeks into the reservoir, junk, equalizer,
// rescaling.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "mpa_compare.h"
#include "support.h"

namespace {

using tsupport::dev;
using tsupport::fixture;
using tsupport::fixtures_dir;
using tsupport::sh_quote;

struct Decoded {
  int status = -1;
  std::string line;
  std::vector<int16_t> pcm;
};

Decoded decode(const std::string& file, const std::string& extra = "") {
  Decoded d;
  const std::string out = tsupport::temp_dir() + "/out.pcm";
  std::vector<std::string> lines;
  d.status = dev("mpa-decode " + sh_quote(file) + " " + sh_quote(out) + extra, &lines);
  if (!lines.empty()) d.line = lines.back();
  d.pcm = mpa_read_pcm(out);
  return d;
}

std::string base_of(const std::string& name) { return fixtures_dir() + "/" + name.substr(0, name.rfind('.')); }

class MpaPeers : public ::testing::TestWithParam<const char*> {};

// Every peer present must agree within the bound; where one peer alone
// departs and the two others agree with us, they decide (ffmpeg 5.1's
// layer III decoder differs on some lower-rate joint-stereo streams).
TEST_P(MpaPeers, PcmWithinBoundOfEveryPeer) {
  const std::string name = GetParam();
  TSUPPORT_NEED_FIXTURES(name);
  const Decoded d = decode(fixture(name));
  ASSERT_EQ(d.status, 0);
  ASSERT_FALSE(d.pcm.empty());
  const std::string base = base_of(name);
  std::vector<PeerDecode> peers;
  for (const PeerDecode& p : {PeerDecode{"ffmpeg", base + ".f32"}, PeerDecode{"mpg123", base + ".mpg123.f32"},
                              PeerDecode{"madplay", base + ".madplay.s24"}})
    if (std::filesystem::exists(p.path)) peers.push_back(p);
  ASSERT_FALSE(peers.empty()) << "no reference decode of " << name;
  mpa_expect_peers(d.pcm, peers, true, name);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MpaPeers,
    ::testing::Values("mpa_tl_s.mp2", "mpa_tl_j.mp2", "mpa_tl_d.mp2", "mpa_tl_m.mp2", "mpa_t0_48000.mp2",
                      "mpa_t1_44100.mp2", "mpa_t1_32000.mp2", "mpa_t2_48000.mp2", "mpa_t2_44100.mp2",
                      "mpa_t3_32000.mp2", "mpa_t4_16000.mp2", "mpa_t4_22050.mp2", "mpa_t4_24000.mp2",
                      "mpa_ff_48000.mp2", "mpa_lame_cbr.mp3", "mpa_lame_vbr.mp3", "mpa_lame_stereo.mp3",
                      "mpa_lame_mono.mp3", "mpa_lame_24000.mp3", "mpa_lame_16000.mp3", "mpa_lame_12000.mp3",
                      "mpa_lame_8000.mp3", "mpa_click.mp3", "mpa_vbr_long.mp3", "mpa_shine_32000.mp3",
                      "mpa_shine_44100.mp3", "mpa_shine_48000.mp3"),
    [](const ::testing::TestParamInfo<const char*>& i) { return mpa_param_name(i.param); });

// A seek to a frame whose main data starts in earlier frames: that frame is
// silence of frame length, decoding resumes within three frames, and from
// the frame after the first decoded one the PCM meets the bound against the
// whole-file decode.
TEST(MpaSeek, FromFrameInsideReservoirResumesWithinThreeFrames) {
  TSUPPORT_NEED_FIXTURES("mpa_vbr_long.mp3");
  const std::string file = fixture("mpa_vbr_long.mp3");
  std::vector<std::string> frames;
  ASSERT_EQ(dev("audio " + sh_quote(file), &frames), 0);
  const std::vector<uint8_t> bytes = tsupport::read_file(file);
  // First frame from 20 on whose main_data_begin (9 bits after the
  // header, or after the CRC) is above 0.
  int k = -1;
  for (size_t i = 20; i < frames.size(); ++i) {
    const long long off = tsupport::field_int(frames[i], "offset");
    const bool crc = !(bytes[static_cast<size_t>(off) + 1] & 1);
    const size_t s = static_cast<size_t>(off) + 4 + (crc ? 2 : 0);
    const int mdb = bytes[s] << 1 | bytes[s + 1] >> 7;
    if (mdb > 0) {
      k = static_cast<int>(i);
      break;
    }
  }
  ASSERT_GE(k, 0) << "no frame reaches back into the reservoir";
  const Decoded whole = decode(file);
  const Decoded part = decode(file, " --from " + std::to_string(k));
  ASSERT_EQ(part.status, 0);
  const size_t frame_values = 1152 * 2;
  ASSERT_GE(part.pcm.size(), 4 * frame_values);
  for (size_t i = 0; i < frame_values; ++i) ASSERT_EQ(part.pcm[i], 0) << "frame K is not silence at " << i;
  // The first decoded frame: the first one that is not all zeros.
  size_t first = 1;
  for (; first < 4; ++first) {
    bool zero = true;
    for (size_t i = 0; i < frame_values && zero; ++i) zero = part.pcm[first * frame_values + i] == 0;
    if (!zero) break;
  }
  ASSERT_LT(first, 4u) << "decoding did not resume within three frames";
  std::vector<double> ref(whole.pcm.begin(), whole.pcm.end());
  for (double& v : ref) v /= 32768.0;
  const size_t from = (first + 1) * frame_values;
  const PcmDiff diff = mpa_compare(part.pcm, ref, from, static_cast<size_t>(k) * frame_values + from);
  EXPECT_EQ(diff.ours, diff.ref);
  EXPECT_LE(diff.rms, 0.75);
  EXPECT_LE(diff.max, 2.0);
}

// A false layer III header in junk before a layer II stream locked the
// decoder onto it, and the real stream was skipped as garbage.
TEST(MpaJunk, LoneHeaderInJunkDoesNotLockTheDecoder) {
  TSUPPORT_NEED_FIXTURES("mpa_tl_j.mp2");
  const std::string file = fixture("mpa_tl_j.mp2");
  std::vector<uint8_t> junk(3000);
  uint32_t x = 12345;
  for (uint8_t& b : junk) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF) b = 0x7F;
  }
  const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x64};  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz
  std::copy(header, header + 4, junk.begin() + 1200);
  const std::vector<uint8_t> stream = tsupport::read_file(file);
  junk.insert(junk.end(), stream.begin(), stream.end());
  const std::string junked = tsupport::temp_dir() + "/junked.mp2";
  ASSERT_TRUE(tsupport::write_file(junked, junk));
  const Decoded a = decode(file);
  const Decoded b = decode(junked);
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(a.line, b.line);
  EXPECT_EQ(a.pcm, b.pcm);
}

TEST(MpaEqualizer, HalfGainHalvesTheOutputAndUnityGainsSwitchItOff) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_cbr.mp3");
  const std::string file = fixture("mpa_lame_cbr.mp3");
  const Decoded plain = decode(file);
  const Decoded half = decode(file, " --eq 0.5");
  const Decoded unity = decode(file, " --eq 1.005");
  const Decoded below = decode(file, " --eq 0.999");
  std::vector<double> ref(plain.pcm.begin(), plain.pcm.end());
  for (double& v : ref) v *= 0.5 / 32768.0;
  const PcmDiff d = mpa_compare(half.pcm, ref);
  EXPECT_EQ(d.ours, d.ref);
  EXPECT_LE(d.rms, 0.75);
  EXPECT_LE(d.max, 2.0);
  EXPECT_EQ(unity.pcm, plain.pcm);
  EXPECT_NE(below.pcm, plain.pcm);
}

double rms_of(const std::vector<int16_t>& v) {
  double s = 0.0;
  for (int16_t x : v) s += static_cast<double>(x) * x;
  return v.empty() ? 0.0 : std::sqrt(s / static_cast<double>(v.size()));
}

class MpaRescale : public ::testing::TestWithParam<const char*> {};

TEST_P(MpaRescale, GainsOneZeroAndHalf) {
  TSUPPORT_NEED_FIXTURES(GetParam());
  const std::string file = fixture(GetParam());
  const std::string dir = tsupport::temp_dir();
  const std::vector<uint8_t> in = tsupport::read_file(file);
  std::vector<std::string> lines;
  ASSERT_EQ(dev("mpa-rescale " + sh_quote(file) + " " + sh_quote(dir + "/one") + " 1", &lines), 0);
  EXPECT_EQ(tsupport::read_file(dir + "/one"), in) << "gain 1 changed bytes";

  ASSERT_EQ(dev("mpa-rescale " + sh_quote(file) + " " + sh_quote(dir + "/zero") + " 0", &lines), 0);
  const std::vector<uint8_t> zero = tsupport::read_file(dir + "/zero");
  EXPECT_EQ(zero.size(), in.size());
  std::string err;
  EXPECT_EQ(tsupport::run("ffmpeg -nostdin -v error -err_detect crccheck+bitstream+explode -i " + sh_quote(dir + "/zero") +
                              " -f null - 2>&1",
                          &err),
            0);
  EXPECT_EQ(err, "");
  const Decoded z = decode(dir + "/zero");
  ASSERT_FALSE(z.pcm.empty());
  for (size_t i = 0; i < z.pcm.size(); ++i) ASSERT_EQ(z.pcm[i], 0) << "at " << i;

  ASSERT_EQ(dev("mpa-rescale " + sh_quote(file) + " " + sh_quote(dir + "/half") + " 0.5", &lines), 0);
  const Decoded full = decode(file);
  const Decoded half = decode(dir + "/half");
  const double db = 20.0 * std::log10(rms_of(half.pcm) / rms_of(full.pcm));
  EXPECT_NEAR(db, -6.02, 1.2);
}

INSTANTIATE_TEST_SUITE_P(Streams, MpaRescale, ::testing::Values("mpa_tl_j.mp2", "mpa_tl_m.mp2", "mpa_t3_32000.mp2",
                                                                 "mpa_t4_24000.mp2"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return mpa_param_name(i.param); });

TEST(MpaRescale, LayerThreeFramesComeOutUnchanged) {
  TSUPPORT_NEED_FIXTURES("mpa_lame_cbr.mp3");
  const std::string file = fixture("mpa_lame_cbr.mp3");
  const std::string out = tsupport::temp_dir() + "/l3";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("mpa-rescale " + sh_quote(file) + " " + sh_quote(out) + " 0.3", &lines), 0);
  EXPECT_EQ(tsupport::read_file(out), tsupport::read_file(file));
}

}  // namespace

namespace {

// Bit-flipped, truncated and random files through the command: no crash,
// no hang, whole samples out.
TEST(MpaDamage, FlippedTruncatedAndRandomFilesDecode) {
  TSUPPORT_NEED_FIXTURES("mpa_tl_j.mp2", "mpa_lame_vbr.mp3", "mpa_click.mp3", "mpa_lame_8000.mp3");
  const std::string dir = tsupport::temp_dir();
  uint32_t x = 99;
  auto next = [&] { return x = x * 1664525u + 1013904223u; };
  int n = 0;
  for (const char* name : {"mpa_tl_j.mp2", "mpa_lame_vbr.mp3", "mpa_click.mp3", "mpa_lame_8000.mp3"}) {
    const std::vector<uint8_t> clean = tsupport::read_file(fixture(name));
    ASSERT_FALSE(clean.empty());
    for (int variant = 0; variant < 3; ++variant) {
      std::vector<uint8_t> bad = clean;
      if (variant == 0) {
        for (int i = 0; i < 200; ++i) bad[next() % bad.size()] ^= static_cast<uint8_t>(1u << (next() % 8));
      } else if (variant == 1) {
        bad.resize(bad.size() / 2 + next() % 997);
      } else {
        for (uint8_t& b : bad) b = static_cast<uint8_t>(next() >> 24);
      }
      const std::string path = dir + "/bad" + std::to_string(n++);
      ASSERT_TRUE(tsupport::write_file(path, bad));
      const Decoded d = decode(path);
      EXPECT_EQ(d.status, 0) << name << " variant " << variant;
      const long long channels = tsupport::field_int(d.line, "channels");
      if (channels > 0) {
        EXPECT_EQ(d.pcm.size() % static_cast<size_t>(channels), 0u) << name;
      }
    }
  }
}

}  // namespace
