// The "  Video Effect Setup" dialog over VideoEffectModel: a tab per kind of
// effect, the clip chooser, the effect list and the range fields. Controls
// are named "c<id>" for tests.
#pragma once

#include <QDialog>
#include <vector>

#include "app/tools/video_effect_model.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabBar;

class VideoEffectDialog : public QDialog {
  Q_OBJECT

 public:
  // Works on a copy of clips from clip index; OK writes the changed clips
  // back.
  VideoEffectDialog(std::vector<Clip>* clips, int index, QWidget* parent = nullptr,
                    ImageProbe probe = probe_image_kind);
  VideoEffectModel& model() { return model_; }
  // The clip chosen last.
  int current_clip() const { return model_.current_clip; }
  void accept() override;

 private:
  void fill_effect_list();
  void refresh();
  void run(void (VideoEffectModel::*action)());

  VideoEffectModel model_;
  QTabBar* tabs_;
  QListWidget* effects_;
  QComboBox* clips_;
  QLineEdit* offset_;
  QLineEdit* length_;
  QGroupBox* range_;
  QLabel* info_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* update_;
  QPushButton* replace_;
  bool filling_ = false;
};
