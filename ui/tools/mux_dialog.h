// The Multiplexer window over its rules (Multiplexer).
#pragma once

#include <QDialog>
#include <functional>

#include "ui/tools/tool_dialog.h"
#include "app/tools/multiplexer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class MuxDialog : public ToolDialog<Multiplexer> {
 public:
  explicit MuxDialog(std::function<void()> closed, QWidget* parent = nullptr);
  ~MuxDialog() override;



 private:
  void refresh() override;
  void run_av_sync();

  QLabel *video_label_ = nullptr, *audio_label_ = nullptr;
  QLineEdit *video_ = nullptr, *output_ = nullptr, *estimate_ = nullptr;
  QComboBox* audio_ = nullptr;
  QPushButton *video_browse_ = nullptr, *audio_browse_ = nullptr, *output_browse_ = nullptr;
  QRadioButton* radios_[5] = {};  // 0-3 formats 1-3, 4 SVCD; transport last
  QRadioButton* transport_ = nullptr;
  QCheckBox *vbr_ = nullptr, *minimize_ = nullptr;
  QPushButton *select_pid_ = nullptr, *av_sync_ = nullptr, *reset_ = nullptr, *save_ = nullptr, *close_ = nullptr;
  QComboBox* disks_ = nullptr;
};
