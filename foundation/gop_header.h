// Group-of-pictures header (00 00 01 B8) with the extension and user data
// that follow it. The time code is kept as the raw 25-bit word of the header
// and as an SMPTE_TimeCode that knows the rate and the drop-frame rule.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/timecode.h"

class GopHdr {
 public:
  GopHdr();
  GopHdr(const GopHdr&) = default;
  GopHdr& operator=(const GopHdr&) = default;
  ~GopHdr() = default;

  // Back to the defaults (marker-only time code, code 4, no data buffers).
  void reset();
  // Frees both data buffers and resets.
  void cleanup();

  // Copies data into the buffer (null or length <= 0 frees it).
  void set_extension_data(const uint8_t* data, int length);
  void set_user_data(const uint8_t* data, int length);

  // Finds the next GOP header in data and reads it with the extension and
  // user data after it. Returns the bytes consumed, 0 when there is no whole
  // header (the fields are then unchanged).
  [[nodiscard]] int decode(const uint8_t* data, int length);
  // Writes the 8-byte header, followed by the user data when it fits.
  // Returns the bytes written, 0 for a null or too small buffer.
  [[nodiscard]] int encode(uint8_t* buffer, int size) const;

  int get_frame() const { return time.to_frame(); }
  double get_seconds() const { return time.get_seconds(); }
  int get_drop_frame_flag() const { return time.get_drop_frame_flag(); }

  // Both return 1, or 0 when the code / rate is not an MPEG one.
  int set_frame_rate_code(int code);
  int set_frame_rate(double rate);
  // Stamps a frame number (drop-frame at 29.97 only); returns the frame
  // number of the stored time code.
  int set_frame(int frame, int drop);

  uint32_t time_code;  // 25-bit word as in the header; bit 24 = drop_frame_flag
  uint32_t closed_gop;
  uint32_t broken_link;
  // From their 00 00 01 B5 / B2 up to the next start code; each buffer holds
  // length + 32 bytes, the spare ones zero; empty when absent.
  std::vector<uint8_t> ext_data;
  int32_t ext_length;
  std::vector<uint8_t> user_data;
  int32_t user_length;
  double frame_rate;
  int32_t frame_rate_code;
  SMPTE_TimeCode time;
};
