// The MPEG Video Encoder Setup dialog's widgets over its model.
#pragma once

#include <QDialog>

#include "app/editor/video_encoder_setup.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

class VideoEncoderSetupWidget : public QDialog {
 public:
  VideoEncoderSetupWidget(CVideoEncoderSetupDlg* model, QWidget* parent = nullptr);
  void refresh();

 private:
  CVideoEncoderSetupDlg* model_;
  QPushButton* load_;
  QComboBox* clips_;
  QPushButton* reset_;
  QComboBox* gop_n_;
  QComboBox* gop_m_;
  QRadioButton* mpeg1_;
  QRadioButton* mpeg2_;
  QLineEdit* width_;
  QLineEdit* height_;
  QComboBox* rates_;
  QRadioButton* cbr_;
  QRadioButton* vbr_;
  QLineEdit* bit_rate_;
  QSlider* quality_;
  QLineEdit* max_rate_;
  QComboBox* algorithm_;
  QLineEdit* h_distance_;
  QLineEdit* v_distance_;
  QCheckBox* filters_[4];
  QCheckBox* vcd_;
  QCheckBox* svcd_;
  QCheckBox* dvd_;
  QPushButton* field_order_;
  QCheckBox* fixed_;
  bool filling_ = false;
};
