// Elementary-stream record: one audio or video stream of a file, as the
// demultiplexers list them and the multiplexers take them, with the parsed
// stream header it owns (sequence header, MPEG audio or AC-3 frame header).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/file_offset.h"
#include "foundation/seq_header.h"

struct AudioInfo;
struct VideoInfo;

// Kinds of elementary stream.
enum : int32_t {
  ES_KIND_NONE = 0,
  ES_KIND_MPEG_AUDIO = 1,
  ES_KIND_MPEG1_VIDEO = 2,
  ES_KIND_MPEG2_VIDEO = 3,
  ES_KIND_AC3 = 9,
  ES_KIND_LPCM = 10,
};

class ESData {
 public:
  ESData() = default;
  ESData(const ESData& other) { *this = other; }
  // Deep copy: name, every field and a new header object of the same kind.
  ESData& operator=(const ESData& other);
  ~ESData() = default;

  // Frees name and header and clears every field.
  void clear();
  // Builds the record of an elementary file from its start; *error is 1
  // when nothing was recognised (the record is then unusable).
  void open(const char* file_name, int* error);
  // Deletes the owned header object.
  void free_header();
  // A copy of name (null or empty clears it).
  void set_name(const char* file_name);
  const char* get_name() const { return name.empty() ? nullptr : name.c_str(); }

  // ---- header setters (each replaces the header object) ----
  void set_video_header(const SeqHdr& header);
  void set_audio_header(const FrmHdr& header);
  void set_ac3_header(const AC3FrmHdr& header);
  void set_lpcm_header(int stream_id, int sample_rate, int channels);
  void set_audio_offset(int64_t offset) { audio_offset = offset; }

  // ---- video ----
  int is_video() const { return kind == ES_KIND_MPEG1_VIDEO || kind == ES_KIND_MPEG2_VIDEO; }
  SeqHdr* get_video_header() const { return is_video() ? seq_.get() : nullptr; }
  int is_video_mpeg2() const;
  int get_video_width() const;
  int get_video_height() const;
  int get_video_bit_rate() const;
  int get_video_chroma_format() const;
  int get_video_pel_aspect_ratio() const;
  int get_video_progressive_sequence() const;
  double get_video_frame_rate() const;
  int get_profile_level() const;
  int get_drop_frame_flag() const { return drop_frame; }
  int is_vbr() const;
  // 0 and info filled; 1 when width, height, frame rate or bit rate is
  // missing (info is filled all the same).
  int get_video_info(VideoInfo* info) const;

  // ---- audio ----
  int is_audio() const { return kind == ES_KIND_MPEG_AUDIO || ac3 || lpcm; }
  FrmHdr* get_audio_header() const { return kind == ES_KIND_MPEG_AUDIO ? frm_.get() : nullptr; }
  AC3FrmHdr* get_ac3_header() const { return ac3 ? ac3_.get() : nullptr; }
  int get_audio_layer() const;
  int get_audio_bit_rate() const;
  int get_audio_sample_rate() const;
  int get_audio_channels() const;
  // The full channel count of LPCM, else the (at most 2) channel count.
  int get_channel_count() const { return lpcm ? lpcm_channels : channels; }
  int get_audio_crc_flag() const;
  int get_ac3_channels() const;
  int get_ac3_language_code() const;
  int get_ac3_language_code2() const;
  double get_audio_frame_duration() const;
  int get_audio_frame_size() const;
  // 0 and info filled; 1 when sample rate, channels or bit rate is missing.
  int get_audio_info(AudioInfo* info) const;

  // Seconds, worked out on first use from the file size and the bit rate
  // (the start of the file is parsed first when the size is not known).
  double get_duration();

  std::string name;  // file name; for demultiplexing the output name
  int32_t kind = ES_KIND_NONE;
  int32_t stream_id = 0;
  int32_t pid = 0;               // transport-stream PID
  int32_t program_index = 0;     // sort key of the transport demultiplexer
  int32_t max_packet_size = 0;   // largest packet seen
  int32_t max_payload_size = 0;  // largest payload seen
  int32_t bit_rate = 0;          // bit/s
  int32_t vbr = 0;
  int32_t drop_frame = 0;          // of the first GOP header
  int32_t average_gop_length = 0;  // pictures
  FileOffset file_size;
  int32_t info_words[2] = {0, 0};  // carried into the video and audio info records
  int64_t audio_offset = 0;        // set for the multiplexer
  int32_t audio_bit_rate = 0;      // 0 = unknown
  int32_t sample_rate = 0;
  int32_t channels = 0;  // at most 2
  int32_t layer = 0;
  double duration = 0.0;      // seconds, 0 = not computed
  int64_t header_offset = 0;  // first audio frame or sequence header
  int32_t ac3 = 0;
  int32_t lpcm = 0;
  int32_t lpcm_channels = 0;
  int32_t lpcm_bytes_per_frame = 0;  // per 1/60 s

 private:
  // The header object by kind; at most one is set.
  std::unique_ptr<SeqHdr> seq_;
  std::unique_ptr<FrmHdr> frm_;
  std::unique_ptr<AC3FrmHdr> ac3_;
};

// Fills record from the start of its file (record->name): MPEG audio, AC-3
// and MPEG-1/2 video elementary streams. 1 on success, 0 otherwise.
int mpeg_get_es_data(ESData* record);

// Reads up to *size bytes (0x80000 when *size < 1) from the start of a file;
// *size becomes the bytes read. Null when nothing could be read.
[[nodiscard]] std::unique_ptr<uint8_t[]> mpeg_load_data(const char* name, int* size);
