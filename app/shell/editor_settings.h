// The editor's settings: one process-wide record read from
// "MPEG-Tamsel.cfg" in the configuration folder at start and written back
// at exit. Every window and tool reads its fields by these names.
#pragma once

#include <cstdint>
#include <string>

// The player's key commands, numbered as the key map stores them (codes
// 1-9 on the "Keyboard Key Map" line, 10-29 on "Keyboard Key Map Ex").
enum class KeyCommand : int {
  PlayForward = 1,
  PlayReverse,
  PlaySpeed,
  Home,
  End,
  StepForward,
  StepBackward,
  PageUp,
  PageDown,
  MarkIn,
  MarkOut,
  MarkInsert,
  PlaySegment,
  AudioToggle,
  Undo,
  TrimLeft,
  Cut,
  Redo,
  TrimRight,
  Paste,
  Insert,
  Copy,
  Save,
  Snapshot,
  GopTrim,
  GotoInsert,
  GotoMarkOut,
  GotoMarkIn,
  FileInformation,
};
inline constexpr int kKeyCount = 29;
// The label the key map shows for a command (1..29); empty outside.
const char* key_command_label(int code);
// The default key (virtual-key code: the upper-case letter or digit).
int default_key_of(int code);

class EditorSettings {
 public:
  EditorSettings();

  // Keyboard part: filled by set_default_key_map, copied as a whole
  // (copy_key_map), compared by compare_key_map.
  int32_t jump_format;  // 0 frames, 1 seconds, 2 percent
  int32_t spare_jump_frames;
  int32_t jump_frames;
  double spare_jump_seconds;
  double jump_seconds;
  int32_t spare_jump_percent;
  int32_t jump_percent;
  int32_t keys[kKeyCount];  // keys[code - 1]

  int32_t image_size;  // 0 full, 1 half, 2 quarter
  int32_t field_mode;
  int32_t active_page;
  int32_t display_time_code;
  int32_t video_looping;
  int32_t screen_depth;  // measured at start, not stored
  int32_t image_color;   // 8, 16 or 24
  int32_t me_algorithm;
  double transition_length;
  double image_length;
  int32_t audio_crc;
  int32_t undo_size;
  int32_t save_type;
  int32_t full_scan;
  int32_t muxer_type;
  int32_t pmt_pid;
  int32_t video_pid;
  int32_t audio_pid;
  int32_t encoder_temporal_filter;
  int32_t encoder_deinterlace_filter;
  int32_t encoder_scene_change;
  int32_t encoder_inverse_telecine;
  int32_t convertor_in_columns[3];
  int32_t convertor_out_columns[3];
  int32_t window_rect[4];  // left, top, right, bottom
  int32_t window_zoomed;
  int32_t show_splash;
  int32_t show_min_size_info;
  int32_t select_min_size;
  std::string program_folder;  // filled by load_config, not in the file
  std::string open_folder, load_folder, save_folder, trim_folder;
  std::string image_extension;
  std::string muxer_in_folder, muxer_out_folder;
  std::string demuxer_in_folder, demuxer_out_folder;
  std::string convertor_in_folder, convertor_out_folder;
  int32_t av_sync_range;
  int32_t mbs_scan_auto_start;

  void set_default_key_map();
  // Every other field's default. The program folder is kept: it is where
  // the program's files are, not a setting.
  void set_defaults();
  void copy_key_map(const EditorSettings& from);
  // 0 when every keyboard field is equal, else non-zero.
  static int32_t compare_key_map(const EditorSettings& a, const EditorSettings& b);

  // 1 when the file was read (unknown, comment and bad lines skipped), 0
  // when it cannot be opened (record unchanged).
  int read(const std::string& path);
  // 1 when written: to a temporary name, then renamed over path.
  int write(const std::string& path) const;

  // Folder fields from a chosen file's path (split_path).
  void set_open_folder(const std::string& path);
  void set_load_folder(const std::string& path);
  void set_save_folder(const std::string& path);
  void set_trim_folder(const std::string& path);

  // The key (virtual-key code) of a command.
  int key(KeyCommand c) const { return keys[int(c) - 1]; }
  void set_key(KeyCommand c, int vk) { keys[int(c) - 1] = vk; }
  // Applies full_scan to the engine's flag (its negation).
  void apply_full_scan() const;
};

// The record every window reads.
EditorSettings& editor_settings();

// Name of the settings file in the program folder.
inline constexpr const char* kSettingsFileName = "MPEG-Tamsel.cfg";
// The configuration folder (made when missing); empty when it cannot be
// made, *error then says why.
std::string get_program_folder(std::string* error = nullptr);
// Reads the settings of the configuration folder into editor_settings()
// and gives the engine its values; false (record untouched but for the
// folder) when there is no configuration folder, *error then says why.
bool load_config(std::string* error = nullptr);
// Writes editor_settings() into the configuration folder; false when it
// could not.
bool save_config();
// The bitmap depth new editors are given: 8 on an 8-bit screen, else the
// "Image Color" setting when it is 16 or 24; 0 keeps the engine's own.
int display_bmp_depth(const EditorSettings& s);
