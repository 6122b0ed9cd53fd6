// The MBS Scan window over its rules (MbsScan).
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "app/shell/tools.h"
#include "app/tools/mbs_scan.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;

class MbsScanDialog : public QDialog, public ToolWindow {
 public:
  // open_file receives each file OK hands over.
  MbsScanDialog(const std::string& path, std::function<void(const std::string&)> open_file,
                std::function<void()> closed, QWidget* parent = nullptr);
  ~MbsScanDialog() override;

  bool is_busy() const override { return model_.busy(); }
  void close() override { QDialog::close(); }
  void stop_job() override { model_.job().stop_and_join(); }

  MbsScan& model() { return model_; }
  bool set_input(const std::string& path);
  void start_scan();
  void tick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override { close(); }

 private:
  void refresh();
  void accept_files();
  void show_info();

  MbsScan model_;
  std::function<void(const std::string&)> open_file_;
  std::function<void()> closed_;
  QLineEdit* input_ = nullptr;
  QPushButton *browse_ = nullptr, *scan_ = nullptr, *stop_ = nullptr, *info_ = nullptr, *ok_ = nullptr,
              *cancel_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QCheckBox* auto_start_ = nullptr;
  QRadioButton* kinds_[4] = {};
  QGroupBox* list_box_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QTimer* timer_ = nullptr;
};
