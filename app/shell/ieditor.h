// What the windows call of an editor (one movie or project under edit):
// the engine's editor facade behind an interface, so the windows' rules
// are tested over a fake (tests/support/fake_editor.h) and the real one
// (MpegEditorAdapter) changes in one place when the facade does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/clips/project.h"
#include "foundation/video_info.h"
#include "picture/bmp.h"

class IEditor {
 public:
  virtual ~IEditor() = default;

  // The edit list.
  virtual int get_total_frames() = 0;
  virtual int get_clip_count() = 0;
  virtual int get_curr_frame_offset() = 0;
  virtual double get_total_time() = 0;
  virtual double get_current_time() = 0;
  // Frames per second; 0 when unknown.
  virtual double get_frame_rate() = 0;
  // The source file when the list is one plain clip that a GOP trim can
  // save, with *start and *count widened to whole GOPs; empty otherwise.
  virtual std::string get_trim_range(int* start, int* count) = 0;
  // Index of the clip with the longest video (*out its description), or a
  // negative value without video.
  virtual int get_longest_video_info(VideoInfo* out) = 0;
  // Bytes per frame of an output kind's minimum rate.
  virtual int get_minimum_output_bit_rate(int kind) = 0;
  virtual bool is_at_clip_end() = 0;
  virtual bool is_at_clip_start() = 0;
  virtual bool is_still_image() = 0;
  virtual int time_2_frame(double seconds) = 0;
  // Frame of a time-code text; negative when the text is not one.
  virtual int timecode_2_frame(const std::string& text) = 0;
  virtual std::string get_frame_offset_timecode(int frame) = 0;
  // Every file the edit list reads (for the file-use check).
  virtual std::vector<std::string> source_files() = 0;

  // Moving. search: the frame made current (exact: 1 for that very frame).
  virtual int search(int frame, int exact) = 0;
  // Up to n frames forward; the number advanced, 0 at the end.
  virtual int forward(int n) = 0;
  virtual int backward() = 0;
  // 3 normal, 4 medium, 5 fast; the mode before.
  virtual int set_play_mode(int mode) = 0;

  // Edits. Copies are the caller's; a record passed in stays the caller's.
  virtual std::unique_ptr<EClip> copy(double start, double length) = 0;
  virtual std::unique_ptr<EClip> frame_copy(int start, int count) = 0;
  virtual int frame_cut(int start, int count) = 0;
  virtual int paste(const EClip& clip, double t, int effect_id, double seconds) = 0;
  virtual int frame_paste(const EClip& clip, int frame) = 0;
  virtual int replace(const EClip& clip) = 0;
  virtual int frame_remove_transitions(int frame) = 0;
  virtual double insert_transitions(double t, int effect_id, double seconds) = 0;
  virtual int add_overlay(const std::string& file, int count, int effect_id, int frame, int length) = 0;

  // The display bitmap of the current frame: depth 8 (with a 256-colour
  // table), 16 (5-5-5) or 24 bits, rows bottom-up, each padded to 4 bytes.
  virtual int set_bmp_depth(int bits) = 0;
  virtual void set_field_dither(int on) = 0;
  virtual const BitmapInfo* get_decoded_image_dib_header() = 0;
  virtual const uint8_t* get_decoded_image_dib_data() = 0;
  virtual int get_image_width() = 0;
  virtual int get_image_height() = 0;
  virtual int get_decoded_frame_flag() = 0;
  // Saves the current frame: 11 JPEG, 12 bitmap, 2 MPEG-1 still; 1 done.
  virtual int save_image(const std::string& path, int kind, int quality) = 0;

  // Sound of the edit list.
  virtual bool has_audio() = 0;
  virtual int get_sample_rate() = 0;
  virtual int get_channels() = 0;
  virtual int get_bits_per_sample() = 0;
  // The next block of 16-bit PCM (1152 samples per channel); *bytes 0 at
  // the end.
  virtual const int16_t* get_audio_samples(int* bytes) = 0;
  virtual void audio_player_restart() = 0;

  // The project or output name.
  virtual void set_file_name(const std::string& name) = 0;
  virtual std::string get_file_name() = 0;
  // Called (on the thread that moved the editor) after the current clip
  // changed.
  virtual void set_notify_callback(std::function<void()> callback) = 0;
};

// Makes an editor of a movie, project or clip list file at a size step
// (0 full, 1 half, 2 quarter); null when the file cannot be edited.
using EditorFactory = std::function<std::unique_ptr<IEditor>(const std::string& path, int size_mode)>;
// Makes an editor of a clip list in memory.
using EditorClipFactory = std::function<std::unique_ptr<IEditor>(const EClip& clip, int size_mode)>;
