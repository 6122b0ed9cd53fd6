// Layer I, which none of the encoders here writes: a test-only frame writer
// makes streams with random allocations, scale factors and samples within
// the rules, in all four modes, with and without CRC, and our decode is
// compared with the peers'. Also the clipping of full-scale output.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "audio/codec/mpa_decoder.h"
#include "foundation/bitstream.h"
#include "mpa_compare.h"
#include "support.h"

namespace {

using tsupport::sh_quote;

// CRC-16 (x^16 + x^15 + x^2 + 1, start 0xFFFF) over bits, most significant
// first.
struct Crc16 {
  uint16_t v = 0xFFFF;
  void add(uint32_t bits, int n) {
    for (int i = n - 1; i >= 0; --i) {
      const bool in = (bits >> i & 1) != 0;
      const bool top = (v & 0x8000) != 0;
      v = static_cast<uint16_t>(v << 1);
      if (in != top) v ^= 0x8005;
    }
  }
};

struct Layer1Options {
  int mode;            // 0 stereo, 1 joint, 2 dual channel, 3 mono
  bool crc;
  int min_scale = 8;   // lowest scale-factor index (2 x 2^(-j/3)): keeps peaks moderate
  bool full_scale = false;  // every subband at its largest sample and scale factor 0
};

// One 48 kHz, 384 kbit/s frame (384 bytes, 3072 bits).
std::vector<uint8_t> layer1_frame(const Layer1Options& o, std::mt19937& rng) {
  const int size = 384;
  std::vector<uint8_t> f(size, 0);
  const int nch = o.mode == 3 ? 1 : 2;
  const int ext = o.mode == 1 ? static_cast<int>(rng() % 4) : 0;
  const int bound = o.mode == 1 ? 4 * ext + 4 : 32;
  // 1111 1111 1111 | ID 1 | layer 11 | protection | bitrate 1100 | 48 kHz 01
  // | padding 0 | private 0 | mode | extension | 0 | 0 | emphasis 00
  const uint32_t header = 0xFFF00000u | 1u << 19 | 3u << 17 | (o.crc ? 0u : 1u) << 16 | 12u << 12 | 1u << 10 |
                          static_cast<uint32_t>(o.mode) << 6 | static_cast<uint32_t>(ext) << 4;
  int alloc[2][32] = {};
  int budget = size * 8 - 32 - (o.crc ? 16 : 0);
  for (int sb = 0; sb < 32; ++sb) budget -= sb < bound ? 4 * nch : 4;
  auto cost = [&] {
    int bits = 0;
    for (int sb = 0; sb < 32; ++sb)
      for (int ch = 0; ch < nch; ++ch) {
        if (!alloc[ch][sb]) continue;
        bits += 6;
        if (sb < bound || ch == 0) bits += 12 * (alloc[ch][sb] + 1);
      }
    return bits;
  };
  for (int sb = 0; sb < 32; ++sb) {
    for (int ch = 0; ch < nch; ++ch) alloc[ch][sb] = o.full_scale ? 1 : static_cast<int>(rng() % 15);
    if (sb >= bound) alloc[1][sb] = alloc[0][sb];
  }
  while (cost() > budget) {  // drop random allocations until the frame fits
    const int sb = static_cast<int>(rng() % 32), ch = static_cast<int>(rng() % static_cast<uint32_t>(nch));
    if (alloc[ch][sb]) --alloc[ch][sb];
    if (sb >= bound) alloc[1][sb] = alloc[0][sb];
  }
  BitWriter w(f.data(), f.size(), 1);
  w.put_bits(header, 32);
  Crc16 crc;
  crc.add(header & 0xFFFF, 16);
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) crc.add(static_cast<uint32_t>(alloc[ch][sb]), 4);
  if (o.crc) w.put_bits(crc.v, 16);
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) w.put_bits(static_cast<uint32_t>(alloc[ch][sb]), 4);
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb])
        w.put_bits(o.full_scale ? 0u : static_cast<uint32_t>(o.min_scale + static_cast<int>(rng() % static_cast<uint32_t>(63 - o.min_scale))), 6);
  for (int s = 0; s < 12; ++s)
    for (int sb = 0; sb < 32; ++sb)
      for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) {
        const int nb = alloc[ch][sb] ? alloc[ch][sb] + 1 : 0;
        if (!nb) continue;
        // Any code but all ones; full scale: the largest, alternating sign
        // by slot so that the sum swings both ways.
        const uint32_t top = (1u << nb) - 2;
        const uint32_t v = o.full_scale ? (s & 1 ? 0u : top) : rng() % (top + 1);
        w.put_bits(v, nb);
      }
  w.flush();
  return f;
}

std::string write_stream(const Layer1Options& o, int frames, uint32_t seed, const std::string& name) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> s;
  for (int i = 0; i < frames; ++i) {
    const std::vector<uint8_t> f = layer1_frame(o, rng);
    s.insert(s.end(), f.begin(), f.end());
  }
  const std::string path = tsupport::temp_dir() + "/" + name;
  EXPECT_TRUE(tsupport::write_file(path, s));
  return path;
}

std::vector<int16_t> ours(const std::string& file) {
  const std::string out = file + ".pcm";
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("mpa-decode " + sh_quote(file) + " " + sh_quote(out), &lines), 0);
  return mpa_read_pcm(out);
}

struct ModeCase {
  const char* name;
  int mode;
  bool crc;
};

class MpaLayer1 : public ::testing::TestWithParam<ModeCase> {};

TEST_P(MpaLayer1, RandomFramesDecodeAsThePeersDo) {
  const ModeCase& c = GetParam();
  const Layer1Options o{c.mode, c.crc};
  const std::string file = write_stream(o, 40, 1000u + static_cast<uint32_t>(c.mode) * 2 + c.crc, "l1.mp1");
  const std::vector<int16_t> pcm = ours(file);
  ASSERT_EQ(pcm.size(), 40u * 384u * (c.mode == 3 ? 1u : 2u));
  // The writer's CRC words check. ffmpeg's layer I check covers the
  // allocation of both channels in every subband even in joint stereo, so
  // it is asked only about the other modes.
  if (c.crc && c.mode != 1) {
    std::string err;
    EXPECT_EQ(tsupport::run("ffmpeg -nostdin -v error -err_detect crccheck+explode -i " + sh_quote(file) +
                                " -f null - 2>&1",
                            &err),
              0);
    EXPECT_EQ(err, "");
  }
  const std::vector<PeerDecode> peers = mpa_peer_decodes(file, 1, c.mode == 3 ? 1 : 2);
  if (!mpa_expect_peers(pcm, peers, false, c.name)) GTEST_SKIP() << "no peer decoder installed";
}

INSTANTIATE_TEST_SUITE_P(Modes, MpaLayer1,
                         ::testing::Values(ModeCase{"stereo", 0, false}, ModeCase{"joint_crc", 1, true},
                                           ModeCase{"joint", 1, false}, ModeCase{"dual_crc", 2, true},
                                           ModeCase{"mono", 3, false}, ModeCase{"mono_crc", 3, true}),
                         [](const ::testing::TestParamInfo<ModeCase>& i) { return std::string(i.param.name); });

TEST(MpaClip, FullScaleOutputClipsAndNeverWraps) {
  Layer1Options o{0, false};
  o.full_scale = true;
  std::mt19937 rng(5);
  const std::vector<uint8_t> f = layer1_frame(o, rng);
  std::vector<uint8_t> s;
  for (int i = 0; i < 3; ++i) s.insert(s.end(), f.begin(), f.end());
  MpegAudioDecoder d;
  int16_t pcm[MpegAudioDecoder::kMaxOutput];
  size_t pos = 0;
  int highs = 0, lows = 0;
  for (int i = 0; i < 3; ++i) {
    const int n = d.decode_frame(s.data() + pos, static_cast<int>(s.size() - pos), pcm);
    ASSERT_EQ(n, 768);
    pos += static_cast<size_t>(d.consumed());
    for (int k = 0; k < n; ++k) {
      highs += pcm[k] == 32767;
      lows += pcm[k] == -32768;
    }
  }
  EXPECT_GT(highs, 0);
  EXPECT_GT(lows, 0);
  // Against the peers' unclipped float decodes, clipped: a wrapped sample
  // would be some 65536 off. madplay's fixed point wraps itself at these
  // levels; the two others outvote it.
  const std::string file = tsupport::temp_dir() + "/full.mp1";
  ASSERT_TRUE(tsupport::write_file(file, s));
  mpa_expect_peers(ours(file), mpa_peer_decodes(file, 1, 2), true, "full scale");
}

}  // namespace
