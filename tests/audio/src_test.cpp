// Sample-rate conversion: outputs against the weights applied to the
// mirrored-primed input, chunk invariance, the kernels' block and cycle
// counts, quality of the exact-phase 44.1 kHz members, refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/codec/src_convertor.h"
#include "audio/codec/src_kernels.h"
#include "support.h"

namespace {

using Pcm = std::vector<int16_t>;

Pcm noise(int frames, int channels, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-32768, 32767);
  Pcm v(size_t(frames) * channels);
  for (auto& s : v) s = int16_t(d(rng));
  return v;
}

// Converts `in` in chunks of `chunk` frames, then flushes.
Pcm convert_chunks(int out_rate, int out_ch, const Pcm& in, int in_rate, int in_ch, int chunk) {
  SampleRateConvertor src(out_rate, out_ch);
  Pcm out, buf(size_t(chunk) * 16 + 4096);
  const int frames = int(in.size()) / in_ch;
  for (int at = 0; at < frames; at += chunk) {
    const int n = std::min(chunk, frames - at);
    const int w = src.convert_rate(buf.data(), int(buf.size()), &in[size_t(at) * in_ch], n * in_ch, in_rate, in_ch, false);
    EXPECT_GE(w, 0);
    out.insert(out.end(), buf.begin(), buf.begin() + std::max(w, 0));
  }
  const int w = src.convert_rate(buf.data(), int(buf.size()), nullptr, 0, in_rate, in_ch, true);
  out.insert(out.end(), buf.begin(), buf.begin() + std::max(w, 0));
  return out;
}

int16_t round_clamp(int64_t s) {
  int64_t v = s >= 0 ? (s + 512) >> 10 : -((-s + 512) >> 10);
  return int16_t(std::clamp<int64_t>(v, -32768, 32767));
}

// Weights of one output: (frame, weight) pairs from the block's first frame.
struct W {
  int frame, weight;
};
using Block = std::vector<std::vector<W>>;

// The 32/48 kHz members as the weight tables give them, written out again
// here so that the test does not read the code's tables.
Block block_48_from_32() {
  return {{{2, 1024}},
          {{1, -24}, {2, 325}, {3, 791}, {4, -65}},
          {{2, -65}, {3, 791}, {4, 325}, {5, -24}},
          {{4, 1024}},
          {{3, -24}, {4, 325}, {5, 791}, {6, -65}},
          {{4, -65}, {5, 791}, {6, 325}, {7, -24}}};
}
Block block_32_from_48() {
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.push_back({{3 * i, -12}, {3 * i + 1, 161}, {3 * i + 2, 720}, {3 * i + 3, 161}, {3 * i + 4, -12}});
    b.push_back({{3 * i + 3, 515}, {3 * i + 4, 515}});
  }
  return b;
}

// One channel of the reference: blocks over the primed sequence x.
std::vector<int16_t> reference_fixed(const std::vector<int32_t>& x, const Block& blk, int in_block) {
  std::vector<int16_t> out;
  for (size_t base = 0; base + size_t(in_block) + 4 <= x.size(); base += size_t(in_block))
    for (const auto& o : blk) {
      int64_t s = 0;
      for (const W& w : o) s += int64_t(w.weight) * x[base + size_t(w.frame)];
      out.push_back(round_clamp(s));
    }
  return out;
}

// One channel through the plan's own taps, cycle by cycle (44.1 kHz members).
std::vector<int16_t> reference_plan(const std::vector<int32_t>& x, const SrcPlan& p) {
  std::vector<int16_t> out;
  size_t base = 0;
  for (int j = 0;; j = (j + 1) % p.cycle) {
    const bool lng = p.cycle == 40 && j == 39;
    const int in = lng ? p.long_in : p.in_block, outs = lng ? p.long_out : p.out_block;
    if (base + size_t(in) + 4 > x.size()) break;
    for (int m = 0; m < outs; ++m) {
      const SrcTap& t = p.block(j)[m];
      int64_t s = 0;
      for (int k = 0; k < 5; ++k)
        if (t.w[k]) s += int64_t(t.w[k]) * x[base + size_t(t.base + k)];
      out.push_back(round_clamp(s));
    }
    base += size_t(in);
  }
  return out;
}

// Channel c of the input as the kernels see it, primed with frames 1 and 0.
std::vector<int32_t> primed(const Pcm& in, int in_ch, int out_ch, int c) {
  std::vector<int32_t> x;
  const int frames = int(in.size()) / in_ch;
  auto at = [&](int f) -> int32_t {
    if (in_ch == 2 && out_ch == 1) return (int32_t(in[2 * size_t(f)]) + in[2 * size_t(f) + 1]) / 2;
    return in[size_t(f) * in_ch + size_t(in_ch == out_ch ? c : 0)];
  };
  x.push_back(at(1));
  x.push_back(at(0));
  for (int f = 0; f < frames; ++f) x.push_back(at(f));
  return x;
}

Pcm reference(int out_rate, int out_ch, const Pcm& in, int in_rate, int in_ch) {
  std::vector<std::vector<int16_t>> chans;
  for (int c = 0; c < out_ch; ++c) {
    const std::vector<int32_t> x = primed(in, in_ch, out_ch, c);
    if (out_rate == 48000 && in_rate == 32000) chans.push_back(reference_fixed(x, block_48_from_32(), 4));
    else if (out_rate == 32000 && in_rate == 48000) chans.push_back(reference_fixed(x, block_32_from_48(), 12));
    else chans.push_back(reference_plan(x, *src_plan(out_rate, in_rate)));
  }
  Pcm out;
  for (size_t i = 0; i < chans[0].size(); ++i)
    for (int c = 0; c < out_ch; ++c) out.push_back(chans[size_t(c)][i]);
  return out;
}

struct Pair {
  int out_rate, in_rate;
};
const Pair kPairs[] = {{48000, 32000}, {32000, 48000}, {44100, 32000}, {32000, 44100}, {44100, 48000}, {48000, 44100}};
const int kChannelCases[][2] = {{1, 1}, {2, 2}, {1, 2}, {2, 1}};  // in, out

int unit_of(int rate) { return rate == 44100 ? 11 : rate == 48000 ? 12 : 8; }

TEST(SrcConvert, OutputEqualsWeightsOnPrimedInputInAnyChunking) {
  for (const Pair& p : kPairs)
    for (const auto& cc : kChannelCases) {
      const int in_ch = cc[0], out_ch = cc[1];
      const int frames = 5000;
      const Pcm in = noise(frames, in_ch, uint32_t(p.out_rate + p.in_rate + in_ch * 7 + out_ch));
      const Pcm ref = reference(p.out_rate, out_ch, in, p.in_rate, in_ch);
      // Only the last two units, which the flush makes, may differ.
      const size_t tail = size_t(2 * unit_of(p.out_rate) + 2) * out_ch;
      const double ratio = double(p.out_rate) / p.in_rate;
      Pcm first;
      for (int chunk : {1, 7, 333, 1152}) {
        const Pcm out = convert_chunks(p.out_rate, out_ch, in, p.in_rate, in_ch, chunk);
        SCOPED_TRACE(::testing::Message() << p.out_rate << "<-" << p.in_rate << " " << in_ch << "->" << out_ch
                                          << " chunk " << chunk);
        EXPECT_NEAR(double(out.size()) / out_ch, frames * ratio, 2.0 * unit_of(p.out_rate) + 2);
        ASSERT_GE(std::min(out.size(), ref.size()), tail);
        const size_t n = std::min(out.size(), ref.size()) - tail;
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], ref[i]) << "sample " << i;
        if (first.empty()) first = out;
        EXPECT_EQ(out, first);
      }
    }
}

TEST(SrcConvert, HalfAndQuarterRatesAreRepeatedFirst) {
  struct Low {
    int rate, factor, raised;
  } lows[] = {{22050, 2, 44100}, {11025, 4, 44100}, {24000, 2, 48000},
              {16000, 2, 32000}, {12000, 4, 48000}, {8000, 4, 32000}};
  for (const Low& l : lows)
    for (int out_rate : {32000, 44100, 48000})
      for (const auto& cc : kChannelCases) {
        const int in_ch = cc[0], out_ch = cc[1];
        const Pcm in = noise(900, in_ch, uint32_t(l.rate + out_rate + in_ch));
        Pcm raised;
        for (size_t f = 0; f < in.size() / size_t(in_ch); ++f)
          for (int r = 0; r < l.factor; ++r)
            for (int c = 0; c < in_ch; ++c) raised.push_back(in[f * size_t(in_ch) + size_t(c)]);
        SCOPED_TRACE(::testing::Message() << out_rate << "<-" << l.rate << " " << in_ch << "->" << out_ch);
        const Pcm out = convert_chunks(out_rate, out_ch, in, l.rate, in_ch, 333);
        if (l.raised == out_rate) {
          Pcm want;
          for (size_t f = 0; f < raised.size() / size_t(in_ch); ++f) {
            const int16_t a = raised[f * size_t(in_ch)], b = in_ch == 2 ? raised[f * 2 + 1] : a;
            if (out_ch == 1) want.push_back(in_ch == 2 ? int16_t((int32_t(a) + b) / 2) : a);
            else { want.push_back(a); want.push_back(b); }
          }
          EXPECT_EQ(out, want);
        } else {
          const Pcm ref = reference(out_rate, out_ch, raised, l.raised, in_ch);
          const size_t tail = size_t(2 * unit_of(out_rate) + 2) * out_ch;
          const size_t n = std::min(out.size(), ref.size()) - tail;
          EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(n), ref.begin()));
        }
      }
}

TEST(SrcConvert, ChannelChangesAtOneRate) {
  const Pcm st = noise(100, 2, 5), mono = noise(100, 1, 6);
  SampleRateConvertor to_mono(48000, 1), to_stereo(48000, 2);
  Pcm out(400);
  ASSERT_EQ(to_mono.convert_rate(out.data(), 400, st.data(), 200, 48000, 2, false), 100);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(out[size_t(i)], (int32_t(st[2 * size_t(i)]) + st[2 * size_t(i) + 1]) / 2);
  ASSERT_EQ(to_stereo.convert_rate(out.data(), 400, mono.data(), 100, 48000, 1, false), 200);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(out[2 * size_t(i)] == mono[size_t(i)] && out[2 * size_t(i) + 1] == mono[size_t(i)]);
  // Stereo to mono truncates toward zero: (-3 + 0) / 2 = -1.
  const int16_t pair[2] = {-3, 0};
  ASSERT_EQ(to_mono.convert_rate(out.data(), 4, pair, 2, 48000, 2, false), 1);
  EXPECT_EQ(out[0], -1);
}

// The kernels' own block and cycle counts, as a convertor would call them:
// the cycle position continues from the counters across calls.
TEST(SrcKernel, CycleCountsInOneCallOrSeveral) {
  struct Case {
    int out_rate, in_rate, frames, outs;
  } cases[] = {{32000, 44100, 441, 320}, {44100, 32000, 320, 441}, {44100, 48000, 480, 441}, {48000, 44100, 441, 480}};
  for (const Case& c : cases) {
    const SrcPlan& p = *src_plan(c.out_rate, c.in_rate);
    const Pcm in = noise(c.frames + 8, 1, 3);
    Pcm out(600);
    int used = 0;
    EXPECT_EQ(src_kernel_c(p, out.data(), 1, in.data(), 1, c.frames, 0, &used), c.outs);
    EXPECT_EQ(used, c.frames);
    // Calls of 110, 110, 110 and 111 of the 441 (and the same split of others).
    const int quarter = c.frames / 4 / p.in_block * p.in_block;
    int at = 0, made = 0, j = 0;
    for (int call = 0; call < 4; ++call) {
      const int n = call < 3 ? quarter : c.frames - at;
      const int m = src_kernel_c(p, out.data() + made, 1, in.data() + at, 1, n, j, &used);
      j = int((p.cycle_by_output ? (made + m) / p.out_block : (at + used) / p.in_block) % 40);
      made += m;
      at += used;
    }
    EXPECT_EQ(at, c.frames) << c.out_rate << "<-" << c.in_rate;
    EXPECT_EQ(made, c.outs) << c.out_rate << "<-" << c.in_rate;
  }
}

TEST(SrcKernel, TelltaleWeightsCountsAndClamping) {
  const SrcPlan& p = *src_plan(48000, 32000);
  Pcm in(16, 0), out(32, 0);
  int used = 0;
  in[5] = 1024;
  ASSERT_EQ(src_kernel_c(p, out.data(), 1, in.data(), 1, 8, 0, &used), 12);
  EXPECT_EQ(used, 8);
  EXPECT_EQ(out[2], -24);
  EXPECT_EQ(out[4], 791);
  EXPECT_EQ(out[5], 791);
  EXPECT_EQ(out[7], -24);
  in[5] = -1024;
  src_kernel_c(p, out.data(), 1, in.data(), 1, 8, 0, &used);
  EXPECT_EQ(out[2], 24);
  EXPECT_EQ(out[4], -791);
  // 3 frames: nothing; 11 frames: 8 consumed, 12 written.
  EXPECT_EQ(src_kernel_c(p, out.data(), 1, in.data(), 1, 3, 0, &used), 0);
  EXPECT_EQ(used, 0);
  EXPECT_EQ(src_kernel_c(p, out.data(), 1, in.data(), 1, 11, 0, &used), 12);
  EXPECT_EQ(used, 8);
  Pcm full(16, 32767);
  src_kernel_c(p, out.data(), 1, full.data(), 1, 8, 0, &used);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out[size_t(i)], 32767);
  Pcm low(16, -32768);
  src_kernel_c(p, out.data(), 1, low.data(), 1, 8, 0, &used);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out[size_t(i)], -32768);
}

TEST(SrcKernel, TapsStayInsideConsumedPlusLookAhead) {
  for (const Pair& pr : kPairs) {
    const SrcPlan& p = *src_plan(pr.out_rate, pr.in_rate);
    for (int j = 0; j < p.cycle; ++j) {
      const bool lng = p.cycle == 40 && j == 39;
      const int in = lng ? p.long_in : p.in_block, outs = lng ? p.long_out : p.out_block;
      for (int m = 0; m < outs; ++m) {
        const SrcTap& t = p.block(j)[m];
        EXPECT_GE(t.base, 0);
        EXPECT_LE(t.base + 3 + (t.w[4] ? 1 : 0), in + 3) << pr.out_rate << "<-" << pr.in_rate << " j" << j;
      }
    }
  }
}

// SNR of a converted sine against the ideal sine (best phase and gain fit).
double sine_snr(int in_rate, int out_rate, double freq) {
  const int frames = in_rate;  // one second
  Pcm in(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) in[size_t(i)] = int16_t(std::lround(16000 * std::sin(2 * M_PI * freq * i / in_rate)));
  const Pcm out = convert_chunks(out_rate, 1, in, in_rate, 1, 1152);
  const size_t lo = 1000, hi = out.size() - 1000;
  double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
  for (size_t k = lo; k < hi; ++k) {
    const double a = 2 * M_PI * freq * double(k) / out_rate;
    const double s = std::sin(a), c = std::cos(a);
    ss += s * s; sc += s * c; cc += c * c; ys += out[k] * s; yc += out[k] * c;
  }
  const double det = ss * cc - sc * sc, A = (ys * cc - yc * sc) / det, B = (yc * ss - ys * sc) / det;
  double sig = 0, err = 0;
  for (size_t k = lo; k < hi; ++k) {
    const double a = 2 * M_PI * freq * double(k) / out_rate;
    const double ideal = A * std::sin(a) + B * std::cos(a);
    sig += ideal * ideal;
    err += (out[k] - ideal) * (out[k] - ideal);
  }
  return 10 * std::log10(sig / err);
}

TEST(SrcQuality, SinesKeepTheirFigures) {
  struct Q {
    int in, out;
    double freq, min_db;
  } qs[] = {{32000, 48000, 1000, 56}, {48000, 32000, 1000, 44},
            // The 44.1 kHz members at their exact phases.
            {44100, 48000, 1000, 50}, {48000, 44100, 1000, 50}, {32000, 44100, 1000, 50}, {44100, 32000, 1000, 50},
            {44100, 48000, 8000, 40}, {48000, 44100, 8000, 40}, {32000, 44100, 8000, 40}, {44100, 32000, 8000, 40}};
  for (const Q& q : qs) {
    const double snr = sine_snr(q.in, q.out, q.freq);
    EXPECT_GE(snr, q.min_db) << q.in << "->" << q.out << " at " << q.freq;
    std::printf("sine %d -> %d at %.0f Hz: %.1f dB\n", q.in, q.out, q.freq, snr);
  }
}

// Against sox's very-high-quality resampler on the same sine, aligned by
// whole output samples: the outputs sit on the exact grid of the input.
TEST(SrcQuality, SinesAgreeWithSox) {
  if (tsupport::run("command -v sox >/dev/null") != 0) GTEST_SKIP() << "sox is not installed";
  struct Q {
    int in, out;
    double freq, min_db;
  } qs[] = {{32000, 48000, 1000, 54}, {48000, 32000, 1000, 43}, {44100, 48000, 1000, 45}, {48000, 44100, 1000, 45},
            {32000, 44100, 1000, 45}, {44100, 32000, 1000, 45}};
  const std::string dir = tsupport::temp_dir();
  for (const Q& q : qs) {
    Pcm in(static_cast<size_t>(q.in));
    for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(std::lround(16000 * std::sin(2 * M_PI * q.freq * double(i) / q.in)));
    std::vector<uint8_t> bytes(in.size() * 2);
    std::memcpy(bytes.data(), in.data(), bytes.size());
    ASSERT_TRUE(tsupport::write_file(dir + "/in.pcm", bytes));
    ASSERT_EQ(tsupport::run("sox -t s16 -r " + std::to_string(q.in) + " -c 1 " + dir + "/in.pcm -t s16 -r " +
                            std::to_string(q.out) + " " + dir + "/sox.pcm rate -v"),
              0);
    const std::vector<uint8_t> sb = tsupport::read_file(dir + "/sox.pcm");
    Pcm sox(sb.size() / 2);
    std::memcpy(sox.data(), sb.data(), sox.size() * 2);
    const Pcm ours = convert_chunks(q.out, 1, in, q.in, 1, 1152);
    double best = -1e9;
    for (int d = -3; d <= 3; ++d) {
      double sig = 0, err = 0;
      for (size_t k = 2000; k + 2000 < std::min(ours.size(), sox.size()); ++k) {
        const double r = sox[k], o = ours[size_t(long(k) + d)];
        sig += r * r;
        err += (r - o) * (r - o);
      }
      best = std::max(best, 10 * std::log10(sig / std::max(err, 1.0)));
    }
    EXPECT_GE(best, q.min_db) << q.in << "->" << q.out;
    std::printf("sine %d -> %d at %.0f Hz against sox: %.1f dB\n", q.in, q.out, q.freq, best);
  }
}

TEST(SrcConvert, RefusesUnsupportedFormats) {
  tsupport::TraceCapture cap;
  SampleRateConvertor src(48000, 2);
  Pcm out(100), in(10, 0);
  EXPECT_EQ(src.convert_rate(out.data(), 100, in.data(), 10, 96000, 2, false), -1);
  EXPECT_EQ(src.convert_rate(out.data(), 100, in.data(), 10, 44100, 3, false), -1);
  EXPECT_EQ(src.convert_rate(out.data(), 100, in.data(), 10, 22000, 1, false), -1);
  EXPECT_TRUE(cap.contains("NOT supported"));
  EXPECT_EQ(src.set_output_format(22050, 2), 1);
  EXPECT_TRUE(cap.contains("SampleRateConvertor::set_output_format (ERROR): 22.1kHz is NOT supported"));
  EXPECT_EQ(src.out_rate(), 44100);
  EXPECT_EQ(src.set_output_format(8000, 6), 2);
  EXPECT_EQ(src.out_channels(), 2);
}

TEST(SrcConvert, RepetitionKeepsInputThatFindsNoRoom) {
  tsupport::TraceCapture cap;
  SampleRateConvertor src(44100, 2);
  const Pcm in = noise(10, 1, 9);
  Pcm out(100, 0);
  // 10 mono frames at 11025 Hz need 80 samples; 30 fit (3 frames x 4 x 2).
  EXPECT_EQ(src.convert_rate(out.data(), 30, in.data(), 10, 11025, 1, false), 24);
  EXPECT_TRUE(cap.contains("ERROR (convert_4x): output PCM buffer is too small"));
  Pcm all(out.begin(), out.begin() + 24);
  const int more = src.convert_rate(out.data(), 100, nullptr, 0, 11025, 1, false);
  EXPECT_EQ(more, 56);
  all.insert(all.end(), out.begin(), out.begin() + more);
  ASSERT_EQ(all.size(), 80u);
  for (size_t i = 0; i < 80; ++i) EXPECT_EQ(all[i], in[i / 8]);
}

TEST(SrcConvert, SmallOutputWaitsInsteadOfDropping) {
  tsupport::TraceCapture cap;
  const Pcm in = noise(3000, 2, 11);
  const Pcm whole = convert_chunks(48000, 2, in, 44100, 2, 3000);
  SampleRateConvertor src(48000, 2);
  Pcm out, buf(100);
  int w = src.convert_rate(buf.data(), 100, in.data(), 6000, 44100, 2, false);
  EXPECT_TRUE(cap.contains("WARNING (SRC::convert): out size = 100"));
  out.insert(out.end(), buf.begin(), buf.begin() + w);
  buf.resize(20000);
  w = src.convert_rate(buf.data(), 20000, nullptr, 0, 44100, 2, true);
  out.insert(out.end(), buf.begin(), buf.begin() + w);
  EXPECT_EQ(out, whole);
}

TEST(SrcConvert, FormatChangeFinishesHeldInputFirst) {
  const Pcm a = noise(500, 2, 1), b = noise(400, 1, 2);
  SampleRateConvertor src(48000, 2);
  Pcm buf(10000);
  const int w1 = src.convert_rate(buf.data(), 10000, a.data(), 1000, 44100, 2, false);
  const int w2 = src.convert_rate(buf.data() + w1, 10000 - w1, b.data(), 400, 32000, 1, false);
  const int w3 = src.convert_rate(buf.data() + w1 + w2, 10000 - w1 - w2, nullptr, 0, 32000, 1, true);
  const Pcm ra = convert_chunks(48000, 2, a, 44100, 2, 500), rb = convert_chunks(48000, 2, b, 32000, 1, 400);
  Pcm want = ra;
  want.insert(want.end(), rb.begin(), rb.end());
  EXPECT_EQ(Pcm(buf.begin(), buf.begin() + w1 + w2 + w3), want);
}

TEST(SrcConvert, BufferGrowsInStepsAndReadOutputKeepsHistory) {
  tsupport::TraceCapture cap;
  SampleRateConvertor src(48000, 2);
  src.resize_buffer(20000);
  EXPECT_TRUE(cap.contains("SampleRateConvertor::resize_buffer (): 18432 ==> 24576"));
  // A huge chunk grows the buffer and converts like small ones.
  const Pcm in = noise(40000, 2, 21);
  EXPECT_EQ(convert_chunks(48000, 2, in, 44100, 2, 40000), convert_chunks(48000, 2, in, 44100, 2, 1152));
  // Held samples (primed history plus input short of a unit) come out
  // except two frames.
  SampleRateConvertor held(48000, 1);
  Pcm out(64), few = {1, 2, 3};
  EXPECT_EQ(held.convert_rate(out.data(), 64, few.data(), 3, 32000, 1, false), 0);
  EXPECT_EQ(held.held(), 5);
  EXPECT_EQ(held.read_output(out.data(), 64), 3);
  EXPECT_EQ(Pcm(out.begin(), out.begin() + 3), (Pcm{2, 1, 1}));
  EXPECT_EQ(held.held(), 2);
}

TEST(SrcConvert, RandomCallSequencesSurvive) {
  std::mt19937 rng(77);
  const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
  SampleRateConvertor src(48000, 2);
  Pcm in = noise(20000, 2, 4), out(200000);
  for (int step = 0; step < 400; ++step) {
    const int rate = rates[rng() % 10], ch = 1 + int(rng() % 2);
    const int n = int(rng() % 4) == 0 ? 0 : int(rng() % 9000);
    const int cap = int(rng() % 3) == 0 ? int(rng() % 64) : int(out.size());
    const bool flush = rng() % 10 == 0;
    if (rng() % 25 == 0) src.set_output_format(rates[rng() % 10], 1 + int(rng() % 3));
    const int w = src.convert_rate(out.data(), cap, in.data(), std::min(n * ch, int(in.size())), rate, ch, flush);
    ASSERT_LE(w, cap);
  }
}

}  // namespace
