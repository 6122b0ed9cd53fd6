// The modal Stream Info window over its rules (CStreamInfoDlg).
#pragma once

#include <QDialog>

#include "app/tools/stream_info.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

class StreamInfoDialog : public QDialog {
 public:
  // The model is filled (init) when the window is made.
  explicit StreamInfoDialog(CStreamInfoDlg* model, QWidget* parent = nullptr);

 private:
  void show_clip();
  void show_video();
  void show_audio();
  void fill_values();

  CStreamInfoDlg* model_;
  bool writing_ = false;  // the window filling its own edits
  QComboBox *clips_ = nullptr, *video_ = nullptr, *audio_ = nullptr;
  QGroupBox *clip_box_ = nullptr, *video_box_ = nullptr, *audio_box_ = nullptr, *segment_ = nullptr;
  QLabel *clip_line_ = nullptr, *video_format_ = nullptr, *video_text_ = nullptr;
  QLabel *audio_format_ = nullptr, *audio_text_ = nullptr;
  QLineEdit* values_[4] = {};
  QRadioButton *timecode_ = nullptr, *frame_ = nullptr;
};

// Runs the window modally; true when it ended with OK.
bool run_stream_info_dialog(CStreamInfoDlg* model, QWidget* parent);
