// The Audio Configuration dialog and the audio window's About box.
#pragma once

#include <QDialog>

#include "app/audio/audio_config.h"

class QCheckBox;
class QSlider;

class CAudioConfigDlg : public QDialog {
  Q_OBJECT

 public:
  // volume_changed: the main window's slider follows.
  explicit CAudioConfigDlg(std::function<void()> volume_changed, QWidget* parent = nullptr);
  AudioConfigModel& model() { return model_; }

 private:
  void show_flags();
  AudioConfigModel model_;
  QCheckBox* left_ = nullptr;
  QCheckBox* right_ = nullptr;
  QSlider* slider_ = nullptr;
};

class CAudioAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAudioAboutDlg(QWidget* parent = nullptr);
};

// "MPEG Audio Player + Editor" with the program's version and month.
QString audio_window_name();
