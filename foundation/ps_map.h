// Program stream map (stream id 0xBC) of an MPEG-2 program stream.
#pragma once

#include <cstdint>
#include <vector>

class PSPSM {
 public:
  PSPSM() = default;

  // All fields zero (the arrays keep their storage).
  void reset();
  // Frees the arrays, then resets.
  void cleanup();
  // Finds the map in data[0..length) and decodes it. 0 on success, 1 on
  // failure (what was decoded so far stays). A CRC mismatch is tolerated.
  [[nodiscard]] int decode(const uint8_t* data, int length);

  int32_t program_stream_map_length = 0;
  int32_t current_next_indicator = 0;
  int32_t program_stream_map_version = 0;
  int32_t program_stream_info_length = 0;
  int32_t elementary_stream_map_length = 0;
  std::vector<uint8_t> descriptors;
  int32_t entry_count = 0;
  std::vector<uint8_t> stream_types;
  std::vector<uint8_t> stream_ids;
  std::vector<int32_t> info_lengths;
  std::vector<std::vector<uint8_t>> entry_descriptors;
  uint32_t CRC_32 = 0;
};
