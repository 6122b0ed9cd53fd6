// The DeMultiplexer window over its rules (Demultiplexer).
#pragma once

#include <QDialog>
#include <functional>

#include "ui/tools/tool_dialog.h"
#include "app/tools/demultiplexer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class DemuxDialog : public ToolDialog<Demultiplexer> {
 public:
  explicit DemuxDialog(std::function<void()> closed, QWidget* parent = nullptr);
  ~DemuxDialog() override;


  bool load_input(const std::string& path);
  void save();

 private:
  void refresh() override;

  QLineEdit *input_ = nullptr, *size_ = nullptr, *format_ = nullptr, *es_ = nullptr;
  QLabel *video_label_ = nullptr, *audio_label_ = nullptr;
  QComboBox *video_list_ = nullptr, *audio_list_ = nullptr, *disks_ = nullptr;
  QLineEdit *video_out_ = nullptr, *audio_out_ = nullptr, *estimate_ = nullptr;
  QPushButton *input_browse_ = nullptr, *video_browse_ = nullptr, *audio_browse_ = nullptr;
  QPushButton *save_ = nullptr, *close_ = nullptr;
};
