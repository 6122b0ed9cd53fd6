// SMPTE time codes: hours, minutes, seconds and pictures at a frame rate, with
// the drop-frame rule of 29.97 fps. The packed word keeps the field order of
// the GOP header's 25-bit time_code (plus frame_rate_code and markers), so
// moving to and from GOP headers is a matter of moving bit fields.
#pragma once

#include <cstdint>

// Packed word layout (index as used by set_field / get_field):
//   0 drop_frame_flag  bit 0
//   1 frame_rate_code  bits 1-4
//   2 pictures         bits 6-11
//   3 seconds          bits 13-18
//   4 minutes          bits 20-25
//   5 hours            bits 27-31
// Bits 5, 12, 19 and 26 are marker bits, always 1.
enum SmpteField {
  SMPTE_DROP = 0,
  SMPTE_RATE_CODE = 1,
  SMPTE_PICTURES = 2,
  SMPTE_SECONDS = 3,
  SMPTE_MINUTES = 4,
  SMPTE_HOURS = 5,
};

constexpr uint32_t SMPTE_MARKER_BITS = 0x4081020u;
// Room for any text the time-code functions write (terminator included).
constexpr int SMPTE_TEXT_SIZE = 16;

class SMPTE_TimeCode {
 public:
  // Markers set, frame_rate_code 4, non-drop, all counts 0, no explicit rate.
  SMPTE_TimeCode();

  // The explicit rate when set, else the rate of the frame_rate_code.
  double get_frame_rate() const;
  // Moves to another rate: an MPEG rate rescales the pictures field, any other
  // rate >= 1 keeps the frame number (explicit rate, code 8).
  void set_frame_rate(double rate);

  // Writes one field (value masked to the field's width).
  void set_field(uint32_t value, int index);
  uint32_t get_field(int index) const;
  int get_drop_frame_flag() const { return static_cast<int>(word_ & 1u); }
  // Sets the drop flag; refused (flag 0) unless the frame_rate_code is 4.
  void init(int drop);

  // Fields from a frame number counted from 00:00:00:00 (negative -> 0).
  void smpte_4_gop(int frame);
  // Frame number of the fields.
  int to_frame() const;
  void set_seconds(double seconds);
  double get_seconds() const;

  // Fields from a text such as "1:02:03:04" or "01:00:00;02"; 0 on success,
  // 1 on failure (the time code is then left unchanged).
  int string_2_time(const char* text);
  // "HH:MM:SS:FF" (";" before the pictures when drop-frame); the short form
  // drops leading zero hours and minutes. buffer needs SMPTE_TEXT_SIZE bytes.
  char* to_string(char* buffer, int short_form = 0) const;

  // Fields from a 25-bit GOP time_code word, corrected to the rate; returns
  // the number of corrections made.
  int set_gop_bits(uint32_t word);
  // The 25-bit GOP time_code word (marker bit set).
  uint32_t to_gop_bits() const;

  uint32_t get_word() const { return word_; }
  int get_explicit_rate() const { return explicit_rate_; }
  int get_frame_rate_code() const { return static_cast<int>(get_field(SMPTE_RATE_CODE)); }
  int get_hours() const { return static_cast<int>(get_field(SMPTE_HOURS)); }
  int get_minutes() const { return static_cast<int>(get_field(SMPTE_MINUTES)); }
  int get_seconds_field() const { return static_cast<int>(get_field(SMPTE_SECONDS)); }
  int get_pictures() const { return static_cast<int>(get_field(SMPTE_PICTURES)); }

  bool operator==(const SMPTE_TimeCode& o) const {
    return word_ == o.word_ && explicit_rate_ == o.explicit_rate_;
  }
  bool operator!=(const SMPTE_TimeCode& o) const { return !(*this == o); }

 private:
  // Shared by smpte_4_gop and set_gop_bits: wraps and corrects the fields at
  // the current rate, stores them and counts the corrections.
  int store_checked(int drop, int hours, int minutes, int seconds, int pictures);

  uint32_t word_;
  int32_t explicit_rate_;  // 0: the rate of frame_rate_code
};

// ---- the 25-bit GOP-header word ----------------------------------------------
// bit 24 drop_frame_flag, 19-23 hours, 13-18 minutes, 12 marker, 6-11 seconds,
// 0-5 pictures.

// Splits a frame number; drop-frame only when 29.969 <= rate < 30.
void tc25_from_frame(int frame, double rate, int drop, int* hours, int* minutes, int* seconds,
                     int* pictures);
// The word of tc25_from_frame's fields; its drop bit is the drop argument.
uint32_t tc25_word_from_frame(int frame, double rate, int drop);
uint32_t gop_time_code_from_frame(int frame, double rate, int drop);
// Frame number of a word (drop rule when its drop bit is set).
int tc25_to_frame(uint32_t word, double rate);
// "H:MM:SS:FF", or "H:MM:SS;FF" with the drop bit. buffer needs
// SMPTE_TEXT_SIZE bytes.
char* time_code_to_string(uint32_t word, char* buffer);

// Moves a time code to the frame_rate_code of rate, rescaling its pictures.
void smpte_change_frame_rate(SMPTE_TimeCode& tc, double rate);

// Checks and normalises a time-code text to "HH:MM:SS:FF" in out (at least
// SMPTE_TEXT_SIZE bytes). drop is in/out: two ';' at 29.97 turn it on.
// Returns 1 on success, 0 on failure.
int parse_time_code_text(const char* text, double rate, int* drop, char* out);
// parse_time_code_text with the given drop flag, split into its numbers;
// 0 on success, 1 on failure.
int string_2_time_split(const char* text, double rate, int drop, int* hours, int* minutes,
                        int* seconds, int* pictures);
