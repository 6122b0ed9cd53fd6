// The engine behind one editor window: the working clip list of a movie,
// frame access on the clip shown (and on the next one while a transition
// plays), stepping and searching in edit frames, times, and the edits that
// replace the working list.
//
// Errors (the engine and its facade MPEG_Editor alike):
// - Making one: the factory returns the object, or null with *error (when
//   given) holding a non-zero code and a message that says why.
// - Edits and saves return 1 done, 0 refused or failed; queries return
//   their neutral value (0, -1 or null, as each says) when there is nothing
//   to answer. The reason of a refusal goes to the trace.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "access/clip.h"
#include "access/effect_frame.h"
#include "engine/clips/project.h"
#include "engine/engine_settings.h"
#include "foundation/engine_error.h"

class BMP;
class DATrack;
class DTV;
class Dither;
class Frame;
struct BitmapInfo;
class Image;

// Settings the engine reads from the application (plain, process-wide):
// 1 skips the check of every clip's frame count against its file at open.
extern int engine_skip_frame_count_check;

class DTamsel {
 public:
  // An engine on a copy of the list at a size step (0 full, 1 half, 2
  // quarter); null when the list is empty or its first clip shows no
  // picture.
  static std::unique_ptr<DTamsel> create(const MPEG_Clip* list, int size_mode, EngineError* error = nullptr);
  ~DTamsel();
  DTamsel(const DTamsel&) = delete;
  DTamsel& operator=(const DTamsel&) = delete;

  void clean_up();

  // Queries.
  int get_curr_frame_offset() const;
  int get_total_frames();
  int get_end_offset() { return get_total_frames() - 1; }
  int get_clip_count() const;
  double get_frame_rate() const { return frame_rate_; }
  bool has_audio() const;
  int get_channels() const { return channels_; }
  int get_sample_rate() const { return sample_rate_; }
  int get_bits_per_sample() const { return 16; }
  bool is_still_image() const;
  double get_total_time() { return frame_2_time(get_total_frames()); }
  double get_current_time() { return frame_2_time(get_curr_frame_offset()); }
  const MPEG_Clip* get_clip_list() const { return list_; }
  const MPEG_Clip* get_current_clip() const { return current_; }
  int get_current_clip_index() const;
  bool in_transition() const { return in_transition_ != 0; }
  int get_size_mode() const { return size_mode_; }
  DTV* get_dtv() const { return dtv_.get(); }

  // The picture shown (the mixed one in a transition); null without one.
  Frame* get_decoded_frame() { return dtv_ ? get_dtv_screen() : nullptr; }
  Image* get_decoded_frame_image();
  // Coding type of the picture shown (1 I, 2 P, 3 B); 0 without one.
  int get_decoded_frame_flag();
  // Size of the picture shown; 352 x 240 without one.
  int get_decoded_image_width();
  int get_decoded_image_height();

  // Called as callback(user, 1) on the thread that moved the engine, when
  // the clip shown has another frame rate than the one last notified.
  using NotifyCallback = void (*)(void* user, int what);
  // 1 set; 0 (nothing changed) when either is null.
  int set_notify_callback(NotifyCallback callback, void* user);
  void update_frame_rate();

  // Navigation; each returns 1 when a frame was shown, 0 at an end or on
  // failure.
  int forward(int n);
  int backward(int n);
  // Shows edit frame N (clamped to the movie); the edit frame shown.
  int search(int frame, int reseek_audio, int reopen);
  int set_play_mode(int bits);
  int get_play_mode() const;
  void update_clip_bounds();
  // Shows the first frame of the next (previous) clip that is not part of
  // a transition; 1 done, 0 when there is none or it does not open.
  int next_clip();
  int prev_clip();

  // Movie time, counted from the first edit frame.
  int time_2_frame(double seconds) const;
  double frame_2_time(int frame) const;
  // The time code of edit frame N as its clip's GOP time codes count
  // (the GOP-header word; *text "HH:MM:SS:FF", drop-frame "H:MM:SS;FF").
  uint32_t get_frame_offset_timecode(int frame, std::string* text) const;
  // The edit frame of a time code text as get_frame_offset_timecode gives
  // it; -1 when the text is no time code or no clip holds it.
  int timecode_2_frame(const char* text) const;

  // The picture shown: the mixed picture in a transition, else the main
  // clip's screen with its overlays.
  Frame* get_dtv_screen();
  // The full-size picture shown as 11 JPEG, 12 BMP, 2 or 3 (one-picture
  // MPEG video, its format from the picture size); the bytes written, 0
  // when refused or failed (no file is then left).
  int save_image(const char* file_name, int type, int quality);

  // The window's bitmap of the shown picture. Depths 8, 16, 24, 32; the
  // old depth is returned (an unsupported one changes nothing).
  int set_bmp_depth(int bits);
  // A bitmap and converter at the shown picture's size; 0 done, 1 failed.
  int init_bmp(int bits);
  // The shown picture converted (scaled to the bitmap when its size
  // changed); null when there is nothing to convert into.
  uint8_t* get_decoded_image_dib_data();
  BitmapInfo* get_decoded_image_dib_header();
  // Of the bitmap (bytes per line at 8 bits), else of the shown picture.
  int get_image_width();
  int get_image_height();
  // 1: interlaced pictures at 8 bits show one field at full height.
  void set_field_dither(int on) { field_dither_ = on ? 1 : 0; }

  // Lowest output rate for a save of the given kind in bytes per frame
  // (kinds 4, 5, 6, 8; others: the video alone); 0 when it cannot be told.
  int get_minimum_output_bit_rate(int kind);

  // Playback sound: the movie's audio as one track at the engine's rate and
  // channels, kept in step with the frames shown. Rates other than 32000,
  // 44100 and 48000 become 44100; 0 keeps a value. 1 when a player was
  // wanted and could not be built.
  int set_audio_format(int sample_rate, int channels);
  void set_defaults_audio();
  void disable_audio();
  bool audio_is_off() const { return audio_off_ != 0; }
  // (Re)builds the player from the working list, or hands it the list
  // again, and seeks it to the frame shown.
  void audio_player_update();
  void audio_player_seek(int mode);
  void audio_player_restart(int mode) { audio_player_seek(mode); }
  // The next channels x 1152 samples of 16-bit PCM; *bytes their size, 0 at
  // the end, without a player or while playing backward (null then). *time
  // is the movie time of the block's first sample.
  const int16_t* get_audio_samples(int* bytes, double* time);
  void set_pcm_scale(const std::vector<PCMScalePoint>& points);
  std::vector<PCMScalePoint> get_pcm_scale() const;
  const DATrack* get_audio_player() const { return audio_.get(); }

  // Edits.
  MPEG_Clip* copy(int start, int count);
  MPEG_Clip* copy_time(double start, double length);
  int cut(int start, int count);
  // Takes the inserted list on success; on failure it stays the caller's.
  int paste(MPEG_Clip* inserted, int frame, int effect_id, int length);
  int paste_time(MPEG_Clip* inserted, double t, int effect_id, double seconds);
  int replace(const MPEG_Clip* list);
  int insert_transitions(int frame, int effect_id, int length);
  double insert_transitions_time(double t, int effect_id, double seconds);
  int remove_transitions(int frame);
  int add_overlay(const char* image_file, int kind, int value, int frame, int length);

  // Save options. The PID setters take 16..8190 and return the PID in force.
  const EngineSettings& get_settings() const { return settings_; }
  void set_settings(const EngineSettings& s) { settings_ = s; }
  int set_video_pid(int pid) { return set_pid(&settings_.video_pid, pid); }
  int set_audio_pid(int pid) { return set_pid(&settings_.audio_pid, pid); }
  int set_program_pid(int pid) { return set_pid(&settings_.program_pid, pid); }
  // 1..14; returns the argument.
  int set_index_option(int v) {
    if (v >= 1 && v < 15) settings_.index_option = v;
    return v;
  }
  void set_output_chroma_format(int v) { settings_.output_chroma_format = v; }
  void set_svcd_flag(int on) { settings_.svcd = on ? 1 : 0; }
  void set_dvd_flag(int on) { settings_.dvd = on ? 1 : 0; }
  void set_record_option(int on) { settings_.record_option = on; }
  void set_gop_fix_mode() { settings_.gop_fix = 1; }
  void set_audio_encoder(int layer, int sample_rate, int channels, int bit_rate, int clip_select);
  void set_audio_copy() { settings_.audio.copy = 1; }
  int set_chroma_format(int v) {
    if (v == 1 || v == 2) chroma_format_ = v;
    return chroma_format_;
  }
  void set_file_name(const char* name) { file_name_ = name ? name : ""; }
  const std::string& get_file_name() const { return file_name_; }

  // Opens of the main frame access so far (tests).
  int get_open_count() const { return open_count_; }

 private:
  explicit DTamsel(int size_mode);
  // 0, or the EngineError code of what failed.
  int init(const MPEG_Clip* list);
  void check_frame_counts();
  int open_main(MPEG_Clip* c);
  // Opens the second frame access on next (when not already) and mixes.
  int enter_transition(int second_index);
  int mix();
  int step_forward();
  int step_backward();
  static int set_pid(int* slot, int pid) {
    if (pid >= 16 && pid < 8191) *slot = pid;
    return *slot;
  }
  // The list was replaced: current clip to the head, transitions off.
  void list_changed(MPEG_Clip* head);

  MPEG_Clip* list_ = nullptr;
  MPEG_Clip* current_ = nullptr;
  std::unique_ptr<DTV> dtv_, second_;
  const MPEG_Clip* second_clip_ = nullptr;
  Effect effect_;
  std::unique_ptr<Frame> effect_frame_;
  int in_transition_ = 0;
  int transition_in_end_ = -1, transition_out_start_ = -1;
  int size_mode_ = 0;
  int chroma_format_ = 1;
  int sample_rate_ = 44100, channels_ = 2;
  std::unique_ptr<DATrack> audio_;
  int audio_off_ = 0;
  int audio_restart_pending_ = 0;
  EngineSettings settings_;
  double frame_rate_ = 30000.0 / 1001.0;
  double notified_rate_ = 0.0;
  NotifyCallback notify_ = nullptr;
  void* notify_user_ = nullptr;
  int drop_frame_ = 1;
  int open_count_ = 0;
  std::string file_name_;
  std::unique_ptr<BMP> bmp_;
  std::unique_ptr<Dither> dither_;
  int bmp_depth_ = 24;
  int field_dither_ = 0;
  int min_rates_[5] = {};
  bool min_rates_known_ = false;
};
