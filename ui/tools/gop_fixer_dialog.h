// The GOP Fixer window over its rules (GopFixerTool).
#pragma once

#include <QDialog>
#include <functional>

#include "ui/tools/tool_dialog.h"
#include "app/tools/gop_fixer.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

class GopFixerDialog : public ToolDialog<GopFixerTool> {
 public:
  explicit GopFixerDialog(std::function<void()> closed, QWidget* parent = nullptr);
  ~GopFixerDialog() override;


  bool open_input(const std::string& path);

 private:
  void refresh() override;
  void polled() override;

  QLineEdit *input_ = nullptr, *output_ = nullptr;
  QLabel *status_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QRadioButton* modes_[4] = {};
  QPushButton *input_browse_ = nullptr, *output_browse_ = nullptr, *go_ = nullptr, *pause_ = nullptr,
              *abort_ = nullptr, *close_ = nullptr;
};
