// The Systems Stream Convertor window over its rules (StreamConvertor)
// and the Select PID dialog.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "ui/tools/tool_dialog.h"
#include "app/tools/stream_convertor.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

// Runs the Select PID dialog on *pids; true on OK (pids then updated).
bool run_select_pid_dialog(QWidget* parent, TransportPids* pids);

class ConvertorDialog : public ToolDialog<StreamConvertor> {
 public:
  explicit ConvertorDialog(std::function<void()> closed, QWidget* parent = nullptr);
  ~ConvertorDialog() override;

  // What the input's and output's "..." do once a name is chosen.
  bool load_input(const std::string& path);
  bool set_output(const std::string& path);

 private:
  void build();
  void refresh() override;
  void fill_lists();
  void browse_input();
  void browse_output();
  void select_pid();

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
};
