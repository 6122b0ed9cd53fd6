// The Save dialog's rules: the output file, the kind, the range and the
// estimate of an editor's save record. The widget (ui/editor) shows the
// fields below and forwards edits and clicks.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "engine/clips/settings.h"

class IEditor;
class CAudioEncoderSetupDlg;
class CVideoEncoderSetupDlg;

// The kind buttons, in the dialog's order.
enum class SaveButton : int { edl = 0, video_es, mpeg1, vcd, program, svcd, transport };
inline constexpr int kSaveButtonCount = 7;

// Radio texts and default extensions of the buttons.
const char* save_button_text(SaveButton b);
const char* save_default_extension(SaveButton b);
// The button of a record's kind and SVCD flag (kind 7 is the SVCD button).
SaveButton save_button_of(int kind, int svcd);
// The record's kind of a button (the video-only button stores 2).
int save_kind_of(SaveButton b);
// Whether a kind is saved on the save thread (else it is written at once).
bool save_kind_threaded(int kind);

// Whether some clip of the record's project has the picture size, rate
// and MPEG version the video setup asks for: the engine copies or
// re-encodes pictures but never scales them or changes their rate.
bool save_video_setup_possible(const EditorRecordData& record);
// The refusal when it is not (empty when it is).
std::string save_video_setup_refusal(const EditorRecordData& record);

class CSaveDlg {
 public:
  // The record is the caller's; the editor gives time codes and the clip
  // count. The range starts on the record's range.
  CSaveDlg(EditorRecordData* record, IEditor* editor);

  int from_batch = 0;

  // Opening: rules applied to the record, fields filled.
  void init();
  // Typed range texts, taken when the edit is left or Enter pressed.
  void set_start_text(const std::string& text);
  void set_length_text(const std::string& text);
  void toggle_range();
  void choose(SaveButton b);
  // The name was typed or chosen: the disk list follows (with a warning
  // when the estimate does not fit).
  void set_file_name(const std::string& name);
  // The "..." button: the save file dialog.
  void browse();
  // Save: true when the dialog closes with the record filled.
  bool on_ok();
  // The "Audio" button: the audio encoder setup on the record's audio
  // (run_audio_setup shows it; true on OK), then the estimate again.
  void audio();
  std::function<bool(CAudioEncoderSetupDlg&)> run_audio_setup;
  // The "Video" button: the video encoder setup on the record's video and
  // kind (run_video_setup shows it; true on OK); a compliance target asked
  // for sets the kind when the streams meet its rules.
  void video();
  std::function<bool(CVideoEncoderSetupDlg&)> run_video_setup;
  // The "Batch" button: the record with the edits' range and the named
  // output goes to the batch list as the project "<output>.rec"
  // (add_batch enters it); true when entered.
  bool batch();
  std::function<bool(const EditorRecordData& record, const std::string& project)> add_batch;
  // The "Select PID" button: run_select_pid edits the three transport
  // PIDs (program, video, audio) with the Select PID dialog's rules.
  void select_pid();
  std::function<bool(int* program, int* video, int* audio)> run_select_pid;

  // ---- what the widget shows
  std::string file_name;
  std::string start_text, length_text;
  std::string toggle_text;
  bool toggle_enabled = false;
  std::array<bool, kSaveButtonCount> enabled{};
  std::array<double, kSaveButtonCount> estimates{};
  SaveButton checked = SaveButton::edl;
  std::string estimate_text;
  std::vector<std::string> disks;
  int disk_selected = -1;
  bool save_enabled = false, batch_enabled = false, video_enabled = false, audio_enabled = false;
  bool select_pid_visible = false;

  int start() const { return start_; }
  int length() const { return length_; }
  EditorRecordData* record() const { return record_; }

 private:
  int parse_frame(const std::string& text) const;
  std::string frame_text(int frame) const;
  void clamp_start();
  void clamp_length();
  void show_range();
  void allow_kinds();
  void apply_kind_rules();
  void update_estimate();
  void update_buttons();
  // Refreshes the disk list for the path; the free bytes of its disk.
  double refresh_disks(const std::string& path);
  void disk_warning_if_short();
  std::string disk_warning(const std::string& path) const;
  double estimate_bytes() const;

  EditorRecordData* record_;
  IEditor* editor_;
  int total_ = 1;
  double rate_ = 25.0;
  int start_ = 0, length_ = 1;
  int seg_start_ = 0, seg_length_ = 1;
  bool whole_ = true;
};
