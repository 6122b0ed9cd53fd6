// The MPEG Audio Encoder Setup dialog's widgets over its model.
#pragma once

#include <QDialog>

#include "app/editor/audio_encoder_setup.h"

class QComboBox;
class QPushButton;
class QRadioButton;
class QCheckBox;

class AudioEncoderSetupWidget : public QDialog {
 public:
  AudioEncoderSetupWidget(CAudioEncoderSetupDlg* model, QWidget* parent = nullptr);
  void refresh();

 private:
  CAudioEncoderSetupDlg* model_;
  QComboBox* clips_;
  QPushButton* reset_;
  QComboBox* rates_;
  QComboBox* bit_rates_;
  QRadioButton* mono_;
  QRadioButton* stereo_;
  QRadioButton* layer1_;
  QRadioButton* layer2_;
  QCheckBox* ac3_;
  bool filling_ = false;
};
