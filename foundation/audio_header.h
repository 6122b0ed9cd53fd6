// MPEG audio frame header (MPEG-1, MPEG-2 lower sampling frequencies and
// MPEG 2.5; layers I-III): parse, search, same-stream test and frame runs.
#pragma once

#include <cstdint>

struct AudioInfo;

class FrmHdr {
 public:
  FrmHdr() { clear(); }
  FrmHdr(const FrmHdr&) = default;
  FrmHdr& operator=(const FrmHdr&) = default;

  void clear();

  // 0 when word is a usable header (the record is filled, valid = 1), 1 not.
  int parse(uint32_t word);
  // Offset of the first usable header in data; valid tells whether one was
  // found.
  int parse_buffer(const uint8_t* data, int length);
  // 0 when other is valid and of the same stream as this header, else 1.
  int same_stream(const FrmHdr& other) const;
  // Offset of the first header that reference accepts as its stream.
  [[nodiscard]] int find_matching(const uint8_t* data, int length, const FrmHdr& reference);
  // Offset of the first header followed by a same-stream header one frame
  // later (a header too near the end to check is taken as it is).
  [[nodiscard]] int find_sync(const uint8_t* data, int length);
  // 1 when data holds count frames in a row (count < 2 becomes 2 unless
  // exact), or a shorter run cut off only by the end of the data.
  [[nodiscard]] int check_frames(const uint8_t* data, int length, int count, int exact);
  // 1 and info filled from a valid header; 0 otherwise.
  int get_audio_info(AudioInfo* info) const;

  // PCM samples per channel in one frame: 384, 1152, or 576 for layer III
  // at the lower sampling frequencies.
  int samples_per_frame() const;
  // Bytes of the padding slot: 4 for layer I, 1 otherwise.
  int padding_slot() const { return layer == 1 ? 4 : 1; }

  int32_t mode;
  int32_t mode_extension;
  int32_t single;  // 3 for single channel, else -1
  int32_t channels;
  int32_t sampling_index;  // 0..8 into the sample-rate table
  int32_t bitrate_index;
  int32_t lsf;  // MPEG-2 or 2.5
  int32_t mpeg25;
  int32_t layer;
  int32_t error_protection;  // a CRC follows the header
  int32_t padding;
  int32_t private_bit;
  int32_t copyright;
  int32_t original;
  int32_t emphasis;
  int32_t bit_rate;     // bit/s
  int32_t sample_rate;  // Hz
  int32_t frame_size;   // bytes, header and padding included
  int32_t valid;
  uint32_t header;
  int32_t checked_bytes;  // examined by check_frames
  int32_t first_offset;   // first frame found by check_frames, -1 before
};

// The MPEG-1 bit rate of layer 1..3 nearest to bps (ties keep the lower;
// 0 when none is nearer than 0 bit/s). 0 for another layer.
int mpeg_audio_nearest_bit_rate(int bps, int layer);

// When data holds an MPEG audio frame whose description differs from info,
// info takes it and 1 is returned; else 0. *length is reduced by the bytes
// examined.
[[nodiscard]] int mpeg_audio_info_from_data(const uint8_t* data, int* length, AudioInfo* info);
