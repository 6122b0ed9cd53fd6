// Reader of AVI files whose video stream holds uncompressed DIB frames:
// random access to the pictures as planar 4:2:0. All fields little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/bmp.h"
#include "foundation/bsfile.h"
#include "picture/plane_utils.h"

struct StillPicture;

// Main header ('avih', 56 bytes of fields).
struct AviAvih {
  // Bytes consumed (64), 0 on failure.
  int decode(const uint8_t* bytes, size_t length);
  uint32_t micro_sec_per_frame = 0, max_bytes_per_sec = 0, padding_granularity = 0, flags = 0, total_frames = 0,
           initial_frames = 0, streams = 0, suggested_buffer_size = 0, width = 0, height = 0, reserved[4] = {};
  static constexpr uint32_t kHasIndex = 0x10;
};

// Stream header ('strh', 64 bytes of fields).
struct AviStrh {
  // Bytes consumed (72), 0 on failure.
  int decode(const uint8_t* bytes, size_t length);
  uint32_t type = 0, handler = 0, flags = 0;
  uint16_t priority = 0, language = 0;
  uint32_t initial_frames = 0, scale = 0, rate = 0, start = 0, length = 0, suggested_buffer_size = 0, quality = 0,
           sample_size = 0;
  int32_t frame[4] = {};  // left, top, right, bottom
};

// The 'hdrl' list.
struct AviHdrl {
  // Bytes walked when a video stream was read, else 0.
  int decode(const uint8_t* bytes, size_t length);
  BMP video_format;     // header and colour map only
  uint32_t list_size = 0;  // list size field + 8
  AviAvih avih;
  AviStrh video, audio;
  std::vector<uint8_t> audio_format;  // the audio 'strf' bytes as read
  uint32_t video_list_size = 0, audio_list_size = 0;
  int video_stream = -1;  // stream number of the video stream
};

// The 'idx1' index: video and audio entries apart.
struct AviIdx1 {
  struct Entry {
    char id[4];
    uint32_t offset;  // file offset of the chunk data
    uint32_t size;
  };
  // Bytes used (8 + 16 x entries), 0 on failure. Video entries are the
  // "NNdb"/"NNdc" chunks of the video stream, audio the "NNwb" ones.
  int decode(const uint8_t* bytes, size_t length, uint32_t movie_start, int video_stream);
  const Entry* get_video_index(int n) const;
  int64_t get_audio_size();
  std::vector<Entry> video, audio;
  int64_t audio_size = -1;  // cached total
};

class Frame;

class Avi {
 public:
  // status: 0 open, 1 failure (the object may then only be destroyed).
  Avi(const char* name, int* status);
  ~Avi() = default;
  Avi(const Avi&) = delete;
  Avi& operator=(const Avi&) = delete;

  // Reads sample n (clamped into range) into dst (centred); the number used.
  int get_video_sample_planes(int n, const YuvPlanes& dst);
  int goto_sample_planes(int n, const YuvPlanes& dst);
  // Samples moved (never negative).
  int forward_planes(const YuvPlanes& dst, int n);
  int backward_planes(const YuvPlanes& dst, int n);

  // Frame forms (the frame's picture).
  int get_video_sample(int n, Frame* frame);
  int goto_sample(int n, Frame* frame);
  int forward(Frame* frame, int n);
  int backward(Frame* frame, int n);

  int get_width() const { return hdrl.video_format.get_width(); }
  int get_height() const { return hdrl.video_format.get_height(); }
  // rate / scale; 0.0 when scale is 0.
  double get_frame_rate() const {
    return hdrl.video.scale ? static_cast<double>(hdrl.video.rate) / hdrl.video.scale : 0.0;
  }

  // Fields.
  int current_sample = 0;
  int video_samples = 0;
  int64_t audio_size = 0;
  std::vector<uint8_t> frame_buffer;  // DIB pixel data size
  AviHdrl hdrl;
  AviIdx1 index;
  std::string file_name;
  BSFile file;

 private:
  bool read_header();
  bool read_idx1();
  int check_sample_number(int n) const;
  uint64_t list_end_ = 0;  // file position after the 'hdrl' list
};

// The first picture of an AVI DIB file; clip type 14, 0 on failure.
int avi_load_still(const char* name, StillPicture* out);
