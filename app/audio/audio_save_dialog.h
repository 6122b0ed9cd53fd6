// The audio editor's Save dialog without its window: the settings record
// the window owns, the encoder choices with their fill rules, the save
// range, the estimate, the disk list and the checks of a save request.
// The widget (ui/audio) shows these and forwards its controls.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/track/darecorder.h"
#include "engine/clips/project.h"
#include "platform/disk.h"

struct AudioSaveSettings {
  std::unique_ptr<EClip> clips;  // the whole edited track
  std::string suggested_folder;
  std::string file_name;
  double total = 0.0, start = 0.0, length = 0.0;
  int format = 1;  // 1 MPEG audio bit stream, 0 editor project file
  int input_clip = -1;
  int sample_rate = 0, channels = 0, layer = 0, bit_rate = 0;
};

// What the save job is given.
AudioRecordSettings to_record_settings(const AudioSaveSettings& s);

// A clip's audio stream as the dialog compares it.
struct ClipAudioFormat {
  int sample_rate = 0, channels = 0, layer = 0, bit_rate = 0;
};
// False when the clip has no audio information.
using ClipAudioReader = std::function<bool(const Clip& clip, ClipAudioFormat* out)>;
bool read_clip_audio_format(const Clip& clip, ClipAudioFormat* out);

inline constexpr const char* kAudioSaveCaption = " MPEG Audio Editor: Save ";
inline constexpr const char* kAudioSaveHelp = "help.chm::/htm/chap06-2.htm";

class CAudioSaveDlg {
 public:
  static constexpr int kSampleRates[3] = {44100, 48000, 32000};
  static const int* bit_rate_row(int layer);  // 14 entries, bit/s

  // suggested_folder: the record's; the owner sets folder when it is empty.
  explicit CAudioSaveDlg(AudioSaveSettings* s, ClipAudioReader reader = read_clip_audio_format);

  void OnInitDialog();

  // ---- what the widget shows
  const std::vector<std::string>& clip_names() const { return names_; }
  int selected_clip() const { return selected_; }
  std::vector<std::string> sample_rate_texts() const;
  int sample_rate_index() const;
  std::vector<std::string> bit_rate_texts() const;
  int bit_rate_index() const;
  bool encoder_enabled() const { return s_->format == 1; }
  bool reset_enabled() const { return reset_enabled_; }
  bool save_enabled() const { return save_enabled_; }
  std::string estimate_text() const;
  std::string start_text() const { return start_text_; }
  std::string length_text() const { return length_text_; }
  const std::vector<std::string>& disk_lines() const { return disk_lines_; }
  int selected_drive() const { return drive_; }
  const AudioSaveSettings& settings() const { return *s_; }

  // ---- controls
  void SelectClip(int index);
  void LoadClipParameters();
  void UpdateResetButton();
  void SelectSampleRate(int index);
  void SetChannels(int channels);
  void SetLayer(int layer);
  void SelectBitRate(int index);
  void SetFormat(int format);
  // The edits' texts as typed.
  void StartChanged(const std::string& text);
  void LengthChanged(const std::string& text);
  void All();
  void UpdateDiskList();
  void Browse();
  // "Save": true when the request went to the owner.
  bool OnSave(const std::string& file_name_text);
  // "OK": true when the dialog is to close.
  bool OnOK(const std::string& file_name_text);
  // Closing by its own buttons: the close callback gets the folder unless
  // the owner closes it.
  void Close();
  void EnableSaveButtons(int flag) { save_enabled_ = flag != 0; }

  std::string folder;
  bool suppress_close_callback = false;
  std::function<void(const std::string& folder)> on_save;
  std::function<void(const std::string& folder)> on_close;
  // The model changed texts the widget shows (the file name among them).
  std::function<void()> on_changed;

 private:
  const Clip* selected_clip_record() const;
  void fill_sample_rate();
  void fill_channels();
  void fill_layer_and_bit_rate();
  void changed();

  AudioSaveSettings* s_;
  ClipAudioReader reader_;
  std::vector<std::string> names_;
  std::vector<int> name_clip_;  // first clip of each name
  int selected_ = 0;
  bool reset_enabled_ = false;
  bool save_enabled_ = true;
  bool closed_ = false;
  std::string start_text_, length_text_;
  std::vector<Volume> drives_;
  std::vector<std::string> disk_lines_;
  int drive_ = 0;
};
