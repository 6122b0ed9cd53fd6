// Frame-rate conversion of re-encoded clips: over ten hours of frames every
// output frame shows the source frame of its time (within one frame), the
// output length is the rounded duration at the output's rate, and frames
// the encoder gives back leave the clock exactly where it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/seq_header.h"
#include "record/recorder_rate.h"

namespace {

struct RateCase {
  FrameRateRatio src, out;
};

const RateCase kCases[] = {
    {{25, 1}, {30000, 1001}},    {{30000, 1001}, {25, 1}}, {{24000, 1001}, {25, 1}},
    {{25, 1}, {24000, 1001}},    {{60000, 1001}, {25, 1}}, {{24, 1}, {60, 1}},
    {{30000, 1001}, {30000, 1001}},
};

std::string name(const RateCase& c) {
  return std::to_string(c.src.num) + "/" + std::to_string(c.src.den) + " -> " + std::to_string(c.out.num) + "/" +
         std::to_string(c.out.den);
}

// Source frames of `hours` at the source rate.
int64_t frames_of(const FrameRateRatio& r, int64_t hours) { return hours * 3600 * r.num / r.den; }

TEST(RecorderRate, TenHoursStayInStepAndLastTheRoundedDuration) {
  for (const RateCase& c : kCases) {
    SCOPED_TRACE(name(c));
    const int64_t count = frames_of(c.src, 10);
    RateClock clock(c.src, c.out);
    const long double ratio = (long double)(c.src.num * c.out.den) / (long double)(c.out.num * c.src.den);
    const int64_t outputs = clock.source_to_output_frames(count);
    EXPECT_EQ(outputs, std::llroundl((long double)count / ratio));
    int64_t prev = -1, repeats = 0, worst_k = 0;
    long double worst = 0;
    for (int64_t k = 0; k < outputs; ++k) {
      bool repeat = false;
      const int64_t s = clock.next_source(count - 1, &repeat);
      ASSERT_GE(s, prev) << "output frame " << k;
      ASSERT_LE(s, count - 1);
      ASSERT_EQ(repeat, s == prev) << "output frame " << k;
      repeats += repeat;
      // The source frame shown lies within one frame of the output time.
      const long double off = std::fabs((long double)s - (long double)k * ratio);
      if (off > worst) worst = off, worst_k = k;
      prev = s;
    }
    EXPECT_LE(worst, 1.0L) << "at output frame " << worst_k;
    // The clip's last frame is reached, and nothing after it.
    EXPECT_GE(prev, count - 2);
    EXPECT_EQ(clock.produced(), outputs);
    // Frames repeat only where the output runs faster than the source.
    EXPECT_EQ(repeats > 0, ratio < 1);
  }
}

TEST(RecorderRate, FramesBehindRoundsTheLagInTheRightUnit) {
  // 30000/1001 to 25: one output frame (40 ms) ahead of the source by 3
  // frames of 33.4 ms is 0.2 source frames: in step. After 3 output frames
  // (120 ms) and 3 source frames (100.1 ms) the lag is 0.6 source frames: one
  // behind.
  RateClock down({30000, 1001}, {25, 1});
  EXPECT_EQ(down.frames_behind(), 0);
  for (int i = 0; i < 3; ++i) down.next_source(1000);
  EXPECT_EQ(down.frames_behind(), 1);
  // 25 to 30000/1001: 3 output frames (100.1 ms) against 3 source frames
  // (120 ms) is 0.6 output frames ahead: -1.
  RateClock up({25, 1}, {30000, 1001});
  for (int i = 0; i < 3; ++i) up.next_source(1000);
  EXPECT_EQ(up.frames_behind(), -1);
  bool repeat = false;
  EXPECT_EQ(up.next_source(1000, &repeat), 2);
  EXPECT_TRUE(repeat);
}

TEST(RecorderRate, GivenBackFramesComeOutAgainTheSame) {
  // Hand back up to three frames after every twelfth: the frames shown are
  // those of a clock never handed back, over an hour of each conversion.
  for (const RateCase& c : kCases) {
    SCOPED_TRACE(name(c));
    const int64_t count = frames_of(c.src, 1);
    RateClock plain(c.src, c.out), back(c.src, c.out);
    const int64_t outputs = plain.source_to_output_frames(count);
    std::vector<int64_t> want(static_cast<size_t>(outputs));
    for (int64_t k = 0; k < outputs; ++k) want[size_t(k)] = plain.next_source(count - 1);
    int64_t k = 0, handed = 0, last_back = 0;
    while (k < outputs) {
      ASSERT_EQ(back.next_source(count - 1), want[size_t(k)]) << "output frame " << k;
      ++k;
      if (k % 12 == 0 && k > last_back) {
        last_back = k;
        const int n = int(k / 12 % 4);
        ASSERT_EQ(back.hand_back(n), n);
        k -= n;
        handed += n;
        ASSERT_EQ(back.produced(), k);
      }
    }
    EXPECT_GT(handed, 0);
    EXPECT_EQ(back.stepped(), plain.stepped());
  }
  // Only what is remembered can be given back.
  RateClock c({25, 1}, {25, 1});
  for (int i = 0; i < RateClock::kHistory + 10; ++i) c.next_source(1 << 20);
  EXPECT_EQ(c.hand_back(RateClock::kHistory + 10), RateClock::kHistory);
  EXPECT_EQ(c.produced(), 10);
  EXPECT_EQ(c.stepped(), 10);
}

TEST(RecorderRate, SequenceHeaderRates) {
  struct Case {
    int code, ext_n, ext_d;
    int64_t num, den;
  } cases[] = {
      {1, 0, 0, 24000, 1001}, {2, 0, 0, 24, 1}, {3, 0, 0, 25, 1},  {4, 0, 0, 30000, 1001}, {5, 0, 0, 30, 1},
      {6, 0, 0, 50, 1},       {7, 0, 0, 60000, 1001}, {8, 0, 0, 60, 1}, {0, 0, 0, 30000, 1001}, {15, 0, 0, 30000, 1001},
      {3, 1, 1, 25, 1},       {3, 0, 1, 25, 2},
  };
  for (const Case& c : cases) {
    SeqHdr s;
    s.setup(352, 288, 1500000, 25.0, 1);
    s.frame_rate_code = c.code;
    ASSERT_TRUE(s.seq_ext);
    s.seq_ext->frame_rate_extension_n = c.ext_n;
    s.seq_ext->frame_rate_extension_d = c.ext_d;
    const FrameRateRatio r = seq_frame_rate_ratio(s);
    EXPECT_EQ(r.num * c.den, c.num * r.den) << "code " << c.code << " ext " << c.ext_n << "/" << c.ext_d;
  }
}

}  // namespace
