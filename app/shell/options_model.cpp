#include "app/shell/options_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "access/dtv.h"
#include "engine/clips/file_info.h"

namespace {

double number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

}  // namespace

OptionsSheetModel::OptionsSheetModel(EditorSettings* s) : settings_(s) {
  color = s->image_color == 16 ? 24 : s->image_color;
  if (!color24_allowed()) color = 8;
  looping = s->video_looping;
  size = ((s->image_size % 3) + 3) % 3;
  field_mode = s->field_mode;
  me_algorithm = s->me_algorithm;
  full_scan = s->full_scan;
  keys.copy_key_map(*s);
  transition_length = s->transition_length;
  image_length = s->image_length;
  audio_crc = s->audio_crc;
}

std::string OptionsSheetModel::jump_text() const {
  char text[64];
  switch (keys.jump_format) {
    case 1:
      std::snprintf(text, sizeof text, " %.1f", keys.jump_seconds);
      break;
    case 2:
      std::snprintf(text, sizeof text, "%d", keys.jump_percent);
      break;
    default:
      std::snprintf(text, sizeof text, "%d", keys.jump_frames);
  }
  return text;
}

void OptionsSheetModel::set_jump_format(int format) {
  if (format >= 0 && format <= 2) keys.jump_format = format;
}

void OptionsSheetModel::set_jump_text(const std::string& text) {
  double v = number(text);
  switch (keys.jump_format) {
    case 1:
      keys.jump_seconds = v > 0 ? v : 1.0;
      break;
    case 2:
      if (!(v > 0)) v = 1;
      if (v > 100) v = 100;
      keys.jump_percent = int(v);
      break;
    default:
      if (!(v >= 1)) v = 1;
      keys.jump_frames = v > 2e9 ? 2000000000 : int(v);
  }
}

std::string OptionsSheetModel::length_text(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

void OptionsSheetModel::set_length_texts(const std::string& transition, const std::string& image) {
  transition_length = number(transition);
  image_length = number(image);
}

bool OptionsSheetModel::modified(int page) const {
  const EditorSettings& s = *settings_;
  switch (page) {
    case 0:
      return color != s.image_color || looping != s.video_looping;
    case 1:
      return size != s.image_size || field_mode != s.field_mode;
    case 2:
      return me_algorithm != s.me_algorithm || full_scan != s.full_scan;
    case 3:
      return EditorSettings::compare_key_map(keys, s) != 0;
    case 4:
      return std::fabs(transition_length - s.transition_length) > 0.01 ||
             std::fabs(image_length - s.image_length) > 0.01;
    case 5:
      return audio_crc != s.audio_crc;
  }
  return false;
}

void OptionsSheetModel::apply(int page) {
  EditorSettings& s = *settings_;
  switch (page) {
    case 0:
      s.image_color = color;
      s.video_looping = looping;
      break;
    case 1:
      s.image_size = size;
      s.field_mode = field_mode;
      break;
    case 2:
      s.full_scan = full_scan;
      s.apply_full_scan();
      s.me_algorithm = me_algorithm;
      break;
    case 3:
      s.copy_key_map(keys);
      break;
    case 4:
      s.transition_length = transition_length;
      if (std::fabs(image_length - s.image_length) > 0.01) {
        s.image_length = image_length;
        set_still_image_duration(image_length);
      }
      break;
    case 5:
      s.audio_crc = audio_crc;
      break;
  }
}

void OptionsSheetModel::apply_all() {
  for (int p = 0; p < kPages; ++p) apply(p);
}

int OptionsSheetModel::first_page() const { return ((settings_->active_page % kPages) + kPages) % kPages; }

void OptionsSheetModel::closed_on(int page) { settings_->active_page = page; }
