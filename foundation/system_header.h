// System header (start code 00 00 01 BB) of MPEG-1 system and MPEG-2 program
// streams: multiplex bounds and the table of announced elementary streams.
#pragma once

#include <cstdint>
#include <vector>

class SysHdr {
 public:
  SysHdr() = default;
  SysHdr(const SysHdr& other) { *this = other; }
  SysHdr& operator=(const SysHdr& other);
  ~SysHdr() = default;

  // Zeroes every field (the arrays keep their storage).
  void clear();
  // Frees the arrays, then clears.
  void cleanup();

  // Finds and decodes the first system header in b[0..n). Returns the number
  // of stream entries kept; 0 when none is found or it is too short.
  [[nodiscard]] int decode(const uint8_t* b, int n);

  // Audio and video streams announced: entries with ids 0xC0-0xEF; when
  // other ids are listed too, at least audio bound + video bound.
  int get_stream_count() const;
  // Stream id of entry index; 0 outside the table.
  int get_stream_id(int index) const;
  // Replaces the raw copy of the header bytes.
  void set_raw(const uint8_t* bytes, int length);

  int valid = 0;
  int stream_count = 0;
  std::vector<uint8_t> stream_ids;
  std::vector<uint8_t> buffer_bound_scales;
  std::vector<int> buffer_size_bounds;
  int header_length = 0;  // header_length + 6: whole header in bytes
  int rate_bound = 0;     // bit/s (field x 400)
  int audio_bound = 0;
  int fixed_flag = 0;
  int csps_flag = 0;
  int system_audio_lock = 0;
  int system_video_lock = 0;
  int video_bound = 0;
  int packet_rate_restriction = 0;
  std::vector<uint8_t> raw;  // header bytes as decoded plus 8 spare zero bytes
  int raw_length = 0;
};
