#include "app/shell/mpeg_editor_adapter.h"

#include <cmath>

#include "engine/dtamsel.h"
#include "engine/mpeg_editor.h"

MpegEditorAdapter::MpegEditorAdapter(std::unique_ptr<MPEG_Editor> editor) : editor_(std::move(editor)) {
  if (DTamsel* e = editor_ ? editor_->engine() : nullptr) clip_index_ = e->get_current_clip_index();
}

MpegEditorAdapter::~MpegEditorAdapter() = default;

std::unique_ptr<IEditor> MpegEditorAdapter::open(const std::string& path, int size_mode) {
  auto e = MPEG_Editor::create(path.c_str(), size_mode);
  if (!e) return nullptr;
  return std::make_unique<MpegEditorAdapter>(std::move(e));
}

std::unique_ptr<IEditor> MpegEditorAdapter::from_clip(const EClip& clip, int size_mode) {
  auto e = MPEG_Editor::create(clip, size_mode);
  if (!e) return nullptr;
  return std::make_unique<MpegEditorAdapter>(std::move(e));
}

int MpegEditorAdapter::get_total_frames() { return editor_->get_total_frames(); }
int MpegEditorAdapter::get_clip_count() { return editor_->get_clip_count(); }
int MpegEditorAdapter::get_curr_frame_offset() { return editor_->get_curr_frame_offset(); }
double MpegEditorAdapter::get_total_time() { return editor_->get_total_time(); }
double MpegEditorAdapter::get_current_time() { return editor_->get_current_time(); }

double MpegEditorAdapter::get_frame_rate() {
  const double r = editor_->get_frame_rate();
  return std::isfinite(r) && r > 0 ? r : 0.0;
}

std::string MpegEditorAdapter::get_trim_range(int* start, int* count) {
  const char* name = editor_->get_trim_range(start, count);
  return name ? std::string(name) : std::string();
}

int MpegEditorAdapter::get_longest_video_info(VideoInfo* out) { return editor_->get_longest_video_info(out); }
int MpegEditorAdapter::get_minimum_output_bit_rate(int kind) { return editor_->get_minimum_output_bit_rate(kind); }
bool MpegEditorAdapter::is_at_clip_end() { return editor_->is_at_clip_end(); }
bool MpegEditorAdapter::is_at_clip_start() { return editor_->is_at_clip_start(); }
bool MpegEditorAdapter::is_still_image() { return editor_->is_still_image(); }
int MpegEditorAdapter::time_2_frame(double seconds) { return editor_->time_2_frame(seconds); }

int MpegEditorAdapter::timecode_2_frame(const std::string& text) { return editor_->timecode_2_frame(text.c_str()); }

std::string MpegEditorAdapter::get_frame_offset_timecode(int frame) {
  std::string text;
  editor_->get_frame_offset_timecode(frame, &text);
  return text;
}

std::vector<std::string> MpegEditorAdapter::source_files() {
  std::vector<std::string> out;
  DTamsel* e = editor_->engine();
  for (const MPEG_Clip* c = e ? e->get_clip_list() : nullptr; c; c = c->next) {
    if (const char* f = c->get_file_name()) out.emplace_back(f);
    int n = 0;
    const OverlayClip* o = c->get_field_pair(&n);
    for (int i = 0; o && i < n; ++i)
      if (const char* f = o[i].get_image_file()) out.emplace_back(f);
  }
  return out;
}

void MpegEditorAdapter::moved() {
  DTamsel* e = editor_->engine();
  const int index = e ? e->get_current_clip_index() : -1;
  if (index != clip_index_) {
    clip_index_ = index;
    if (notify_) notify_();
  }
}

int MpegEditorAdapter::search(int frame, int /*exact*/) {
  // The engine's search always lands on the very frame.
  const int r = editor_->search(frame, 1);
  moved();
  return r;
}

int MpegEditorAdapter::forward(int n) {
  const int before = get_curr_frame_offset();
  editor_->forward(n);
  moved();
  const int advanced = get_curr_frame_offset() - before;
  return advanced > 0 ? advanced : 0;
}

int MpegEditorAdapter::backward() {
  const int r = editor_->backward(1);
  moved();
  return r;
}

int MpegEditorAdapter::set_play_mode(int mode) {
  return static_cast<int>(editor_->set_play_mode(static_cast<PlayMode>(mode)));
}

std::unique_ptr<EClip> MpegEditorAdapter::copy(double start, double length) { return editor_->copy(start, length); }
std::unique_ptr<EClip> MpegEditorAdapter::frame_copy(int start, int count) {
  return editor_->frame_copy(start, count);
}
int MpegEditorAdapter::frame_cut(int start, int count) { return editor_->frame_cut(start, count); }
int MpegEditorAdapter::paste(const EClip& clip, double t, int effect_id, double seconds) {
  return editor_->paste(clip, t, effect_id, seconds);
}
int MpegEditorAdapter::frame_paste(const EClip& clip, int frame) { return editor_->frame_paste(clip, frame); }
int MpegEditorAdapter::replace(const EClip& clip) { return editor_->replace(clip); }
int MpegEditorAdapter::frame_remove_transitions(int frame) { return editor_->frame_remove_transitions(frame); }
double MpegEditorAdapter::insert_transitions(double t, int effect_id, double seconds) {
  return editor_->insert_transitions(t, effect_id, seconds);
}
int MpegEditorAdapter::add_overlay(const std::string& file, int count, int effect_id, int frame, int length) {
  return editor_->add_overlay(file.c_str(), count, effect_id, frame, length);
}

int MpegEditorAdapter::set_bmp_depth(int bits) { return editor_->set_bmp_depth(bits); }
void MpegEditorAdapter::set_field_dither(int on) { editor_->set_field_dither(on); }
const BitmapInfo* MpegEditorAdapter::get_decoded_image_dib_header() { return editor_->get_decoded_image_dib_header(); }
const uint8_t* MpegEditorAdapter::get_decoded_image_dib_data() { return editor_->get_decoded_image_dib_data(); }
int MpegEditorAdapter::get_image_width() { return editor_->get_image_width(); }
int MpegEditorAdapter::get_image_height() { return editor_->get_image_height(); }
int MpegEditorAdapter::get_decoded_frame_flag() { return editor_->get_decoded_frame_flag(); }

int MpegEditorAdapter::save_image(const std::string& path, int kind, int quality) {
  return editor_->save_image(path.c_str(), kind, quality) > 0 ? 1 : 0;
}

bool MpegEditorAdapter::has_audio() { return editor_->has_audio(); }
int MpegEditorAdapter::get_sample_rate() { return editor_->get_sample_rate(); }
int MpegEditorAdapter::get_channels() { return editor_->get_channels(); }
int MpegEditorAdapter::get_bits_per_sample() { return editor_->get_bits_per_sample(); }
const int16_t* MpegEditorAdapter::get_audio_samples(int* bytes) { return editor_->get_audio_samples(bytes); }
void MpegEditorAdapter::audio_player_restart() { editor_->audio_player_restart(); }

void MpegEditorAdapter::set_file_name(const std::string& name) { editor_->set_file_name(name.c_str()); }
std::string MpegEditorAdapter::get_file_name() { return editor_->get_file_name(); }
void MpegEditorAdapter::set_notify_callback(std::function<void()> callback) { notify_ = std::move(callback); }
