// IEditor over the engine's editor facade. Where the facade lacks a call
// the windows need, the adapter reaches the engine (MPEG_Editor::engine())
// itself, so that only this file follows the facade's changes.
#pragma once

#include <memory>

#include "app/shell/ieditor.h"

class MPEG_Editor;

class MpegEditorAdapter : public IEditor {
 public:
  explicit MpegEditorAdapter(std::unique_ptr<MPEG_Editor> editor);
  ~MpegEditorAdapter() override;

  // A movie, project or clip-list file; null when no engine could be made.
  static std::unique_ptr<IEditor> open(const std::string& path, int size_mode);
  static std::unique_ptr<IEditor> from_clip(const EClip& clip, int size_mode);

  MPEG_Editor* facade() const { return editor_.get(); }

  int get_total_frames() override;
  int get_clip_count() override;
  int get_curr_frame_offset() override;
  double get_total_time() override;
  double get_current_time() override;
  double get_frame_rate() override;
  std::string get_trim_range(int* start, int* count) override;
  int get_longest_video_info(VideoInfo* out) override;
  int get_minimum_output_bit_rate(int kind) override;
  bool is_at_clip_end() override;
  bool is_at_clip_start() override;
  bool is_still_image() override;
  int time_2_frame(double seconds) override;
  int timecode_2_frame(const std::string& text) override;
  std::string get_frame_offset_timecode(int frame) override;
  std::vector<std::string> source_files() override;

  int search(int frame, int exact) override;
  int forward(int n) override;
  int backward() override;
  int set_play_mode(int mode) override;

  std::unique_ptr<EClip> copy(double start, double length) override;
  std::unique_ptr<EClip> frame_copy(int start, int count) override;
  int frame_cut(int start, int count) override;
  int paste(const EClip& clip, double t, int effect_id, double seconds) override;
  int frame_paste(const EClip& clip, int frame) override;
  int replace(const EClip& clip) override;
  int frame_remove_transitions(int frame) override;
  double insert_transitions(double t, int effect_id, double seconds) override;
  int add_overlay(const std::string& file, int count, int effect_id, int frame, int length) override;

  int set_bmp_depth(int bits) override;
  void set_field_dither(int on) override;
  const BitmapInfo* get_decoded_image_dib_header() override;
  const uint8_t* get_decoded_image_dib_data() override;
  int get_image_width() override;
  int get_image_height() override;
  int get_decoded_frame_flag() override;
  int save_image(const std::string& path, int kind, int quality) override;

  bool has_audio() override;
  int get_sample_rate() override;
  int get_channels() override;
  int get_bits_per_sample() override;
  const int16_t* get_audio_samples(int* bytes) override;
  void audio_player_restart() override;

  void set_file_name(const std::string& name) override;
  std::string get_file_name() override;
  void set_notify_callback(std::function<void()> callback) override;

 private:
  // Calls the notify callback when a move changed the current clip.
  void moved();
  std::unique_ptr<MPEG_Editor> editor_;
  std::function<void()> notify_;
  int clip_index_ = -1;
};
