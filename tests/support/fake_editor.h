// An editor without an engine, for the windows' tests: programmable frame
// count, rate, picture size, trim range and audio; edits that follow the
// engine's range rules unless a result is scripted; a synthetic display
// bitmap per frame (eight coloured bands and the frame number in white)
// at 8, 16 or 24 bits, whose true colours tests can ask for.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/ieditor.h"

struct FakeRgb {
  int r, g, b;
  bool operator==(const FakeRgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

class FakeEditor : public IEditor {
 public:
  FakeEditor() = default;
  FakeEditor(int frames, int width, int height, double rate = 25.0);

  // Programmable state.
  int frames = 100;
  int width = 352, height = 288;
  // The movie's coded size when the picture is shown smaller (0: the
  // picture's size) and the size step the editor was made at.
  int coded_width = 0, coded_height = 0;
  int size_mode = 0;
  double rate = 25.0;
  int current = 0;
  std::string file = "fake.mpg";  // the source file
  std::string name;               // set_file_name
  std::string trim_file;          // non-empty: a trim range exists
  int trim_start = 0, trim_count = 0;
  bool audio = false;
  int sample_rate = 48000, channels = 2;
  int depth = 24;
  int field_dither = 0;
  int play_mode = 3;
  // Scripted edit results, taken in order; when empty the range rules
  // decide.
  std::deque<int> cut_results, paste_results, replace_results;
  // Every call that changes the editor, as "name arg arg".
  std::vector<std::string> calls;

  // The colour a frame's picture has at (x, y) (top-down), as a bitmap of
  // the given depth holds it (16 bits: 5 bits per component, widened as
  // (v << 3) | (v >> 2)).
  static FakeRgb rgb_at(int frame, int x, int y, int width, int height, int depth);
  FakeRgb rgb_at(int x, int y) const { return rgb_at(current, x, y, width, height, depth); }

  int get_total_frames() override { return frames; }
  int get_clip_count() override { return 1; }
  int get_curr_frame_offset() override { return current; }
  double get_total_time() override { return rate > 0 ? frames / rate : 0; }
  double get_current_time() override { return rate > 0 ? current / rate : 0; }
  double get_frame_rate() override { return rate; }
  std::string get_trim_range(int* start, int* count) override;
  int get_longest_video_info(VideoInfo* out) override;
  int get_minimum_output_bit_rate(int) override { return 0; }
  bool is_at_clip_end() override { return current >= frames - 1; }
  bool is_at_clip_start() override { return current <= 0; }
  bool is_still_image() override { return false; }
  int time_2_frame(double seconds) override { return int(seconds * rate + 0.5); }
  int timecode_2_frame(const std::string& text) override;
  std::string get_frame_offset_timecode(int frame) override;
  std::vector<std::string> source_files() override { return {file}; }

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
  void set_field_dither(int on) override { field_dither = on; }
  const BitmapInfo* get_decoded_image_dib_header() override;
  const uint8_t* get_decoded_image_dib_data() override;
  int get_image_width() override { return width; }
  int get_image_height() override { return height; }
  int get_decoded_frame_flag() override { return 0; }
  int save_image(const std::string& path, int kind, int quality) override;

  bool has_audio() override { return audio; }
  int get_sample_rate() override { return audio ? sample_rate : 0; }
  int get_channels() override { return audio ? channels : 0; }
  int get_bits_per_sample() override { return 16; }
  const int16_t* get_audio_samples(int* bytes) override;
  void audio_player_restart() override { calls.push_back("audio_player_restart"); }

  void set_file_name(const std::string& n) override { name = n; }
  std::string get_file_name() override { return name; }
  void set_notify_callback(std::function<void()> callback) override { notify = std::move(callback); }
  std::function<void()> notify;

 private:
  int take(std::deque<int>* script, int otherwise);
  void render();
  std::unique_ptr<BitmapInfo> header_;
  std::vector<uint8_t> bits_;
  int rendered_frame_ = -1, rendered_depth_ = 0, rendered_w_ = 0, rendered_h_ = 0;
  std::vector<int16_t> pcm_;
};

// A file the fake factory opens: "FAKE-MOVIE frames=N width=W height=H
// rate=R audio=0|1" (missing values keep FakeEditor's defaults).
bool write_fake_movie(const std::string& path, int frames = 100, int width = 352, int height = 288,
                      double rate = 25.0, bool audio = false);
// The factory of fake movies: a FakeEditor for a file written by
// write_fake_movie, null for anything else (an empty or damaged file). The
// editors it made so far are in *made when given (they belong to their
// windows).
// Editors are made at the size step asked (half or quarter pictures of
// the movie's coded size).
EditorFactory fake_editor_factory(std::vector<FakeEditor*>* made = nullptr);
// Editors of a clip list whose first clip is a fake movie.
EditorClipFactory fake_clip_factory(std::vector<FakeEditor*>* made = nullptr);

struct InputProbe;
// Probes of the open road that know fake movies (a fake movie is an MPEG
// movie with video, a file starting "AUDIO" MPEG-1 audio, anything else
// unknown; a movie whose name starts with "seg" has streams that change).
InputProbe fake_input_probe();
