// The Systems Stream Convertor window over its rules (StreamConvertor)
// and the Select PID dialog.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "app/shell/tools.h"
#include "app/tools/stream_convertor.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;

// Runs the Select PID dialog on *pids; true on OK (pids then updated).
bool run_select_pid_dialog(QWidget* parent, TransportPids* pids);

class ConvertorDialog : public QDialog, public ToolWindow {
 public:
  explicit ConvertorDialog(std::function<void()> closed, QWidget* parent = nullptr);
  ~ConvertorDialog() override;

  bool is_busy() const override { return model_.busy(); }
  void close() override { QDialog::close(); }
  void stop_job() override { model_.job().stop_and_join(); }

  // What the input's and output's "..." do once a name is chosen.
  bool load_input(const std::string& path);
  bool set_output(const std::string& path);
  StreamConvertor& model() { return model_; }
  // The job poll (the timer's tick).
  void tick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override { close(); }

 private:
  void build();
  void refresh();
  void fill_lists();
  void browse_input();
  void browse_output();
  void select_pid();

  StreamConvertor model_;
  std::function<void()> closed_;
  bool refreshing_ = false;
  QLineEdit* input_edit_ = nullptr;
  QPushButton* input_browse_ = nullptr;
  QGroupBox* input_group_ = nullptr;
  QTreeWidget* in_list_ = nullptr;
  QTreeWidget* out_list_ = nullptr;
  QPushButton *add_ = nullptr, *all_ = nullptr, *remove_ = nullptr, *clear_ = nullptr;
  QLineEdit* output_edit_ = nullptr;
  QPushButton* output_browse_ = nullptr;
  QRadioButton* radios_[5] = {};
  QPushButton* select_pid_ = nullptr;
  QLineEdit* estimate_ = nullptr;
  QComboBox* disks_ = nullptr;
  QPushButton* convert_ = nullptr;
  QPushButton* close_ = nullptr;
  QTimer* timer_ = nullptr;
};
