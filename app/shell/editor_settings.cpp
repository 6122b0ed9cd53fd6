#include "app/shell/editor_settings.h"

#include <cstring>

#include "access/dtv.h"
#include "app/shell/file_utils.h"

namespace {

struct KeyDefault {
  const char* label;
  char key;
};
const KeyDefault kKeyDefaults[kKeyCount] = {
    {"Play Forward", 'D'},     {"Play Reverse", 'A'},       {"Play Speed", 'S'},
    {"Home", 'F'},             {"End", 'E'},                {"Step Forward", 'L'},
    {"Step Backward", 'H'},    {"Arrow / Page Up", 'K'},    {"Arrow / Page Down", 'J'},
    {"Mark In", 'I'},          {"Mark Out", 'O'},           {"Mark Insert", 'P'},
    {"Play Segment", 'Q'},     {"Audio Toggle", 'W'},       {"Undo", 'U'},
    {"Trim Left", 'R'},        {"Cut", 'X'},                {"Redo", 'N'},
    {"Trim Right", 'M'},       {"Paste", 'V'},              {"Insert", 'B'},
    {"Copy", 'C'},             {"Save", 'Z'},               {"Snapshot", 'Y'},
    {"GOP Trim", 'T'},         {"Jump to Mark Insert", '1'}, {"Jump to Mark Out", '2'},
    {"Jump to Mark In", '3'},  {"File Information", '0'},
};

}  // namespace

const char* key_command_label(int code) { return code >= 1 && code <= kKeyCount ? kKeyDefaults[code - 1].label : ""; }

int default_key_of(int code) { return code >= 1 && code <= kKeyCount ? kKeyDefaults[code - 1].key : 0; }

EditorSettings::EditorSettings() {
  set_default_key_map();
  screen_depth = 8;
  set_defaults();
}

void EditorSettings::set_default_key_map() {
  jump_format = 0;
  spare_jump_frames = 10;
  jump_frames = 150;
  spare_jump_seconds = 1.0;
  jump_seconds = 10.0;
  spare_jump_percent = 1;
  jump_percent = 10;
  for (int c = 1; c <= kKeyCount; ++c) keys[c - 1] = default_key_of(c);
}

void EditorSettings::set_defaults() {
  image_size = 0;
  field_mode = 0;
  active_page = 0;
  display_time_code = 1;
  video_looping = 0;
  // screen_depth is measured, and program_folder found, at start: neither
  // is a setting to reset.
  image_color = 8;
  me_algorithm = 0;
  transition_length = 5.0;
  image_length = 5.0;
  audio_crc = 0;
  undo_size = 16;
  save_type = 0;
  full_scan = 0;
  muxer_type = 1;
  pmt_pid = 64;
  video_pid = 32;
  audio_pid = 33;
  encoder_temporal_filter = 0;
  encoder_deinterlace_filter = 0;
  encoder_scene_change = 0;
  encoder_inverse_telecine = 0;
  for (int i = 0; i < 3; ++i) convertor_in_columns[i] = convertor_out_columns[i] = 0;
  window_rect[0] = 0;
  window_rect[1] = 0;
  window_rect[2] = 600;
  window_rect[3] = 400;
  window_zoomed = 0;
  show_splash = 1;
  show_min_size_info = 1;
  select_min_size = 0;
  open_folder.clear();
  load_folder.clear();
  save_folder.clear();
  trim_folder.clear();
  image_extension.clear();
  muxer_in_folder.clear();
  muxer_out_folder.clear();
  demuxer_in_folder.clear();
  demuxer_out_folder.clear();
  convertor_in_folder.clear();
  convertor_out_folder.clear();
  av_sync_range = 2000;
  mbs_scan_auto_start = 1;
}

void EditorSettings::copy_key_map(const EditorSettings& f) {
  jump_format = f.jump_format;
  spare_jump_frames = f.spare_jump_frames;
  jump_frames = f.jump_frames;
  spare_jump_seconds = f.spare_jump_seconds;
  jump_seconds = f.jump_seconds;
  spare_jump_percent = f.spare_jump_percent;
  jump_percent = f.jump_percent;
  std::memcpy(keys, f.keys, sizeof keys);
}

int32_t EditorSettings::compare_key_map(const EditorSettings& a, const EditorSettings& b) {
  const bool same = a.jump_format == b.jump_format && a.spare_jump_frames == b.spare_jump_frames &&
                    a.jump_frames == b.jump_frames && a.spare_jump_seconds == b.spare_jump_seconds &&
                    a.jump_seconds == b.jump_seconds && a.spare_jump_percent == b.spare_jump_percent &&
                    a.jump_percent == b.jump_percent && std::memcmp(a.keys, b.keys, sizeof a.keys) == 0;
  return same ? 0 : 1;
}

void EditorSettings::set_open_folder(const std::string& path) { open_folder = split_path(path); }
void EditorSettings::set_load_folder(const std::string& path) { load_folder = split_path(path); }
void EditorSettings::set_save_folder(const std::string& path) { save_folder = split_path(path); }
void EditorSettings::set_trim_folder(const std::string& path) { trim_folder = split_path(path); }

void EditorSettings::apply_full_scan() const { skip_full_scan = full_scan ? 0 : 1; }

EditorSettings& editor_settings() {
  static EditorSettings s;
  return s;
}

int display_bmp_depth(const EditorSettings& s) {
  if (s.screen_depth == 8) return 8;
  return s.image_color == 16 || s.image_color == 24 ? s.image_color : 0;
}
