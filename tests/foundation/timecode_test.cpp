#include <gtest/gtest.h>

#include <string>

#include "foundation/mpeg_fields.h"
#include "foundation/timecode.h"

namespace {

SMPTE_TimeCode at_rate(double rate, int drop = 0) {
  SMPTE_TimeCode tc;
  tc.set_frame_rate(rate);
  tc.init(drop);
  return tc;
}

std::string text_of(const SMPTE_TimeCode& tc, int short_form = 0) {
  char buf[SMPTE_TEXT_SIZE];
  return tc.to_string(buf, short_form);
}

std::string parsed(const char* text, double rate, int* drop) {
  char out[SMPTE_TEXT_SIZE] = "unchanged";
  return parse_time_code_text(text, rate, drop, out) ? std::string(out) : std::string("FAIL");
}

}  // namespace

// frame -> time code -> text -> time code, and -> 25-bit GOP word -> frame,
// at every MPEG frame rate; drop-frame only at 29.97.
TEST(TimeCode, RoundTripsAtEveryFrameRate) {
  const struct {
    int code, drop, frame;
    const char* text;
  } cases[] = {
      {1, 0, 0, "00:00:00:00"},          {1, 0, 23, "00:00:00:23"},        {1, 0, 24, "00:00:01:00"},
      {1, 0, 86400 * 24 - 1, "23:59:59:23"}, {2, 0, 1439, "00:00:59:23"},  {3, 0, 90000, "01:00:00:00"},
      {3, 0, 90000 * 24 - 1, "23:59:59:24"}, {4, 0, 1800, "00:01:00:00"},  {4, 0, 107892, "00:59:56:12"},
      {4, 1, 1799, "00:00:59;29"},       {4, 1, 1800, "00:01:00;02"},      {4, 1, 3597, "00:01:59;29"},
      {4, 1, 3598, "00:02:00;02"},       {4, 1, 17981, "00:09:59;29"},     {4, 1, 17982, "00:10:00;00"},
      {4, 1, 107891, "00:59:59;29"},     {4, 1, 107892, "01:00:00;00"},    {4, 1, 107892 * 24 - 1, "23:59:59;29"},
      {5, 0, 108000, "01:00:00:00"},     {6, 0, 2999, "00:00:59:49"},      {7, 0, 3600, "00:01:00:00"},
      {7, 1, 3600, "00:01:00:00"},  // drop refused at 59.94
      {8, 0, 216000 * 24 - 1, "23:59:59:59"},
  };
  for (const auto& c : cases) {
    const double rate = mpeg_get_frame_rate(c.code);
    SCOPED_TRACE(testing::Message() << "code " << c.code << " drop " << c.drop << " frame " << c.frame);
    SMPTE_TimeCode tc = at_rate(rate, c.drop);
    tc.smpte_4_gop(c.frame);
    EXPECT_EQ(text_of(tc), c.text);
    EXPECT_EQ(tc.to_frame(), c.frame);

    SMPTE_TimeCode from_text = at_rate(rate, c.drop);
    EXPECT_EQ(from_text.string_2_time(c.text), 0);
    EXPECT_EQ(from_text, tc);

    const uint32_t word = tc.to_gop_bits();
    EXPECT_EQ(word, tc25_word_from_frame(c.frame, rate, tc.get_drop_frame_flag()));
    EXPECT_EQ(tc25_to_frame(word, rate), c.frame);
    SMPTE_TimeCode from_word = at_rate(rate);
    EXPECT_EQ(from_word.set_gop_bits(word), 0);
    EXPECT_EQ(from_word, tc);
  }
}

TEST(TimeCode, EveryFrameOfADayRoundTrips) {
  for (int drop : {1, 0}) {
    const double rate = drop ? 30000.0 / 1001 : 25.0;
    const int day = drop ? 107892 * 24 : 90000 * 24;
    SMPTE_TimeCode tc = at_rate(rate, drop);
    SMPTE_TimeCode back = at_rate(rate);
    uint32_t previous = 0;
    for (int frame = 0; frame < day; ++frame) {
      tc.smpte_4_gop(frame);
      ASSERT_EQ(tc.to_frame(), frame);
      const uint32_t word = tc.to_gop_bits();
      ASSERT_GT(word, previous) << frame;  // time codes rise monotonically
      previous = word;
      ASSERT_EQ(tc25_to_frame(word, rate), frame);
      ASSERT_EQ(back.set_gop_bits(word), 0) << frame;
    }
    tc.smpte_4_gop(day);  // the next day starts at 00:00:00:00 again
    EXPECT_EQ(tc.to_frame(), 0);
  }
}

TEST(TimeCode, FreeFunctionsAndDropRules) {
  int h, m, s, p;
  // Drop requested at 25: non-drop split, yet the word carries the flag.
  tc25_from_frame(1800, 25.0, 1, &h, &m, &s, &p);
  EXPECT_EQ(h * 1000000 + m * 10000 + s * 100 + p, 11200);
  const uint32_t word = tc25_word_from_frame(1800, 25.0, 1);
  EXPECT_EQ(word >> 24, 1u);
  EXPECT_EQ(gop_time_code_from_frame(1800, 25.0, 1), word);
  char buf[SMPTE_TEXT_SIZE];
  EXPECT_STREQ(time_code_to_string(word, buf), "0:01:12;00");
  EXPECT_STREQ(time_code_to_string(tc25_word_from_frame(1800, 30000.0 / 1001, 1), buf), "0:01:00;02");
  EXPECT_STREQ(time_code_to_string(tc25_word_from_frame(1800, 30000.0 / 1001, 0), buf), "0:01:00:00");

  // The flag survives into smpte_4_gop only at code 4.
  SMPTE_TimeCode pal = at_rate(25.0);
  pal.set_field(1, SMPTE_DROP);
  pal.smpte_4_gop(1800);
  EXPECT_EQ(pal.get_drop_frame_flag(), 0);
  EXPECT_EQ(text_of(pal), "00:01:12:00");
  pal.init(1);
  EXPECT_EQ(pal.get_drop_frame_flag(), 0);

  // Hours wrap at 24.
  SMPTE_TimeCode ntsc = at_rate(30000.0 / 1001, 1);
  ntsc.smpte_4_gop(24 * 107892);
  EXPECT_EQ(text_of(ntsc), "00:00:00;00");
  ntsc.smpte_4_gop(25 * 107892 + 1800);
  EXPECT_EQ(text_of(ntsc), "01:01:00;02");

  // 23.976 counts in whole 24ths.
  SMPTE_TimeCode film = at_rate(24000.0 / 1001);
  film.smpte_4_gop(24 * 3600);
  EXPECT_EQ(text_of(film), "01:00:00:00");
  EXPECT_NEAR(film.get_seconds(), 3600 * 1.001, 1e-9);
  film.set_seconds(3600 * 1.001);
  EXPECT_EQ(film.to_frame(), 24 * 3600);
}

TEST(TimeCode, GopBitsAreCorrectedAndCounted) {
  // hours 25, minutes 61, drop set, at 25 fps: three corrections.
  const uint32_t word = (1u << 24) | (25u << 19) | (61u << 13) | (1u << 12) | (0u << 6) | 3u;
  SMPTE_TimeCode tc = at_rate(25.0);
  EXPECT_EQ(tc.set_gop_bits(word), 3);
  EXPECT_EQ(text_of(tc), "01:01:00:03");
  // Seconds 63 and pictures 30 at 29.97 drop-frame; minute 5 at second 0 makes
  // pictures 0 -> 2 after the wrap.
  SMPTE_TimeCode df = at_rate(30000.0 / 1001, 1);
  EXPECT_EQ(df.set_gop_bits((1u << 24) | (5u << 13) | (1u << 12) | (0u << 6) | 30u), 2);
  EXPECT_EQ(text_of(df), "00:05:00;02");
  EXPECT_EQ(df.set_gop_bits((5u << 13) | (1u << 12) | (63u << 6) | 0u), 1);
  EXPECT_EQ(text_of(df), "00:05:03:00");
}

TEST(TimeCode, TextParsing) {
  const struct {
    const char* text;
    double rate;
    int drop_in;
    const char* out;
    int drop_out;
  } cases[] = {
      {" 1:02:03 ", 25, 0, "00:01:02:03", 0},
      {"\t12\n", 25, 0, "00:00:00:12", 0},
      {"5:07", 25, 0, "00:00:05:07", 0},
      {"23:59:59:24", 25, 0, "23:59:59:24", 0},
      {"0001:02:03:04", 25, 0, "01:02:03:04", 0},  // the first group may be long
      {"1:2:25", 25, 0, "FAIL", 0},                // pictures not below 25
      {"1:123:00", 25, 0, "FAIL", 0},              // three digits after a separator
      {"24:00:00:00", 25, 0, "FAIL", 0},
      {"00:60:00:00", 25, 0, "FAIL", 0},
      {"1:2:3:4:5", 25, 0, "FAIL", 0},
      {"1::2", 25, 0, "FAIL", 0},
      {"1:2:", 25, 0, "FAIL", 0},
      {":1:2", 25, 0, "FAIL", 0},
      {"1.2", 25, 0, "FAIL", 0},
      {"1:2a", 25, 0, "FAIL", 0},
      {"", 25, 0, "FAIL", 0},
      {"   ", 25, 0, "FAIL", 0},
      {"99999999999999999999", 25, 0, "FAIL", 0},
      {"0;01;00;00", 30000.0 / 1001, 0, "00:01:00:02", 1},
      {"0:01:00;00", 30000.0 / 1001, 0, "00:01:00:00", 0},  // one ';' is not enough
      {"0:01:00:00", 30000.0 / 1001, 1, "00:01:00:02", 1},
      {"0:10:00:00", 30000.0 / 1001, 1, "00:10:00:00", 1},
      {"0;01;00;00", 25, 0, "00:01:00:00", 0},
      // ';' means drop-frame only at a genuine 29.97, not at other rates.
      {"0;01;00;00", 12.0, 0, "00:01:00:00", 0},
      {"0;01;00;00", 29.9, 0, "00:01:00:00", 0},
  };
  for (const auto& c : cases) {
    int drop = c.drop_in;
    EXPECT_EQ(parsed(c.text, c.rate, &drop), c.out) << '"' << c.text << "\" at " << c.rate;
    EXPECT_EQ(drop, c.drop_out) << c.text;
  }
  int drop = 0;
  EXPECT_EQ(parse_time_code_text(nullptr, 25, &drop, nullptr), 0);
  char out[SMPTE_TEXT_SIZE];
  EXPECT_EQ(parse_time_code_text("1:02", 25, nullptr, out), 1);

  int h = -1, m = -1, s = -1, p = -1;
  EXPECT_EQ(string_2_time_split("0;01;00;00", 30000.0 / 1001, 0, &h, &m, &s, &p), 0);
  EXPECT_EQ(h * 1000000 + m * 10000 + s * 100 + p, 10002);
  EXPECT_EQ(string_2_time_split("x", 25, 0, &h, &m, &s, &p), 1);
}

TEST(TimeCode, StringToTimeKeepsTheStoredDropFlagAndRate) {
  SMPTE_TimeCode tc = at_rate(30000.0 / 1001);
  EXPECT_EQ(tc.string_2_time("0;01;00;00"), 0);
  EXPECT_EQ(text_of(tc), "00:01:00:02");  // corrected, but the flag is not taken
  EXPECT_EQ(tc.get_frame_rate_code(), 4);
}

// A bad text used to wipe the time code, turning a PAL time code into 29.97.
TEST(TimeCode, FailedParseLeavesTimeCodeUnchanged) {
  for (double rate : {25.0, 12.0}) {
    SMPTE_TimeCode tc = at_rate(rate);
    tc.smpte_4_gop(1234);
    const SMPTE_TimeCode before = tc;
    EXPECT_EQ(tc.string_2_time("12:xx"), 1);
    EXPECT_EQ(tc.string_2_time(nullptr), 1);
    EXPECT_EQ(tc.string_2_time("1:2:3:99"), 1);
    EXPECT_EQ(tc, before) << rate;
    EXPECT_DOUBLE_EQ(tc.get_frame_rate(), rate);
  }
}

TEST(TimeCode, ShortTextForms) {
  SMPTE_TimeCode tc = at_rate(25.0);
  EXPECT_EQ(tc.string_2_time("00:00:05:10"), 0);
  EXPECT_EQ(text_of(tc, 1), "5:10");
  EXPECT_EQ(tc.string_2_time("00:12:05:10"), 0);
  EXPECT_EQ(text_of(tc, 1), "12:05:10");
  SMPTE_TimeCode df = at_rate(30000.0 / 1001, 1);
  EXPECT_EQ(df.string_2_time("01:02:03:04"), 0);
  EXPECT_EQ(text_of(df, 1), "1:02:03;04");
  EXPECT_EQ(text_of(df, 0), "01:02:03;04");
}

TEST(TimeCode, FrameRateChanges) {
  SMPTE_TimeCode tc = at_rate(30000.0 / 1001);
  tc.string_2_time("00:00:01:15");
  tc.set_frame_rate(25.0);
  EXPECT_EQ(text_of(tc), "00:00:01:13");  // 15 x 25 / 29.97 + 0.5
  EXPECT_EQ(tc.get_frame_rate_code(), 3);

  // A non-MPEG rate keeps the frame number.
  tc = at_rate(25.0);
  tc.smpte_4_gop(25 * 61 + 7);
  tc.set_frame_rate(12.0);
  EXPECT_EQ(tc.get_explicit_rate(), 12);
  EXPECT_EQ(tc.get_frame_rate_code(), 8);
  EXPECT_EQ(tc.to_frame(), 25 * 61 + 7);
  EXPECT_EQ(text_of(tc), "00:02:07:08");
  tc.init(1);  // no drop-frame at an explicit rate
  EXPECT_EQ(tc.get_drop_frame_flag(), 0);
  EXPECT_EQ(tc.string_2_time("0;01;00;00"), 0);
  EXPECT_EQ(text_of(tc), "00:01:00:00");
  tc.set_frame_rate(0.5);  // below 1 and not an MPEG rate: nothing changes
  EXPECT_EQ(tc.get_explicit_rate(), 12);
  tc.set_frame_rate(25.0);  // back to an MPEG rate: 0 x 25 / 12
  EXPECT_EQ(tc.get_explicit_rate(), 0);
  EXPECT_EQ(tc.get_frame_rate_code(), 3);

  // Drop-frame loses its offset and its flag on a change of rate.
  SMPTE_TimeCode df = at_rate(30000.0 / 1001, 1);
  df.smpte_4_gop(1800);  // 00:01:00;02
  df.set_frame_rate(60.0);
  EXPECT_EQ(text_of(df), "00:01:00:00");

  // Rescaled pictures stay below the new rate (59 at 59.94 -> 23 at 23.976).
  SMPTE_TimeCode fast = at_rate(60000.0 / 1001);
  fast.string_2_time("00:00:00:59");
  fast.set_frame_rate(24000.0 / 1001);
  EXPECT_EQ(text_of(fast), "00:00:00:23");

  SMPTE_TimeCode moved = at_rate(30000.0 / 1001, 1);
  moved.smpte_4_gop(1800);
  smpte_change_frame_rate(moved, 25.0);
  EXPECT_EQ(moved.get_frame_rate_code(), 3);
  EXPECT_EQ(text_of(moved), "00:01:00:00");
  smpte_change_frame_rate(moved, 25.0);  // same code: nothing
  EXPECT_EQ(text_of(moved), "00:01:00:00");
}

// Field writes stay inside their field; negative frames count as frame 0.
TEST(TimeCode, FieldWritesAreRangeSafe) {
  SMPTE_TimeCode tc = at_rate(25.0);
  tc.set_field(0xFFFFFFFF, SMPTE_PICTURES);
  EXPECT_EQ(tc.get_pictures(), 63);
  EXPECT_EQ(tc.get_seconds_field(), 0);
  EXPECT_EQ(tc.get_frame_rate_code(), 3);
  EXPECT_EQ(tc.get_word() & SMPTE_MARKER_BITS, SMPTE_MARKER_BITS);
  tc.set_field(1, 6);
  tc.set_field(1, -1);
  EXPECT_EQ(tc.get_word() & SMPTE_MARKER_BITS, SMPTE_MARKER_BITS);

  int h = -1, m = -1, s = -1, p = -1;
  tc25_from_frame(-5, 25.0, 0, &h, &m, &s, &p);
  EXPECT_EQ(h | m | s | p, 0);
  tc25_from_frame(-5, 30000.0 / 1001, 1, &h, &m, &s, &p);
  EXPECT_EQ(h | m | s | p, 0);
  tc.smpte_4_gop(-1);
  EXPECT_EQ(text_of(tc), "00:00:00:00");
  tc.set_seconds(-3.0);
  EXPECT_EQ(tc.to_frame(), 0);
  tc.set_seconds(1e300);  // saturates instead of overflowing
  EXPECT_GE(tc.to_frame(), 0);
  // Every 25-bit word converts without overflow at every rate.
  for (uint32_t w : {0u, 0x1FFFFFFu, 0xFFFFFFFFu})
    for (int code = 1; code <= 8; ++code) EXPECT_GE(tc25_to_frame(w, mpeg_get_frame_rate(code)), 0);
}
