#include "ui/editor/save_dialog_widget.h"

#include "ui/editor/audio_encoder_setup_widget.h"
#include "ui/editor/video_encoder_setup_widget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/shell/file_utils.h"
#include "app/tools/batch_save.h"
#include "app/tools/select_pid.h"
#include "ui/tools/batch_save_dialog.h"
#include "ui/tools/convertor_dialog.h"


namespace {
QPushButton* button(const char* text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(QString::fromLatin1(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}
}  // namespace

SaveDialogWidget::SaveDialogWidget(CSaveDlg* model, QWidget* parent) : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("d121"));
  setWindowTitle(QStringLiteral("MPEG-Tamsel: Save"));

  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("c1287"));
  auto* browse = button("...", "c_browse", this);
  auto* name_row = new QHBoxLayout;
  name_row->addWidget(new QLabel(QStringLiteral("File Name"), this));
  name_row->addWidget(name_, 1);
  name_row->addWidget(browse);

  auto* range = new QGroupBox(QStringLiteral("Save Range"), this);
  start_ = new QLineEdit(range);
  start_->setObjectName(QStringLiteral("c1299"));
  length_ = new QLineEdit(range);
  length_->setObjectName(QStringLiteral("c1280"));
  toggle_ = button("Seg", "c1278", range);
  auto* range_row = new QHBoxLayout(range);
  range_row->addWidget(new QLabel(QStringLiteral("Start"), range));
  range_row->addWidget(start_);
  range_row->addWidget(new QLabel(QStringLiteral("Length"), range));
  range_row->addWidget(length_);
  range_row->addWidget(toggle_);

  auto* format = new QGroupBox(QStringLiteral("MPEG Format"), this);
  auto* format_col = new QVBoxLayout(format);
  for (int i = 0; i < kSaveButtonCount; ++i) {
    kinds_[i] = new QRadioButton(QString::fromLatin1(save_button_text(SaveButton(i))), format);
    kinds_[i]->setObjectName(QStringLiteral("kind%1").arg(i));
    format_col->addWidget(kinds_[i]);
    connect(kinds_[i], &QRadioButton::clicked, this, [this, i] {
      model_->choose(SaveButton(i));
      refresh();
    });
  }

  estimate_ = new QLabel(this);
  estimate_->setObjectName(QStringLiteral("c1292"));
  disks_ = new QComboBox(this);
  disks_->setObjectName(QStringLiteral("c1283"));
  auto* info = new QGridLayout;
  info->addWidget(new QLabel(QStringLiteral("Estimated Output (MB)"), this), 0, 0);
  info->addWidget(estimate_, 0, 1);
  info->addWidget(new QLabel(QStringLiteral("Disk"), this), 1, 0);
  info->addWidget(disks_, 1, 1);

  save_ = button("Save", "c1", this);
  save_->setDefault(true);
  save_->setAutoDefault(true);
  auto* cancel = button("Cancel", "c2", this);
  video_ = button("Video", "c_video", this);
  audio_ = button("Audio", "c_audio", this);
  batch_ = button("Batch", "c_batch", this);
  select_pid_ = button("Select PID", "c_select_pid", this);
  auto* help = button("Help", "c9", this);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {save_, cancel, video_, audio_, batch_, select_pid_, help}) buttons->addWidget(b);
  buttons->addStretch(1);

  auto* left = new QVBoxLayout;
  left->addLayout(name_row);
  left->addWidget(range);
  left->addWidget(format);
  left->addLayout(info);
  auto* all = new QHBoxLayout(this);
  all->addLayout(left, 1);
  all->addLayout(buttons);

  connect(name_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_->file_name = t.toStdString();
    const bool named = !t.trimmed().isEmpty();
    save_->setEnabled(named);
    batch_->setEnabled(named && !model_->from_batch);
  });
  connect(name_, &QLineEdit::editingFinished, this, [this] {
    if (name_->isModified()) {
      name_->setModified(false);
      model_->set_file_name(name_->text().toStdString());
      refresh();
    }
  });
  connect(start_, &QLineEdit::editingFinished, this, [this] {
    model_->set_start_text(start_->text().toStdString());
    refresh();
  });
  connect(length_, &QLineEdit::editingFinished, this, [this] {
    model_->set_length_text(length_->text().toStdString());
    refresh();
  });
  connect(toggle_, &QPushButton::clicked, this, [this] {
    model_->toggle_range();
    refresh();
  });
  connect(browse, &QPushButton::clicked, this, [this] {
    model_->browse();
    refresh();
  });
  connect(video_, &QPushButton::clicked, this, [this] {
    model_->video();
    refresh();
  });
  connect(audio_, &QPushButton::clicked, this, [this] {
    model_->audio();
    refresh();
  });
  connect(batch_, &QPushButton::clicked, this, [this] {
    model_->file_name = name_->text().toStdString();
    model_->batch();
    refresh();
  });
  connect(select_pid_, &QPushButton::clicked, this, [this] { model_->select_pid(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(save_, &QPushButton::clicked, this, &SaveDialogWidget::accept);
  connect(help, &QPushButton::clicked, this, [] { show_help("help.chm::/htm/chap00-1.htm"); });

  if (!model_->run_audio_setup)
    model_->run_audio_setup = [this](CAudioEncoderSetupDlg& setup) {
      AudioEncoderSetupWidget w(&setup, this);
      return w.exec() == QDialog::Accepted;
    };
  if (!model_->run_video_setup)
    model_->run_video_setup = [this](CVideoEncoderSetupDlg& setup) {
      VideoEncoderSetupWidget w(&setup, this);
      return w.exec() == QDialog::Accepted;
    };
  if (!model_->add_batch)
    model_->add_batch = [](const EditorRecordData& record, const std::string& project) {
      return add_batch_job(record, project, batch_settings_path());
    };
  if (!model_->run_select_pid)
    model_->run_select_pid = [this](int* program, int* video, int* audio) {
      TransportPids pids{*program, *video, *audio};
      if (!run_select_pid_dialog(this, &pids)) return false;
      *program = pids.pmt;
      *video = pids.video;
      *audio = pids.audio;
      return true;
    };
  refresh();
  name_->setFocus(Qt::OtherFocusReason);
}

// The edits lose focus while the dialog is taken down: their signals must
// not reach it then.
SaveDialogWidget::~SaveDialogWidget() {
  for (QLineEdit* e : {name_, start_, length_}) e->disconnect(this);
  model_->run_audio_setup = nullptr;
  model_->run_video_setup = nullptr;
  model_->add_batch = nullptr;
  model_->run_select_pid = nullptr;
}

void SaveDialogWidget::refresh() {
  if (name_->text().toStdString() != model_->file_name) name_->setText(QString::fromStdString(model_->file_name));
  start_->setText(QString::fromStdString(model_->start_text));
  length_->setText(QString::fromStdString(model_->length_text));
  toggle_->setText(QString::fromStdString(model_->toggle_text));
  toggle_->setEnabled(model_->toggle_enabled);
  for (int i = 0; i < kSaveButtonCount; ++i) {
    QSignalBlocker block(kinds_[i]);
    kinds_[i]->setEnabled(model_->enabled[i]);
    kinds_[i]->setChecked(int(model_->checked) == i);
  }
  estimate_->setText(QString::fromStdString(model_->estimate_text));
  {
    QSignalBlocker block(disks_);
    disks_->clear();
    for (const std::string& d : model_->disks) disks_->addItem(QString::fromStdString(d));
    disks_->setCurrentIndex(model_->disk_selected);
  }
  save_->setEnabled(model_->save_enabled);
  batch_->setEnabled(model_->batch_enabled);
  video_->setEnabled(model_->video_enabled);
  audio_->setEnabled(model_->audio_enabled);
  select_pid_->setVisible(model_->select_pid_visible);
}

void SaveDialogWidget::accept() {
  // Edits not yet left still count.
  model_->file_name = name_->text().toStdString();
  model_->set_start_text(start_->text().toStdString());
  model_->set_length_text(length_->text().toStdString());
  if (model_->on_ok()) QDialog::accept();
  else refresh();
}
