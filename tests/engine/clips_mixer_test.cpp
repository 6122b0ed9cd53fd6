// Mixer operations against samples worked out here from the gain rules:
// gains in 1/256 steps, truncated, results clamped to 16 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/clips/mixer.h"
#include "support/support.h"

namespace {

short clamp16(long v) { return short(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// Independent model: the output sample of operation id at (t, len).
short expected(int id, double t, double len, short a, short b) {
  auto faded = [](int g, short x) -> short {
    if (g <= 0) return 0;
    if (g >= 256) return x;
    return clamp16((long(x) * g) >> 8);
  };
  switch (id) {
    case 0: return a;
    case 1: return faded(int(std::trunc(t / len * 256)), a);
    case 2: return faded(256 - int(std::trunc(t / len * 256)), a);
    case 3: {
      const double h = len / 2;
      if (t < h) return faded(256 - int(std::trunc(t / h * 256)), a);
      return faded(int(std::trunc((t - h) / h * 256)), b);
    }
    default: {
      const int g = int(std::trunc(t / len * 256));
      if (g == 0) return a;
      if (g == 256) return b;
      return clamp16((long(a) * (256 - g) + long(b) * g) >> 8);
    }
  }
}

TEST(Mixer, RegistryOrderAndNames) {
  int n = 0;
  const char* const* names = mixer_op_get_names(&n);
  ASSERT_EQ(n, 5);
  const char* want[] = {"None", "beginning fade", "ending fade", "cross over", "blend"};
  const int kinds[] = {1, 1, 1, 2, 2};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(names[i], want[i]);
    EXPECT_EQ(mixer_op_get_kind(i), kinds[i]);
  }
  EXPECT_EQ(mixer_op_get_function(5), nullptr);
  EXPECT_EQ(mixer_op_get_function(-1), nullptr);
  // A second registration of the same operation is ignored.
  EXPECT_EQ(mixer_op_manager()->add_op(mixer_blend, 0), -1);
  EXPECT_EQ(mixer_op_get_count(), 5);
}

TEST(Mixer, EveryOperationMatchesModel) {
  const short in1[] = {0, 1, -1, 1000, -1000, 32767, -32768, 12345, -23456, 255};
  const short in2[] = {32767, -32768, 7, -7, 300, 32767, -32768, -12345, 23456, 256};
  const int n = int(std::size(in1));
  const double len = 2.0;
  for (int id = 0; id < 5; ++id) {
    for (double t : {0.0, 0.001, 0.25, 0.5, 0.75, 0.999, 1.0, 1.001, 1.5, 1.99, 2.0}) {
      std::vector<short> out(size_t(n), 99);
      mixer_op_get_function(id)(t, len, n, out.data(), in1, in2, nullptr);
      for (int i = 0; i < n; ++i)
        EXPECT_EQ(out[size_t(i)], expected(id, t, len, in1[i], in2[i])) << "id " << id << " t " << t << " i " << i;
    }
  }
}

TEST(Mixer, EdgeCases) {
  const short a[] = {32767, -32768, 100};
  const short b[] = {32767, -32768, -100};
  short out[3];
  mixer_fade_beginning(0, 1, 3, out, a, b, nullptr);
  EXPECT_EQ(out[0], 0);
  mixer_fade_beginning(1, 1, 3, out, a, b, nullptr);
  EXPECT_EQ(out[0], 32767);
  // cross over is silent at exactly half the span
  mixer_cross_over(0.5, 1, 3, out, a, b, nullptr);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[2], 0);
  // blend at half: the mean, full scale stays full scale
  mixer_blend(0.5, 1, 3, out, a, b, nullptr);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], -32768);
  EXPECT_EQ(out[2], 0);
}

// A span of no length used to divide by zero (infinite gains, converted to
// int: undefined). The span is over at once instead.
TEST(Mixer, ZeroLengthSpanIsOverAtOnce) {
  const short a[] = {1000, -1000};
  const short b[] = {-5, 5};
  short out[2];
  mixer_fade_beginning(0, 0, 2, out, a, b, nullptr);
  EXPECT_EQ(out[0], 1000);
  mixer_fade_ending(0, 0, 2, out, a, b, nullptr);
  EXPECT_EQ(out[0], 0);
  mixer_cross_over(0, 0, 2, out, a, b, nullptr);
  EXPECT_EQ(out[0], -5);
  mixer_blend(0, 0, 2, out, a, b, nullptr);
  EXPECT_EQ(out[0], -5);
  mixer_blend(5, -1, 2, out, a, b, nullptr);
  EXPECT_EQ(out[1], 5);
}

TEST(Mixer, DevCommandBlocksAndSamples) {
  const std::string dir = tsupport::temp_dir();
  // 3 blocks of 4 samples per channel, stereo, at 8 Hz over a 1.5 s span.
  std::vector<short> a(24), b(24);
  for (int i = 0; i < 24; ++i) {
    a[size_t(i)] = short(1000 * (i + 1));
    b[size_t(i)] = short(-500 * (i + 1));
  }
  auto save = [](const std::string& path, const std::vector<short>& s) {
    std::vector<uint8_t> bytes(s.size() * 2);
    std::memcpy(bytes.data(), s.data(), bytes.size());
    return tsupport::write_file(path, bytes);
  };
  ASSERT_TRUE(save(dir + "/a.s16", a));
  ASSERT_TRUE(save(dir + "/b.s16", b));
  for (int id = 0; id < 5; ++id) {
    const bool two = mixer_op_get_kind(id) == 2;
    std::vector<std::string> lines;
    const std::string args = "mix " + std::to_string(id) + " 1.5 8 2 " + dir + "/a.s16 " +
                             (two ? dir + "/b.s16 " : "") + dir + "/out.s16 --block 4";
    ASSERT_EQ(tsupport::dev(args, &lines), 0) << args;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(tsupport::field_int(lines[0], "blocks"), 3);
    EXPECT_EQ(tsupport::field_int(lines[0], "kind"), two ? 2 : 1);
    const auto bytes = tsupport::read_file(dir + "/out.s16");
    ASSERT_EQ(bytes.size(), 48u);
    for (int i = 0; i < 24; ++i) {
      short got;
      std::memcpy(&got, bytes.data() + 2 * i, 2);
      const double t = (i / 8) * 4 / 8.0;
      EXPECT_EQ(got, expected(id, t, 1.5, a[size_t(i)], b[size_t(i)])) << id << " " << i;
    }
  }
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("mix 3 1.5 8 2 " + dir + "/a.s16 " + dir + "/out.s16", &lines), 2);
  EXPECT_EQ(tsupport::dev("mix 9 1.5 8 2 " + dir + "/a.s16 " + dir + "/out.s16", &lines), 1);
  ASSERT_EQ(tsupport::dev("mix --list", &lines), 0);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "mixer id=3 kind=2 name=cross over");
}

}  // namespace
