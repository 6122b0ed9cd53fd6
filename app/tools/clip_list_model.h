// The Video Clip List's rules without its window: the clip array, start
// and length corrections, the undo of deletions, the ".vls" text and the
// "VidList.cfg" settings, and the list handed to a new editor.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "access/clip.h"
#include "app/shell/edit_history.h"
#include "engine/clips/project.h"

// One entry of a ".vls" text as read, before its file is looked at.
struct VlsEntry {
  bool has_values = false;
  // start, count, audio id, audio PID, video id, video PID, effect, length,
  // overlays
  int values[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::string file;
  struct Overlay {
    int effect_id = 0, start = 0, count = 0;
    std::string image;  // empty: none
  };
  std::vector<Overlay> overlays;  // at most 8
};

// The ".vls" text of clips; empty for no clips.
std::string write_vls(const std::vector<Clip>& clips);
// The entries of the first "[ClipList]:" block (as many as present, up to
// its count); none when there is no block or its count is not positive.
std::vector<VlsEntry> parse_vls(const std::string& text);

// Makes a clip of a file; false (nothing to add) when it has no video.
using ClipMaker = std::function<bool(const std::string& file, Clip* out)>;
// The engine's: a verified clip with at least one video stream.
bool make_video_clip(const std::string& file, Clip* out);

class VideoClipListModel {
 public:
  explicit VideoClipListModel(ClipMaker maker = make_video_clip);

  const std::vector<Clip>& clips() const { return clips_; }
  // The clips for the effect setup, which changes them in place.
  std::vector<Clip>& edit_clips() { return clips_; }
  int selected = 0;
  int time_format = 1;  // 1 seconds, 0 frames
  std::string input_folder, load_folder, save_folder;
  int window[4] = {0, 0, 0, 0};
  int columns[4] = {0, 0, 0, 0};

  // Appends when index is negative or past the end.
  void insert_clip_record(const Clip& clip, int index);
  // A clip's start and frame count (negative values leave them), kept
  // inside its file.
  void set_range(int row, int start, int count);
  // A clip of a file through the maker; false when it has no video.
  bool make_clip(const std::string& file, Clip* out) const { return maker_ && maker_(file, out); }
  // Removes a clip; its deletion goes onto the undo history.
  bool remove_clip_record(int index);
  // Puts the newest deleted clip back at its old index; false when none.
  bool undo();
  bool can_undo() const { return !history_.empty(); }
  int undo_count() const { return history_.count(); }
  void clear_undo() { history_.clear(); }
  // Every clip deleted (and undoable), the newest 16 kept.
  void clear();
  void remove_all_quietly() { clips_.clear(); }

  // Appends the accepted entries of a ".vls" text; the number accepted.
  // With add false only counts them.
  int read_clip_list(const std::string& text, bool add);
  // "VidList.cfg": the window's settings, then its list.
  std::string settings_text() const;
  bool save_settings(const std::string& path, std::string* error = nullptr) const;
  void load_settings(const std::string& path);

  // Seconds shown for a frame number of a clip, and frames of typed
  // seconds (truncated after adding a half frame).
  static double frame_period(const Clip& c);
  static int seconds_to_frames(double seconds, double period);
  // The start and length rules: fields corrected against the selected
  // clip's total (in frames or seconds as the format says).
  void start_rule(double* start, double* length) const;
  void length_rule(double* start, double* length) const;

  // A row's text: the file, then start, length and the file's total, as
  // seconds ("%.2f") or frame numbers.
  std::string cell(int row, int column) const;
  // A number as the fields show it in the current format.
  std::string field_text(int frames, int row) const;
  // A field's text in frames (seconds converted with the row's period);
  // -1 for an empty field.
  int field_frames(const std::string& text, int row) const;
  double field_value(const std::string& text) const;

  // The list handed to a new editor: every clip, the current frame the
  // first of the selected clip.
  EClip hand_over() const;

 private:
  double selected_total() const;
  double selected_period() const;
  ClipMaker maker_;
  std::vector<Clip> clips_;
  EditHistory history_{16};
};

inline constexpr const char* kClipListSettingsFile = "VidList.cfg";
