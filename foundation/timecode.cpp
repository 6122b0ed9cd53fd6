#include "foundation/timecode.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "foundation/mpeg_fields.h"

namespace {

struct FieldBits {
  uint32_t mask;
  int shift;
};
constexpr FieldBits kFields[6] = {
    {0x1u, 0}, {0x1Eu, 1}, {0xFC0u, 6}, {0x7E000u, 13}, {0x3F00000u, 20}, {0xF8000000u, 27},
};

// Drop-frame counts at a nominal 30 fps.
constexpr int kDropFramesPerHour = 107892;
constexpr int kDropFramesPer10Min = 17982;
constexpr int kDropFramesFirstMinute = 1800;
constexpr int kDropFramesPerMinute = 1798;

// Highest explicit rate kept; keeps every product below in range.
constexpr int kMaxExplicitRate = 1000;

// Frame rate + 0.5 truncated (30 for 29.97); 30 when that is 0, as the
// non-drop split does. Absurd rates are capped rather than overflowing.
int picture_rate(double rate) {
  if (!(rate >= 0.5)) return 30;
  if (rate >= kMaxExplicitRate) return kMaxExplicitRate;
  return static_cast<int>(rate + 0.5);
}

int saturate(int64_t v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v); }

int frame_of(int drop, int hours, int minutes, int seconds, int pictures, double rate) {
  if (drop) {
    return saturate(int64_t(pictures) + int64_t(minutes % 10) * kDropFramesPerMinute +
                    (int64_t(minutes / 10) + int64_t(hours) * 6) * kDropFramesPer10Min + int64_t(seconds) * 30);
  }
  const int64_t n = picture_rate(rate);
  return saturate(pictures + (seconds + (minutes + int64_t(hours) * 60) * 60) * n);
}

uint32_t pack25(int drop, int hours, int minutes, int seconds, int pictures) {
  return (uint32_t(drop ? 1 : 0) << 24) | ((uint32_t(hours) & 31u) << 19) | ((uint32_t(minutes) & 63u) << 13) |
         (1u << 12) | ((uint32_t(seconds) & 63u) << 6) | (uint32_t(pictures) & 63u);
}

void unpack25(uint32_t word, int* drop, int* hours, int* minutes, int* seconds, int* pictures) {
  *drop = int((word >> 24) & 1u);
  *hours = int((word >> 19) & 31u);
  *minutes = int((word >> 13) & 63u);
  *seconds = int((word >> 6) & 63u);
  *pictures = int(word & 63u);
}

// Pictures of a time code moved from one rate to another. A drop-frame code
// first loses its skipped-label offset (and its flag). The result stays below
// the new rate: rounding would otherwise give e.g. 24 at 23.976 from 59 at 59.94.
void rescale_pictures(SMPTE_TimeCode& tc, double old_rate, double new_rate) {
  int pictures = int(tc.get_field(SMPTE_PICTURES));
  if (tc.get_drop_frame_flag()) {
    if (pictures >= 2 && tc.get_field(SMPTE_SECONDS) == 0 && tc.get_field(SMPTE_MINUTES) % 10 != 0) pictures -= 2;
    tc.set_field(0, SMPTE_DROP);
  }
  if (old_rate > 0) pictures = int(pictures * new_rate / old_rate + 0.5);
  const int n = picture_rate(new_rate);
  if (pictures >= n) pictures = n - 1;
  tc.set_field(uint32_t(pictures), SMPTE_PICTURES);
}

void set_clock(SMPTE_TimeCode& tc, int hours, int minutes, int seconds, int pictures) {
  tc.set_field(uint32_t(hours), SMPTE_HOURS);
  tc.set_field(uint32_t(minutes), SMPTE_MINUTES);
  tc.set_field(uint32_t(seconds), SMPTE_SECONDS);
  tc.set_field(uint32_t(pictures), SMPTE_PICTURES);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

// ---- free functions on the 25-bit word ----------------------------------------

void tc25_from_frame(int frame, double rate, int drop, int* hours, int* minutes, int* seconds, int* pictures) {
  if (frame < 0) frame = 0;  // counts start at 00:00:00:00
  int h, m, s, p;
  if (drop && rate >= 29.969 && rate < 30.0) {
    h = frame / kDropFramesPerHour;
    int r = frame - h * kDropFramesPerHour;
    const int tens = r / kDropFramesPer10Min;
    r -= tens * kDropFramesPer10Min;
    m = tens * 10;
    if (r >= kDropFramesFirstMinute) {
      r -= kDropFramesFirstMinute;
      const int q = r / kDropFramesPerMinute;
      m += 1 + q;
      r = r - q * kDropFramesPerMinute + 2;
    }
    s = r / 30;
    p = r % 30;
  } else {
    const int n = picture_rate(rate);
    const int per_hour = n * 3600;
    h = frame / per_hour;
    int r = frame - h * per_hour;
    m = r / (n * 60);
    r -= m * n * 60;
    s = r / n;
    p = r - s * n;
  }
  if (h > 23) h %= 24;
  if (hours) *hours = h;
  if (minutes) *minutes = m;
  if (seconds) *seconds = s;
  if (pictures) *pictures = p;
}

uint32_t tc25_word_from_frame(int frame, double rate, int drop) {
  int h, m, s, p;
  tc25_from_frame(frame, rate, drop, &h, &m, &s, &p);
  return pack25(drop, h, m, s, p);
}

uint32_t gop_time_code_from_frame(int frame, double rate, int drop) { return tc25_word_from_frame(frame, rate, drop); }

int tc25_to_frame(uint32_t word, double rate) {
  int d, h, m, s, p;
  unpack25(word, &d, &h, &m, &s, &p);
  return frame_of(d, h, m, s, p, rate);
}

char* time_code_to_string(uint32_t word, char* buffer) {
  if (!buffer) return buffer;
  int d, h, m, s, p;
  unpack25(word, &d, &h, &m, &s, &p);
  std::snprintf(buffer, SMPTE_TEXT_SIZE, d ? "%d:%02d:%02d;%02d" : "%d:%02d:%02d:%02d", h, m, s, p);
  return buffer;
}

void smpte_change_frame_rate(SMPTE_TimeCode& tc, double rate) {
  const int code = mpeg_get_frame_rate_code(rate);
  const int old = tc.get_frame_rate_code();
  if (code == old) return;
  tc.set_field(uint32_t(code), SMPTE_RATE_CODE);
  rescale_pictures(tc, mpeg_get_frame_rate(old), mpeg_get_frame_rate(code));
}

int parse_time_code_text(const char* text, double rate, int* drop, char* out) {
  if (!text || !out) return 0;
  const char* begin = text;
  while (*begin && is_space(*begin)) ++begin;
  const char* end = begin + std::strlen(begin);
  while (end > begin && is_space(end[-1])) --end;
  if (end == begin) return 0;
  if (!is_digit(*begin) || !is_digit(end[-1])) return 0;

  // Groups left to right; the values are assigned from the right.
  int values[4];
  int groups = 0, semicolons = 0;
  for (const char* p = begin; p < end;) {
    if (groups == 4) return 0;  // a fifth group
    const char* digits = p;
    int64_t v = 0;
    while (p < end && is_digit(*p)) {
      if (v < 1000000) v = v * 10 + (*p - '0');
      ++p;
    }
    const long len = p - digits;
    if (len == 0) return 0;                // empty group
    if (groups > 0 && len > 2) return 0;   // groups after a separator: 1 or 2 digits
    values[groups++] = int(v);
    if (p < end) {
      if (*p == ';') ++semicolons;
      else if (*p != ':') return 0;
      ++p;
      if (p == end) return 0;  // cannot happen: the last character is a digit
    }
  }
  int fields[4] = {0, 0, 0, 0};  // hours, minutes, seconds, pictures
  for (int i = 0; i < groups; ++i) fields[4 - groups + i] = values[i];
  const int n = picture_rate(rate);
  if (fields[3] >= n || fields[2] >= 60 || fields[1] >= 60 || fields[0] >= 24) return 0;

  // ';' turns drop-frame on only at a genuine 29.97: the lenient code lookup
  // answers 4 for any rate that is not an MPEG one.
  int df = drop ? *drop : 0;
  if (!df && semicolons >= 2 && mpeg_find_frame_rate_code(rate) == 4) {
    df = 1;
    if (drop) *drop = 1;
  }
  if (df && fields[2] == 0 && fields[1] % 10 != 0 && fields[3] < 2) fields[3] = 2;
  // Every field is 0..99 by the checks above; the modulo tells the compiler so.
  auto two = [&](int i) { return static_cast<unsigned>(fields[i]) % 100u; };
  std::snprintf(out, SMPTE_TEXT_SIZE, "%02u:%02u:%02u:%02u", two(0), two(1), two(2), two(3));
  return 1;
}

int string_2_time_split(const char* text, double rate, int drop, int* hours, int* minutes, int* seconds,
                        int* pictures) {
  char buf[SMPTE_TEXT_SIZE];
  int d = drop;
  if (!parse_time_code_text(text, rate, &d, buf)) return 1;
  int h = 0, m = 0, s = 0, p = 0;
  if (std::sscanf(buf, "%d:%d:%d:%d", &h, &m, &s, &p) != 4) return 1;
  if (hours) *hours = h;
  if (minutes) *minutes = m;
  if (seconds) *seconds = s;
  if (pictures) *pictures = p;
  return 0;
}

// ---- SMPTE_TimeCode ------------------------------------------------------------

SMPTE_TimeCode::SMPTE_TimeCode() : word_(SMPTE_MARKER_BITS | (4u << 1)), explicit_rate_(0) {}

double SMPTE_TimeCode::get_frame_rate() const {
  if (explicit_rate_) return explicit_rate_;
  return mpeg_get_frame_rate(get_frame_rate_code());
}

void SMPTE_TimeCode::set_field(uint32_t value, int index) {
  if (index < 0 || index > 5) return;
  const FieldBits& f = kFields[index];
  word_ = (word_ & ~f.mask) | ((value << f.shift) & f.mask);
}

uint32_t SMPTE_TimeCode::get_field(int index) const {
  if (index < 0 || index > 5) return 0;
  return (word_ & kFields[index].mask) >> kFields[index].shift;
}

void SMPTE_TimeCode::init(int drop) {
  set_field(drop && get_frame_rate_code() == 4 ? 1 : 0, SMPTE_DROP);
}

void SMPTE_TimeCode::set_frame_rate(double rate) {
  const int code = mpeg_find_frame_rate_code(rate);
  if (code) {
    const double old_rate = get_frame_rate();
    const bool was_explicit = explicit_rate_ != 0;
    explicit_rate_ = 0;
    if (code != get_frame_rate_code() || was_explicit) {
      set_field(uint32_t(code), SMPTE_RATE_CODE);
      rescale_pictures(*this, old_rate, mpeg_get_frame_rate(code));
    }
    if (code != 4) set_field(0, SMPTE_DROP);
    return;
  }
  if (!(rate >= 1.0)) return;
  const int frame = to_frame();
  explicit_rate_ = rate >= kMaxExplicitRate ? kMaxExplicitRate : int(rate + 0.5);
  set_field(8, SMPTE_RATE_CODE);
  set_field(0, SMPTE_DROP);
  smpte_4_gop(frame);
}

int SMPTE_TimeCode::store_checked(int drop, int hours, int minutes, int seconds, int pictures) {
  int corrections = 0;
  const double rate = get_frame_rate();
  // Drop-frame exists at 29.97 only (an explicit rate is never 29.97).
  if (drop && (explicit_rate_ || mpeg_get_frame_rate_code(rate) != 4)) {
    drop = 0;
    ++corrections;
  }
  if (hours >= 24) {
    hours %= 24;
    ++corrections;
  }
  if (minutes >= 60) {
    minutes %= 60;
    ++corrections;
  }
  if (seconds >= 60) {
    seconds %= 60;
    ++corrections;
  }
  const int n = picture_rate(rate);
  if (pictures >= n) {
    pictures %= n;
    ++corrections;
  }
  if (drop && seconds == 0 && minutes % 10 != 0 && pictures < 2) {
    pictures = 2;
    ++corrections;
  }
  set_field(uint32_t(drop), SMPTE_DROP);
  set_clock(*this, hours, minutes, seconds, pictures);
  return corrections;
}

void SMPTE_TimeCode::smpte_4_gop(int frame) {
  if (frame < 0) frame = 0;
  if (explicit_rate_) {
    int h, m, s, p;
    tc25_from_frame(frame, explicit_rate_, 0, &h, &m, &s, &p);
    set_clock(*this, h, m, s, p);
    return;
  }
  const uint32_t word = tc25_word_from_frame(frame, get_frame_rate(), get_drop_frame_flag());
  int d, h, m, s, p;
  unpack25(word, &d, &h, &m, &s, &p);
  store_checked(d, h, m, s, p);
}

int SMPTE_TimeCode::to_frame() const {
  return frame_of(get_drop_frame_flag(), get_hours(), get_minutes(), get_seconds_field(), get_pictures(),
                  get_frame_rate());
}

void SMPTE_TimeCode::set_seconds(double seconds) {
  const double v = seconds * get_frame_rate() + 0.5;
  smpte_4_gop(!(v > 0) ? 0 : v >= double(INT_MAX) ? INT_MAX : int(v));
}

double SMPTE_TimeCode::get_seconds() const {
  const double rate = get_frame_rate();
  return rate > 0 ? to_frame() / rate : 0.0;
}

int SMPTE_TimeCode::string_2_time(const char* text) {
  int h, m, s, p;
  if (explicit_rate_) {
    int drop = 0;
    char buf[SMPTE_TEXT_SIZE];
    if (!parse_time_code_text(text, explicit_rate_, &drop, buf)) return 1;
    if (std::sscanf(buf, "%d:%d:%d:%d", &h, &m, &s, &p) != 4) return 1;
  } else {
    // A failed parse leaves the time code (and its rate) as it was.
    if (string_2_time_split(text, get_frame_rate(), get_drop_frame_flag(), &h, &m, &s, &p)) return 1;
    const int drop = get_drop_frame_flag();
    const int code = mpeg_get_frame_rate_code(get_frame_rate());
    word_ = SMPTE_MARKER_BITS;
    set_field(uint32_t(code), SMPTE_RATE_CODE);
    set_field(uint32_t(drop), SMPTE_DROP);
  }
  set_clock(*this, h, m, s, p);
  return 0;
}

char* SMPTE_TimeCode::to_string(char* buffer, int short_form) const {
  if (!buffer) return buffer;
  const char sep = get_drop_frame_flag() ? ';' : ':';
  const int h = get_hours(), m = get_minutes(), s = get_seconds_field(), p = get_pictures();
  if (!short_form) std::snprintf(buffer, SMPTE_TEXT_SIZE, "%02d:%02d:%02d%c%02d", h, m, s, sep, p);
  else if (h) std::snprintf(buffer, SMPTE_TEXT_SIZE, "%d:%02d:%02d%c%02d", h, m, s, sep, p);
  else if (m) std::snprintf(buffer, SMPTE_TEXT_SIZE, "%d:%02d%c%02d", m, s, sep, p);
  else std::snprintf(buffer, SMPTE_TEXT_SIZE, "%d%c%02d", s, sep, p);
  return buffer;
}

int SMPTE_TimeCode::set_gop_bits(uint32_t word) {
  int d, h, m, s, p;
  unpack25(word, &d, &h, &m, &s, &p);
  return store_checked(d, h, m, s, p);
}

uint32_t SMPTE_TimeCode::to_gop_bits() const {
  return pack25(get_drop_frame_flag(), get_hours(), get_minutes(), get_seconds_field(), get_pictures());
}
