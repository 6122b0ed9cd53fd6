// The Equalizer window: band pages, channel routing, presets and the
// band graph over EqualizerDialogModel.
#pragma once

#include <QWidget>
#include <functional>

#include "app/audio/equalizer_dialog.h"

class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class EqualizerGraphView;

class CEqualizerDlg : public QWidget {
  Q_OBJECT

 public:
  CEqualizerDlg(const GainSet& gains, int preamp);
  ~CEqualizerDlg() override;
  EqualizerDialogModel& model() { return model_; }
  // The graph's geometry as drawn now.
  EqualizerGraph graph() const;
  QWidget* graph_widget() const;
  void show_model();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* button(int id, const QString& text);
  void on_load();
  void on_save();
  bool load_file(const std::string& path, GainSet* g, bool report);

  EqualizerDialogModel model_;
  QSlider* bands_[4] = {};
  QLabel* numbers_[4] = {};
  QSlider* preamp_ = nullptr;
  QListWidget* presets_ = nullptr;
  QListWidget* pages_ = nullptr;
  QPushButton* left_ = nullptr;
  QPushButton* right_ = nullptr;
  QPushButton* to_right_ = nullptr;
  QPushButton* to_left_ = nullptr;
  QPushButton* save_ = nullptr;
  QLabel* caption_ = nullptr;
  EqualizerGraphView* view_ = nullptr;
  std::string folder_;
  bool filling_ = false;
  bool done_ = false;
};
