// The editor object a window (or tool) holds for one movie: the engine plus
// edits by seconds and frames with their range checks, projects in and out,
// the save entry and summary queries over the edit list.
//
// Errors follow the engine's convention (engine/dtamsel.h): the factories
// return the editor, or null with an EngineError that says why; edits and
// saves return 1 done, 0 refused or failed; queries return their neutral
// value (0, -1 or null) when there is nothing to answer.
#pragma once

#include <memory>
#include <string>

#include "engine/clips/project.h"
#include "engine/clips/settings.h"
#include "engine/dtamsel.h"
#include "foundation/audio_info.h"
#include "foundation/es_data.h"
#include "foundation/video_info.h"
#include "record/record_data.h"

// Display modes of the player: every frame, I and P pictures, I pictures.
enum class PlayMode { every_frame = 3, i_and_p = 4, i_only = 5 };

class MPEG_Editor {
 public:
  // An editor on an editor project, a clip-list file or one media file, or
  // on a project in memory, at a size step (0 full, 1 half, 2 quarter);
  // its sound plays at sample_rate and channels (0: the first clip's).
  static std::unique_ptr<MPEG_Editor> create(const char* file_name, int size_mode = 0, int sample_rate = 0,
                                             int channels = 0, EngineError* error = nullptr);
  static std::unique_ptr<MPEG_Editor> create(const EClip& project, int size_mode = 0, int sample_rate = 0,
                                             int channels = 0, EngineError* error = nullptr);

  DTamsel* engine() const { return engine_.get(); }

  // Edits by seconds.
  std::unique_ptr<EClip> copy(double start, double length);
  int paste(const EClip& project, double t, int effect_id, double seconds);
  int replace(const EClip& project);
  double insert_transitions(double t, int effect_id, double seconds);
  int add_overlay(const char* image_file, int kind, int value, int frame, int length);

  // Edits by frames.
  std::unique_ptr<EClip> frame_copy(int start, int count);
  int frame_cut(int start, int count);
  int frame_paste(const EClip& project, int frame);
  int frame_insert_transitions(int frame, int effect_id, int length);
  int frame_remove_transitions(int frame);

  // Forwarders.
  double get_total_time() { return engine_ ? engine_->get_total_time() : -1; }
  double get_current_time() { return engine_ ? engine_->get_current_time() : -1; }
  int get_total_frames() { return engine_ ? engine_->get_total_frames() : -1; }
  int get_clip_count() { return engine_ ? engine_->get_clip_count() : -1; }
  int get_curr_frame_offset() { return engine_ ? engine_->get_curr_frame_offset() : -1; }
  double get_frame_rate() { return engine_ ? engine_->get_frame_rate() : -1; }
  int time_2_frame(double t) { return engine_ ? engine_->time_2_frame(t) : -1; }
  int timecode_2_frame(const char* text) { return engine_ ? engine_->timecode_2_frame(text) : -1; }
  uint32_t get_frame_offset_timecode(int frame, std::string* text) {
    return engine_ ? engine_->get_frame_offset_timecode(frame, text) : 0;
  }
  int next_clip() { return engine_ ? engine_->next_clip() : 0; }
  int prev_clip() { return engine_ ? engine_->prev_clip() : 0; }
  int forward(int n) { return engine_ ? engine_->forward(n) : 0; }
  int backward(int n) { return engine_ ? engine_->backward(n) : 0; }
  int search(int frame, int reseek_audio) { return engine_ ? engine_->search(frame, reseek_audio, 0) : -1; }
  bool is_still_image() const { return engine_ && engine_->is_still_image(); }
  bool has_audio() const { return engine_ && engine_->has_audio(); }
  int get_channels() const { return engine_ ? engine_->get_channels() : 0; }
  int get_sample_rate() const { return engine_ ? engine_->get_sample_rate() : 0; }
  int get_bits_per_sample() const { return engine_ ? engine_->get_bits_per_sample() : 0; }
  const int16_t* get_audio_samples(int* bytes) {
    if (bytes) *bytes = 0;
    return engine_ ? engine_->get_audio_samples(bytes, nullptr) : nullptr;
  }
  void audio_player_restart() {
    if (engine_) engine_->audio_player_restart(1);
  }
  int save_image(const char* file, int type, int quality);

  // The picture shown and the window's bitmap of it.
  Frame* get_decoded_frame() { return engine_ ? engine_->get_decoded_frame() : nullptr; }
  Image* get_decoded_frame_image() { return engine_ ? engine_->get_decoded_frame_image() : nullptr; }
  int get_decoded_frame_flag() { return engine_ ? engine_->get_decoded_frame_flag() : 0; }
  int get_decoded_image_width() { return engine_ ? engine_->get_decoded_image_width() : 352; }
  int get_decoded_image_height() { return engine_ ? engine_->get_decoded_image_height() : 240; }
  int set_bmp_depth(int bits) { return engine_ ? engine_->set_bmp_depth(bits) : 0; }
  uint8_t* get_decoded_image_dib_data() { return engine_ ? engine_->get_decoded_image_dib_data() : nullptr; }
  BitmapInfo* get_decoded_image_dib_header() { return engine_ ? engine_->get_decoded_image_dib_header() : nullptr; }
  int get_image_width() { return engine_ ? engine_->get_image_width() : 0; }
  int get_image_height() { return engine_ ? engine_->get_image_height() : 0; }
  void set_field_dither(int on) {
    if (engine_) engine_->set_field_dither(on);
  }
  // See DTamsel::set_notify_callback; 0 without engine.
  int set_notify_callback(DTamsel::NotifyCallback callback, void* user) {
    return engine_ ? engine_->set_notify_callback(callback, user) : 0;
  }

  // Save options held by the engine (see EngineSettings); the PID setters
  // return the PID in force, 0 without engine.
  int set_video_pid(int pid) { return engine_ ? engine_->set_video_pid(pid) : 0; }
  int set_audio_pid(int pid) { return engine_ ? engine_->set_audio_pid(pid) : 0; }
  int set_program_pid(int pid) { return engine_ ? engine_->set_program_pid(pid) : 0; }
  void set_gop_fix_mode() {
    if (engine_) engine_->set_gop_fix_mode();
  }
  void set_audio_encoder(int layer, int sample_rate, int channels, int bit_rate, int clip_select) {
    if (engine_) engine_->set_audio_encoder(layer, sample_rate, channels, bit_rate, clip_select);
  }
  void set_audio_copy() {
    if (engine_) engine_->set_audio_copy();
  }
  void set_record_option(int on) {
    if (engine_) engine_->set_record_option(on);
  }

  bool is_at_clip_end() const;
  bool is_at_clip_start() const;

  // One clip with video and no overlays that is not its whole file: the
  // file, with start and count made absolute in it; null otherwise.
  const char* get_trim_range(int* start, int* count) const;

  // Saves. Recordable kinds wait for the save pipeline and end with
  // completion and a failure result; project-only kinds write the range as
  // a clip-list file. 1 done, 0 refused or failed.
  int frame_record(const char* out, int kind, int selected_clip, int start, int count, int* progress);
  int frame_record_range(const char* out, int kind, int start, int count, int* progress);
  // The same reporting through the job control the window shares (its
  // command pauses and stops the save; it ends with the save's outcome).
  int frame_record_status(const char* out, int kind, int selected_clip, int start, int count, JobControl* control);
  int frame_record_range_status(const char* out, int kind, int start, int count, JobControl* control) {
    return frame_record_range_status(out, kind, 0, nullptr, start, count, control);
  }
  // With descriptions of the output's streams (video bit rate, audio
  // format).
  int frame_record_range(const char* out, int kind, int n_es, const ESData* es, int start, int count, int* progress);
  int frame_record_range_status(const char* out, int kind, int n_es, const ESData* es, int start, int count,
                                JobControl* control);

  // The display mode before.
  PlayMode set_play_mode(PlayMode mode);

  // Summary queries over the edit list (Video CD rate 1411200 bit/s; rates
  // in bytes per frame of the first video stream). 0 done, 1 when the
  // clip has no video stream with a frame rate.
  int get_minimum_output_bit_rate(int kind);
  int get_clip_mux_rates(int index, MuxRates* out);
  // The clip starting the longest run of one video format: its index, -1
  // without engine, list or video.
  int get_longest_video_info(VideoInfo* out);
  // 1 when every clip shares one audio format (the first clip's in *out),
  // 0 when not, -1 without engine or list.
  int get_reference_audio_info(AudioInfo* out);

  std::string get_file_name() const { return engine_ ? engine_->get_file_name() : std::string(); }
  void set_file_name(const char* name) {
    if (engine_) engine_->set_file_name(name);
  }

 private:
  MPEG_Editor() = default;
  std::unique_ptr<EClip> with_gain(std::unique_ptr<EClip> project, double start, double length);
  int save_entry(const char* out, int kind, int start, int count, int* progress, JobControl* control, int n_es = 0,
                 const ESData* es = nullptr);
  int record_clip(const char* out, int kind, int selected_clip, int start, int count, int* progress,
                  JobControl* control);
  std::unique_ptr<DTamsel> engine_;
};

// The recorded kind of a requested output kind: 1-6, 8 and 9 keep their
// value, anything else is a project-only save (0).
int editor_record_kind(int kind);
// The five multiplex rates of caller-given stream descriptions, as
// get_clip_mux_rates gives them; 1 when n_video is below 1 or the first
// video has no frame rate.
int estimate_mux_rates(int n_video, const ESData* videos, int n_audio, const ESData* audios, MuxRates* out);
// Whether out names (or is linked to) one of the list's source files.
bool editor_output_is_source(const char* out, const MPEG_Clip* list);
