// The DeMultiplexer window over its rules (Demultiplexer).
#pragma once

#include <QDialog>
#include <functional>

#include "app/shell/tools.h"
#include "app/tools/demultiplexer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

class DemuxDialog : public QDialog, public ToolWindow {
 public:
  explicit DemuxDialog(std::function<void()> closed, QWidget* parent = nullptr);
  ~DemuxDialog() override;

  bool is_busy() const override { return model_.busy(); }
  void close() override { QDialog::close(); }
  void stop_job() override { model_.job().stop_and_join(); }

  bool load_input(const std::string& path);
  Demultiplexer& model() { return model_; }
  void tick();
  void save();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override { close(); }

 private:
  void refresh();

  Demultiplexer model_;
  std::function<void()> closed_;
  bool closing_ = false;
  QLineEdit *input_ = nullptr, *size_ = nullptr, *format_ = nullptr, *es_ = nullptr;
  QLabel *video_label_ = nullptr, *audio_label_ = nullptr;
  QComboBox *video_list_ = nullptr, *audio_list_ = nullptr, *disks_ = nullptr;
  QLineEdit *video_out_ = nullptr, *audio_out_ = nullptr, *estimate_ = nullptr;
  QPushButton *input_browse_ = nullptr, *video_browse_ = nullptr, *audio_browse_ = nullptr;
  QPushButton *save_ = nullptr, *close_ = nullptr;
  QTimer* timer_ = nullptr;
};
