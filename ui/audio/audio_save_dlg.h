// The audio editor's Save dialog: a parentless modeless window over
// CAudioSaveDlg. Enter does nothing; Escape and Close close it.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "app/audio/audio_save_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

class AudioSaveDialogWidget : public QWidget {
  Q_OBJECT

 public:
  // The model's callbacks and folder are set by the owner before show().
  explicit AudioSaveDialogWidget(AudioSaveSettings* s);
  CAudioSaveDlg& model() { return *model_; }
  // The owner closes it: no close callback.
  void close_by_owner();
  void EnableSaveButtons(int flag);
  QLineEdit* file_edit() const { return file_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void show_model();
  std::unique_ptr<CAudioSaveDlg> model_;
  QLineEdit *file_ = nullptr, *start_ = nullptr, *length_ = nullptr;
  QLabel* estimate_ = nullptr;
  QListWidget* disks_ = nullptr;
  QRadioButton *mpeg_ = nullptr, *project_ = nullptr, *mono_ = nullptr, *stereo_ = nullptr, *layer1_ = nullptr,
               *layer2_ = nullptr, *layer3_ = nullptr;
  QComboBox *clips_ = nullptr, *rates_ = nullptr, *bit_rates_ = nullptr;
  QPushButton *reset_ = nullptr, *save_ = nullptr, *ok_ = nullptr;
  std::string shown_start_, shown_length_;
  bool filling_ = false;
  bool focused_ = false;
};
