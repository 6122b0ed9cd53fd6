// Clip records shared by frame access, the engine and the recorder: the
// clip types and their names, the overlay record, the stream description
// of one clip (ClipInfo) and the clip record itself with the working-list
// link of the engine (MPEG_Clip).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Overlay laid over a stretch of one clip (title image or one-picture effect).
class OverlayClip {
 public:
  OverlayClip() = default;
  OverlayClip(const OverlayClip& other) { *this = other; }
  OverlayClip& operator=(const OverlayClip& other);
  ~OverlayClip() = default;

  // One-picture effect over length frames from position (span = length).
  OverlayClip(int position, int length, int effect_id);
  // Title image overlay: span = length, offset 0; empty when the image is
  // refused.
  static std::optional<OverlayClip> with_image(const char* image_file, int kind, int position, int length,
                                               int effect_id);

  // Frees the name and returns to the empty record.
  void clear();
  // Kind 0 with a name probes the file as a picture; a file that is no
  // picture is refused (1, nothing stored).
  int set_image_file(const char* name);
  const char* get_image_file() const { return has_file ? file_name.c_str() : nullptr; }
  void set_pair(const uint8_t* data, int size) {
    picture_data = data;
    picture_size = size;
  }
  void clear_pair() { set_pair(nullptr, 0); }
  void set_frame_rate(double rate) {
    if (rate > 5 && rate < 60) frame_rate = rate;
  }
  bool equals(const OverlayClip& other) const;
  bool not_equals(const OverlayClip& other) const { return !equals(other); }
  // Whether the overlay covers a frame of the clip's own numbering.
  bool covers(int frame) const { return position <= frame && frame < position + length; }
  double get_start_seconds() const { return position / frame_rate; }
  double get_end_seconds() const { return (position + length) / frame_rate; }
  double get_value_a_seconds() const { return effect_span / frame_rate; }
  double get_value_b_seconds() const { return effect_offset / frame_rate; }

  int kind = 0;  // 0 none, 11 JPEG, 12 Windows bitmap
  int position = 0;
  int length = 0;
  int effect_id = 0;
  int effect_span = 0;
  int effect_offset = 0;
  const uint8_t* picture_data = nullptr;  // not owned, compared by content
  int picture_size = 0;
  std::string file_name;
  bool has_file = false;
  double frame_rate = 29.97002997;
};

// Stream description of one clip's video or audio stream.
struct ClipInfo {
  ClipInfo() { init(); }
  void init();
  int get_audio_type() const;
  bool operator==(const ClipInfo& o) const;

  int mpeg_version;  // 0 none, 1 MPEG-1, 2 MPEG-2
  int pid;
  int stream_id;
  int stream_word;
  int width;
  int height;
  int chroma;  // default 1
  int video_bit_rate;
  int vbr;
  int aspect_ratio_code;
  double frame_rate;
  int audio_layer;
  int channels;
  int audio_bit_rate;
  int sample_rate;
  int audio_frame_size;
  int crc;
  int ac3_channels;
  int ac3_language;   // default -1
  int ac3_language2;  // default -1
};

class Clip {
 public:
  Clip() = default;
  Clip(const Clip& other) { *this = other; }
  Clip& operator=(const Clip& other);
  virtual ~Clip();

  static const char* get_clip_name(int type);
  static bool is_mpeg_audio_type(int t) { return t == 1; }
  static bool is_video_es_type(int t) { return t == 2 || t == 3; }
  static bool is_mpeg_video_type(int t) { return t >= 2 && t <= 8; }
  static bool is_not_mpeg_video_type(int t) { return !is_mpeg_video_type(t); }
  static bool is_still_image_type(int t) { return t == 11 || t == 12; }
  static bool is_ac3_type(int t) { return t == 9; }
  bool is_still_image() const { return is_still_image_type(clip_type); }

  bool equals(const Clip& other) const;
  // 1 MPEG audio, 9 AC-3, 10 LPCM of the chosen audio stream; 0 none.
  int get_audio_type() const;
  bool operator!=(const Clip& other) const { return !equals(other); }

  void set_file_name(const char* name);
  const char* get_file_name() const { return has_file ? file_name.c_str() : nullptr; }
  int end_frame() const { return start + count - 1; }

  // Overlays (kept sorted by position).
  const OverlayClip* get_field_pair(int* out_count) const;
  int add_overlay_record(const OverlayClip& record);
  int insert_overlay(int effect_id, int position, int length);
  int remove_overlay_at(int frame);
  void set_overlays(const OverlayClip* list, int n);
  // Fits the overlays to the current range after it changed.
  void clip_overlays();
  bool overlay_reaches_end() const;
  // Drops the transition frames from the front and forgets the transition.
  void cut_transition();

  // The transition's two further values are its full length and the frames
  // of it already past at this clip's first frame (a copy may start inside
  // a transition).
  int transition_full() const { return transition_value1; }
  int transition_offset() const { return transition_value2; }
  void set_transition_full(int v) { transition_value1 = v; }
  void set_transition_offset(int v) { transition_value2 = v; }

  int clip_type = 0;
  int file_bit_rate = 0;
  int start = 0;
  int count = 0;
  int alternative_start = 0;
  int audio_units = 0;
  int video_stream_count = 0;
  int video_stream_id = 0;
  int video_pid = 0;
  int mpeg2 = 0;
  int width = 0, height = 0;
  int video_bit_rate = 0;
  int vbr = 0;
  int video_frame_total = 0;
  int aspect_ratio_code = 0;
  uint32_t first_time_code = 4096;
  double frame_rate = 0;
  int audio_stream_count = 0;
  int audio_stream_id = 0;
  int audio_pid = 0;
  int audio_layer = 0;
  int channels = 0;
  int audio_bit_rate = 0;
  int sample_rate = 0;
  int bits_per_sample = 0;
  int ac3_channels = 0;
  int transition_id = 0;
  int transition_length = 0;
  int transition_value1 = 0, transition_value2 = 0;
  std::string file_name;
  bool has_file = false;
  std::vector<OverlayClip> overlays;
  double file_size = 0;
  double video_frame_period = 0;
  double audio_frame_period = 0;
  double audio_length = 0;
  int audio_frame_total = 0;
};

// One entry of the engine's working clip list: the record DTV copies.
// Copies carry the clip, its edit position and audio range, never the links.
class MPEG_Clip : public Clip {
 public:
  MPEG_Clip() = default;
  explicit MPEG_Clip(const Clip& other) : Clip(other) {}
  MPEG_Clip(const MPEG_Clip& other) : Clip(other) { copy_list_fields(other); }
  MPEG_Clip& operator=(const MPEG_Clip& other) {
    Clip::operator=(other);
    copy_list_fields(other);
    return *this;
  }
  MPEG_Clip& operator=(const Clip& other) {
    Clip::operator=(other);
    return *this;
  }
  ~MPEG_Clip() override = default;
  // Frame range helper for callers that know start and end.
  void set_range(int first, int last) {
    start = first;
    count = last - first + 1;
  }

  MPEG_Clip* prev = nullptr;  // working-list links, owned by the list
  MPEG_Clip* next = nullptr;
  int edit_position = 0;
  uint32_t tc_gop_bits = 4096;
  int tc_frame = -1;
  uint64_t tc_key = 0;  // what tc_gop_bits was worked out from (0: nothing yet)
  int keep_head_transition = 0;
  double audio_start = 0;
  double audio_range_length = 0;
  // Audio ranges: the file time (s) of the range's first video frame and
  // the output time (s) at which that frame is shown.
  double video_start = 0;
  double video_output = 0;
  int index = 0;

 private:
  void copy_list_fields(const MPEG_Clip& other) {
    edit_position = other.edit_position;
    audio_start = other.audio_start;
    audio_range_length = other.audio_range_length;
    video_start = other.video_start;
    video_output = other.video_output;
  }
};
