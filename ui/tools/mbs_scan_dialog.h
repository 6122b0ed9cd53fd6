// The MBS Scan window over its rules (MbsScan).
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "ui/tools/tool_dialog.h"
#include "app/tools/mbs_scan.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class MbsScanDialog : public ToolDialog<MbsScan> {
 public:
  // open_file receives each file OK hands over.
  MbsScanDialog(const std::string& path, std::function<void(const std::string&)> open_file,
                std::function<void()> closed, QWidget* parent = nullptr);
  ~MbsScanDialog() override;


  bool set_input(const std::string& path);
  void start_scan();

 private:
  void refresh() override;
  void polled() override;
  void accept_files();
  void show_info();

  std::function<void(const std::string&)> open_file_;
  QLineEdit* input_ = nullptr;
  QPushButton *browse_ = nullptr, *scan_ = nullptr, *stop_ = nullptr, *info_ = nullptr, *ok_ = nullptr,
              *cancel_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QCheckBox* auto_start_ = nullptr;
  QRadioButton* kinds_[4] = {};
  QGroupBox* list_box_ = nullptr;
  QTreeWidget* list_ = nullptr;
};
