// The AC-3 core's command entry, CRC, transform and block concealment, run
// on frames of an ffmpeg-made stream.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/codec/ac3_block.h"
#include "audio/codec/ac3_core.h"
#include "audio/codec/ac3_core_state.h"
#include "audio/codec/ac3_decoder.h"
#include "audio/codec/ac3_tables.h"
#include "foundation/ac3.h"
#include "support.h"
#include "tests/audio/ac3_frame_tools.h"

namespace {

// Frames of a fixture as big-endian words, each with room for the reader.
std::vector<std::vector<uint16_t>> frames_of(const std::string& name) {
  const auto s = tsupport::read_file(tsupport::fixture(name));
  std::vector<std::vector<uint16_t>> out;
  for (const auto& f : ac3test::split_frames(s)) {
    auto w = ac3test::to_words(s.data() + f.offset, f.size);
    w.resize(w.size() + 4);
    out.push_back(std::move(w));
  }
  return out;
}

uint16_t high(const ac3_dec_result& r) { return static_cast<uint16_t>(r.word0 >> 16); }

// Runs the core block by block on whole frames.
struct Core {
  ac3_dec_state* s = ac3_dec_create();
  double out[6][256] = {};
  double* ptr[6];
  int16_t stride[6];
  ac3_dec_params p;
  Core(int mode = 2, int repeat_limit = 0) {
    for (int i = 0; i < 6; ++i) {
      ptr[i] = out[i];
      stride[i] = 1;
    }
    p.out = ptr;
    p.stride = stride;
    p.modes = ac3_mode_word(mode, 0, 0, 2, 2);
    p.repeat_limit = static_cast<uint16_t>(repeat_limit);
    ac3_dec_result r;
    ac3_dec_command(s, &r, AC3_CMD_RESET, nullptr);
  }
  ~Core() { ac3_dec_destroy(s); }
  // Decodes one block; returns its status.
  int block(const std::vector<uint16_t>& frame, int b, int error) {
    ac3_dec_result r;
    p.words = frame.data();
    if (b == 0) ac3_dec_command(s, &r, AC3_CMD_SYNC, &p);
    p.block = static_cast<uint16_t>(b);
    ac3_dec_command(s, &r, static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(error)) << 16 | 3), &p);
    return high(r);
  }
  double energy(int slot) const {
    double e = 0;
    for (double v : out[slot]) e += v * v;
    return e;
  }
};

}  // namespace

TEST(AC3Core, CommandResultWords) {
  ac3_dec_state* s = ac3_dec_create();
  ac3_dec_result r{1, &r};
  ac3_dec_command(s, &r, AC3_CMD_RESET, nullptr);
  EXPECT_EQ(r.word0, 0x0701u);
  EXPECT_EQ(r.word1, nullptr);
  for (int32_t bad : {4, -1, 0x7FFF}) {
    ac3_dec_command(s, &r, bad, nullptr);
    EXPECT_EQ(r.word0, 0xFFFFFFFFu);
    EXPECT_EQ(r.word1, nullptr);
  }
  ac3_dec_destroy(s);
}

TEST(AC3Core, SyncChecksInOrder) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  auto frames = frames_of("ac3d_stereo_48000.ac3");
  ASSERT_FALSE(frames.empty());
  struct Case {
    const char* name;
    void (*damage)(std::vector<uint16_t>&);
    int status;
  } cases[] = {
      {"intact", [](std::vector<uint16_t>&) {}, 0},
      {"no sync word, bsid also bad", [](std::vector<uint16_t>& w) { w[0] = 0x0B78; w[2] |= 0x00F8; }, 1},
      {"bsid 12", [](std::vector<uint16_t>& w) { w[2] = static_cast<uint16_t>((w[2] & ~0x00F8) | 12 << 3); }, 4},
      {"fscod 3", [](std::vector<uint16_t>& w) { w[2] |= 0xC000; }, 2},
      {"frmsizecod 38", [](std::vector<uint16_t>& w) { w[2] = static_cast<uint16_t>((w[2] & 0xC0FF) | 38 << 8); }, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto w = frames[0];
    c.damage(w);
    ac3_dec_state* s = ac3_dec_create();
    ac3_dec_params p;
    p.words = w.data();
    ac3_dec_result r;
    ac3_dec_command(s, &r, AC3_CMD_SYNC, &p);
    EXPECT_EQ(high(r), c.status);
    EXPECT_EQ(r.word0 & 0xFFFF, 0x0701u);
    if (c.status == 0) {
      const auto* info = static_cast<const ac3_dec_frame_info*>(r.word1);
      ASSERT_NE(info, nullptr);
      EXPECT_EQ(info->count, 10);
      EXPECT_EQ(info->word[1] + 4u, w.size());
      EXPECT_EQ(info->word[2], info->word[1] / 8 + info->word[1] / 2 - 1);
      EXPECT_EQ(info->word[0] & 7, 2);  // acmod
    }
    ac3_dec_destroy(s);
  }
}

TEST(AC3Core, BothCrcSpansOfIntactFramesCheck) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3", "ac3d_5_1_44100.ac3", "ac3d_mono_32000.ac3");
  for (const char* name : {"ac3d_stereo_48000.ac3", "ac3d_5_1_44100.ac3", "ac3d_mono_32000.ac3"}) {
    SCOPED_TRACE(name);
    for (const auto& w : frames_of(name)) {
      const int words = static_cast<int>(w.size()) - 4;
      const int n = words / 8 + words / 2 - 1;
      const uint16_t first = ac3_dec_crc(0, w.data() + 1, n);
      EXPECT_EQ(first, 0);
      EXPECT_EQ(ac3_dec_crc(first, w.data() + n + 1, words - n - 1), 0);
      auto bad = w;
      bad[words - 3] ^= 0x0100;
      EXPECT_NE(ac3_dec_crc(0, bad.data() + n + 1, words - n - 1), 0);
    }
  }
}

// The fast transform against A/52's formula evaluated directly: the long
// transform, and the two short ones whose phases differ by (2k+1) pi/2.
TEST(AC3Core, TransformEqualsTheDirectFormula) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 4; ++trial) {
    double X[256];
    for (double& v : X) v = u(rng) * (trial == 3 ? 1e-3 : 1.0);
    for (bool short_blocks : {false, true}) {
      SCOPED_TRACE(short_blocks ? "short" : "long");
      double x[512];
      ac3::imdct_window(X, short_blocks, x);
      double worst = 0, peak = 0;
      for (int n = 0; n < 512; ++n) {
        double s = 0;
        if (!short_blocks) {
          for (int k = 0; k < 256; ++k)
            s += X[k] * std::cos(2 * M_PI / 2048 * (2 * n + 1) * (2 * k + 1) + M_PI / 4 * (2 * k + 1));
        } else {
          const int half = n / 256, m = n % 256;
          for (int k = 0; k < 128; ++k)
            s += X[2 * k + half] * std::cos(2 * M_PI / 1024 * (2 * m + 1) * (2 * k + 1) + M_PI / 4 * (2 * k + 1) * 2 * half);
        }
        const double w = n < 256 ? ac3::kWindow[n] : ac3::kWindow[511 - n];
        const double expect = -s * w;
        worst = std::max(worst, std::fabs(x[n] - expect));
        peak = std::max(peak, std::fabs(expect));
      }
      EXPECT_LT(worst, peak * 1e-12);
    }
  }
}

TEST(AC3Core, WindowIsPowerComplementary) {
  for (int n = 0; n < 256; ++n) EXPECT_NEAR(ac3::kWindow[n] * ac3::kWindow[n] + ac3::kWindow[255 - n] * ac3::kWindow[255 - n], 1.0, 1e-12);
}

// Error input 1 at block 0 without a repeat limit: every block of the frame
// repeats the last intact block, so the tone goes on.
TEST(AC3Core, DamagedFrameRepeatsTheLastIntactBlock) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  auto frames = frames_of("ac3d_stereo_48000.ac3");
  Core c;
  for (int b = 0; b < 6; ++b) ASSERT_EQ(c.block(frames[5], b, 0), AC3_BLOCK_OK);
  const double level = c.energy(0);
  ASSERT_GT(level, 1.0);
  for (int b = 0; b < 6; ++b) {
    EXPECT_EQ(c.block(frames[6], b, 1), AC3_BLOCK_REPEAT);
    EXPECT_GT(c.energy(0), level * 0.3);
    EXPECT_LT(c.energy(0), level * 3.0);
  }
}

TEST(AC3Core, RepeatLimitMutesAndAnIntactBlockResetsIt) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  auto frames = frames_of("ac3d_stereo_48000.ac3");
  Core c(2, 2);
  for (int b = 0; b < 6; ++b) ASSERT_EQ(c.block(frames[5], b, 0), AC3_BLOCK_OK);
  const int expect[6] = {1, 1, 2, 2, 2, 2};
  for (int b = 0; b < 6; ++b) EXPECT_EQ(c.block(frames[6], b, 1), expect[b]) << b;
  EXPECT_EQ(c.energy(0), 0.0);  // the delay line has rung out
  EXPECT_EQ(c.block(frames[7], 0, 0), AC3_BLOCK_OK);
  EXPECT_EQ(c.block(frames[7], 1, 1), AC3_BLOCK_REPEAT);
  EXPECT_EQ(c.block(frames[7], 2, 1), AC3_BLOCK_REPEAT);
  EXPECT_EQ(c.block(frames[7], 3, 1), AC3_BLOCK_MUTE);
}

// A muted block outputs only the overlap tail of the block before it.
TEST(AC3Core, MutedBlockPlaysTheOverlapTail) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  auto frames = frames_of("ac3d_stereo_48000.ac3");
  Core c;
  for (int b = 0; b < 6; ++b) c.block(frames[5], b, 0);
  double tail[256];
  std::memcpy(tail, c.s->delay[0], sizeof tail);
  EXPECT_EQ(c.block(frames[6], 0, -1), AC3_BLOCK_MUTE);
  for (int n = 0; n < 256; ++n) ASSERT_DOUBLE_EQ(c.out[0][n], std::clamp(2.0 * tail[n], -1.0, 0.999999999));
  EXPECT_EQ(c.block(frames[6], 1, 0), AC3_BLOCK_MUTE);  // holds for the frame
  EXPECT_EQ(c.energy(0), 0.0);
}

// Changing the output mode clears the delay lines before the next
// transform: the first block equals a fresh decoder's in the new mode.
TEST(AC3Core, OutputModeChangeClearsTheDelayLines) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  auto frames = frames_of("ac3d_stereo_48000.ac3");
  Core c;
  for (int b = 0; b < 6; ++b) c.block(frames[5], b, 0);
  c.p.modes = ac3_mode_word(1, 0, 0, 2, 2);
  Core fresh(1);
  c.block(frames[6], 0, 0);
  fresh.block(frames[6], 0, 0);
  // (the two differ only by the dither of a few empty bins)
  for (int n = 0; n < 256; ++n) ASSERT_NEAR(c.out[1][n], fresh.out[1][n], 1e-4);
}

TEST(AC3Core, OutputStaysInRange) {
  TSUPPORT_NEED_FIXTURES("ac3d_5_1_48000.ac3");
  auto frames = frames_of("ac3d_5_1_48000.ac3");
  Core c;
  c.p.pcm_scale = 8.0;  // drive it into the limits
  for (auto& f : frames)
    for (int b = 0; b < 6; ++b) {
      c.block(f, b, 0);
      for (int o = 0; o < 6; ++o)
        for (double v : c.out[o]) {
          ASSERT_LE(v, 0.999999999);
          ASSERT_GE(v, -1.0);
        }
    }
}

// 1+1 streams: each dual-mono mode's mix of channel 1 (left input) and
// channel 2 (right input).
TEST(AC3Core, DualMonoMixSetUp) {
  ac3_dec_state* s = ac3_dec_create();
  s->bsi.acmod = 0;
  s->nfchans = 2;
  struct Case {
    int mode, dm;
    double l1, l2, r1, r2, c1, c2;
  } cases[] = {
      {2, 0, 1, 0, 0, 1, 0, 0},         {2, 1, 0.5, 0, 0.5, 0, 0, 0},   {2, 2, 0, 0.5, 0, 0.5, 0, 0},
      {2, 3, 0.5, 0.5, 0.5, 0.5, 0, 0}, {1, 0, 0, 0, 0, 0, 0.5, 0.5},   {1, 1, 0, 0, 0, 0, 1, 0},
      {1, 2, 0, 0, 0, 0, 0, 1},         {1, 3, 0, 0, 0, 0, 0.5, 0.5},   {7, 0, 1, 0, 0, 1, 0, 0},
      {7, 1, 0, 0, 0, 0, 1, 0},         {6, 2, 0, 0.5, 0, 0.5, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode * 10 + c.dm);
    s->effective_mode = s->output_mode = c.mode;
    s->dual_mono = c.dm;
    double mix[6][6];
    ac3::build_mix(s, mix);
    EXPECT_EQ(mix[0][0], c.l1);
    EXPECT_EQ(mix[0][1], c.l2);
    EXPECT_EQ(mix[2][0], c.r1);
    EXPECT_EQ(mix[2][1], c.r2);
    EXPECT_EQ(mix[1][0], c.c1);
    EXPECT_EQ(mix[1][1], c.c2);
  }
  ac3_dec_destroy(s);
}

// Lo/Ro levels from cmixlev and surmixlev, or from the extended levels when
// the stream has them; the mix is scaled so that an output cannot exceed
// full scale.
TEST(AC3Core, LoRoMixLevels) {
  ac3_dec_state* s = ac3_dec_create();
  s->bsi.acmod = 7;
  s->nfchans = 5;
  s->effective_mode = s->output_mode = 2;
  s->bsi.cmixlev = 2;    // -6 dB
  s->bsi.surmixlev = 1;  // -6 dB
  double mix[6][6];
  EXPECT_TRUE(ac3::build_mix(s, mix));  // overload: the sums exceed 1
  EXPECT_DOUBLE_EQ(mix[0][0], 0.5);      // 1 + 0.5 + 0.5 scaled by 1/2
  EXPECT_DOUBLE_EQ(mix[0][1], 0.25);
  EXPECT_DOUBLE_EQ(mix[2][1], 0.25);
  EXPECT_DOUBLE_EQ(mix[0][3], 0.25);
  EXPECT_DOUBLE_EQ(mix[2][4], 0.25);
  EXPECT_EQ(mix[0][4], 0.0);
  s->annex_d = 1;
  s->bsi.lorocmixlev = 4;    // -3 dB
  s->bsi.lorosurmixlev = 7;  // off
  ac3::build_mix(s, mix);
  EXPECT_NEAR(mix[0][1] / mix[0][0], 0.70710678, 1e-8);
  EXPECT_NEAR(mix[0][0] + mix[0][1], 1.0, 1e-12);
  EXPECT_EQ(mix[0][3], 0.0);
  // A mono source to two outputs at -3 dB: no overload, no scaling.
  s->bsi.acmod = 1;
  s->nfchans = 1;
  s->annex_d = 0;
  EXPECT_FALSE(ac3::build_mix(s, mix));
  EXPECT_NEAR(mix[0][0], 0.70710678, 1e-8);
  EXPECT_NEAR(mix[2][0], 0.70710678, 1e-8);
  ac3_dec_destroy(s);
}

// The test-side CRC writer gives back the encoder's own CRC words.
TEST(AC3FrameTools, FixCrcsRestoresTheEncodersWords) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3", "ac3d_5_1_44100.ac3");
  for (const char* name : {"ac3d_stereo_48000.ac3", "ac3d_5_1_44100.ac3"}) {
    SCOPED_TRACE(name);
    const auto s = tsupport::read_file(tsupport::fixture(name));
    AC3FrmHdr h;
    ASSERT_EQ(h.decode(s.data(), static_cast<int>(s.size()), 0), 0);
    std::vector<uint8_t> f(s.begin(), s.begin() + h.frame_size);
    const std::vector<uint8_t> original = f;
    f[2] = f[3] = f[h.frame_size - 2] = f[h.frame_size - 1] = 0;
    ac3test::fix_crcs(f.data(), h.frame_size);
    EXPECT_EQ(f, original);
  }
}

namespace {

void set_bits(std::vector<uint8_t>& f, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) {
    const size_t b = at + static_cast<size_t>(i);
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (b & 7));
    if ((v >> (n - 1 - i)) & 1)
      f[b >> 3] = static_cast<uint8_t>(f[b >> 3] | mask);
    else
      f[b >> 3] = static_cast<uint8_t>(f[b >> 3] & ~mask);
  }
}

std::vector<uint16_t> padded_words(const std::vector<uint8_t>& f) {
  auto w = ac3test::to_words(f.data(), static_cast<int>(f.size()));
  w.resize(w.size() + 4);
  return w;
}

}  // namespace

// Side information that fails (with CRCs that check) conceals the block and
// the rest of the frame instead of decoding with what was read. The frames
// are the test-side writer's 2/0 silent frames, whose block 0 layout is
// known: after blksw, dithflag (2 bits each), dynrnge, cplstre, cplinu,
// rematstr and 4 rematrix flags, two exponent strategies, then
//   chbwcod[0] chbwcod[1] (6 bits each), absexp[0] (4), groups (7 each) ...
TEST(AC3Core, DamagedSideInformationIsConcealed) {
  const auto good = ac3test::silent_frame(0, 20, 2, 0);
  const auto good_words = padded_words(good);  // the core reads a frame's words through its six blocks
  Core probe;
  ASSERT_EQ(probe.block(good_words, 0, 0), AC3_BLOCK_OK);
  const size_t chbwcod = ac3_dec_audio_start(probe.s) + 16;
  struct Case {
    const char* name;
    size_t at;
    uint32_t value;
    int bits;
    const char* message;
  } cases[] = {
      {"chbwcod 63", chbwcod, 63, 6, "xdcall: chbwcod too high"},
      {"exponents above 24", chbwcod + 16, 124, 7, "xdcall: exponent out of range"},
      {"exponent group 127", chbwcod + 16, 127, 7, "xdcall: exponent group out of range"},
      {"reuse of exponents in block 0", chbwcod - 4, 0, 2, "xdcall: trying to reuse exponent strategy in block 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bad = good;
    set_bits(bad, c.at, c.value, c.bits);
    ac3test::fix_crcs(bad.data(), static_cast<int>(bad.size()));
    const auto bad_words = padded_words(bad);
    Core core;
    for (int b = 0; b < 6; ++b) ASSERT_EQ(core.block(good_words, b, 0), AC3_BLOCK_OK);
    tsupport::TraceCapture cap;
    for (int b = 0; b < 6; ++b) EXPECT_EQ(core.block(bad_words, b, 0), AC3_BLOCK_REPEAT) << b;
    EXPECT_TRUE(cap.contains(c.message));
    for (int b = 0; b < 6; ++b) EXPECT_EQ(core.block(good_words, b, 0), AC3_BLOCK_OK) << b;
  }
  // Without an intact block before it, a damaged frame is muted.
  auto bad = good;
  set_bits(bad, chbwcod, 63, 6);
  ac3test::fix_crcs(bad.data(), static_cast<int>(bad.size()));
  const auto bad_words = padded_words(bad);
  Core fresh;
  EXPECT_EQ(fresh.block(bad_words, 0, 0), AC3_BLOCK_MUTE);
}

// A frame whose blocks claim more bits than it has: the reader stops at the
// frame's end and the block is concealed.
TEST(AC3Core, ReaderStaysInsideTheFrame) {
  TSUPPORT_NEED_FIXTURES("ac3d_stereo_48000.ac3");
  auto frames = frames_of("ac3d_stereo_48000.ac3");
  Core c;
  for (int b = 0; b < 6; ++b) c.block(frames[3], b, 0);
  auto w = frames[4];
  // Shrink the frame size code: the frame now ends long before its blocks.
  w[2] = static_cast<uint16_t>((w[2] & 0xC0FF) | 0 << 8);
  std::vector<uint16_t> words(w.begin(), w.begin() + 64 + 4);
  tsupport::TraceCapture cap;
  int concealed = 0;
  for (int b = 0; b < 6; ++b) concealed += c.block(words, b, 0) != AC3_BLOCK_OK;
  EXPECT_GT(concealed, 0);
}

// A hand-built 1+1 frame: each channel takes its own dialogue level and
// dynamic-range word (compression mode 2, full scales).
TEST(AC3Core, DualMonoChannelsTakeTheirOwnLevels) {
  ac3test::FrameLevels lv;
  lv.dialnorm = 31;
  lv.dialnorm2 = 20;  // 11 dB down
  lv.dynrng = 0x20;   // +6.02 dB
  lv.dynrng2 = 0xE0;  // -6.02 dB
  const auto f = ac3test::silent_frame(0, 20, 0, 0, lv);
  const auto w = padded_words(f);
  Core c;
  ASSERT_EQ(c.block(w, 0, 0), AC3_BLOCK_OK);
  EXPECT_EQ(c.s->bsi.acmod, 0);
  EXPECT_EQ(c.s->bsi.dialnorm2, 20);
  const double* g = c.s->gain[c.s->cur];
  EXPECT_DOUBLE_EQ(g[0], 2.0);
  // A cut under the overload of a 1.0 mix stays whole: 0.5 x -11 dB.
  EXPECT_NEAR(g[1], 0.5 * std::pow(10.0, -11.0 / 20.0), 1e-12);
  // The words hold for the frame's later blocks.
  ASSERT_EQ(c.block(w, 1, 0), AC3_BLOCK_OK);
  EXPECT_DOUBLE_EQ(c.s->gain[c.s->cur][0], 2.0);
}

// Two-channel output: stereo-downmix mode 0 follows the stream's preferred
// downmix (Lo/Ro only when it says so), modes 1 and 3 give Lt/Rt, whose
// surrounds enter the two sides in opposite phase.
TEST(AC3Core, StereoDownmixModeChoosesLoRoOrLtRt) {
  TSUPPORT_NEED_FIXTURES("ac3d_5_0_48000.ac3");
  auto frames = frames_of("ac3d_5_0_48000.ac3");
  struct Case {
    int stereo_mode;
    bool lo_ro;
  } cases[] = {{0, false}, {1, false}, {2, true}, {3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stereo_mode);
    Core core;
    core.p.modes = ac3_mode_word(2, 0, 0, c.stereo_mode, 2);
    ASSERT_EQ(core.block(frames[2], 0, 0), AC3_BLOCK_OK);
    EXPECT_EQ(core.s->effective_mode, c.lo_ro ? 2 : 0);
    double mix[6][6];
    ac3::build_mix(core.s, mix);
    // acmod 7: L C R Ls Rs
    if (c.lo_ro) {
      EXPECT_GT(mix[0][3], 0.0);
      EXPECT_EQ(mix[2][3], 0.0);
    } else {
      EXPECT_LT(mix[0][3], 0.0);
      EXPECT_GT(mix[2][3], 0.0);
      EXPECT_LT(mix[0][4], 0.0);
      EXPECT_GT(mix[2][4], 0.0);
    }
  }
}
