// The GOP Fixer window over its rules (GopFixerTool).
#pragma once

#include <QDialog>
#include <functional>

#include "app/shell/tools.h"
#include "app/tools/gop_fixer.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

class GopFixerDialog : public QDialog, public ToolWindow {
 public:
  explicit GopFixerDialog(std::function<void()> closed, QWidget* parent = nullptr);
  ~GopFixerDialog() override;

  bool is_busy() const override { return model_.busy(); }
  void close() override { QDialog::close(); }
  void stop_job() override { model_.job().stop_and_join(); }

  GopFixerTool& model() { return model_; }
  bool open_input(const std::string& path);
  void tick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override { close(); }

 private:
  void refresh();

  GopFixerTool model_;
  std::function<void()> closed_;
  QLineEdit *input_ = nullptr, *output_ = nullptr;
  QLabel *status_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QRadioButton* modes_[4] = {};
  QPushButton *input_browse_ = nullptr, *output_browse_ = nullptr, *go_ = nullptr, *pause_ = nullptr,
              *abort_ = nullptr, *close_ = nullptr;
  QTimer* timer_ = nullptr;
};
