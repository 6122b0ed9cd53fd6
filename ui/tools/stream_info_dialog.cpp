#include "ui/tools/stream_info_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/shell/file_utils.h"
#include "ui/tools/tool_widgets.h"

namespace {

QString text(const std::string& s) { return QString::fromUtf8(s.c_str()); }

}  // namespace

StreamInfoDialog::StreamInfoDialog(CStreamInfoDlg* model, QWidget* parent) : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("stream_info"));
  setWindowTitle(QString::fromLatin1(kStreamInfoCaption));
  model_->init();
  auto* rows = new QVBoxLayout(this);

  clips_ = new QComboBox(this);
  clips_->setObjectName(QStringLiteral("clips"));
  for (const std::string& n : model_->clip_names()) clips_->addItem(text(n));
  rows->addWidget(clips_);

  clip_box_ = new QGroupBox(this);
  clip_box_->setObjectName(QStringLiteral("clip_box"));
  auto* cl = new QVBoxLayout(clip_box_);
  clip_line_ = new QLabel(clip_box_);
  clip_line_->setObjectName(QStringLiteral("clip_line"));
  cl->addWidget(clip_line_);
  auto* streams = new QHBoxLayout;
  auto stream_box = [&](QGroupBox** box, QComboBox** combo, QLabel** format, QLabel** desc, const char* name) {
    *box = new QGroupBox(clip_box_);
    (*box)->setObjectName(QString::fromLatin1(name) + QStringLiteral("_box"));
    auto* l = new QVBoxLayout(*box);
    *combo = new QComboBox(*box);
    (*combo)->setObjectName(QString::fromLatin1(name));
    *format = new QLabel(*box);
    (*format)->setObjectName(QString::fromLatin1(name) + QStringLiteral("_format"));
    *desc = new QLabel(*box);
    (*desc)->setObjectName(QString::fromLatin1(name) + QStringLiteral("_text"));
    l->addWidget(*combo);
    l->addWidget(*format);
    l->addWidget(*desc);
    streams->addWidget(*box);
  };
  stream_box(&video_box_, &video_, &video_format_, &video_text_, "video");
  stream_box(&audio_box_, &audio_, &audio_format_, &audio_text_, "audio");
  cl->addLayout(streams);
  rows->addWidget(clip_box_);

  segment_ = new QGroupBox(this);
  segment_->setObjectName(QStringLiteral("segment"));
  auto* sl = new QGridLayout(segment_);
  const char* labels[4] = {"Start", "End", "Insert", "Offset"};
  for (int i = 0; i < 4; ++i) {
    values_[i] = new QLineEdit(segment_);
    values_[i]->setObjectName(QString::fromLatin1(labels[i]).toLower());
    sl->addWidget(new QLabel(QString::fromLatin1(labels[i]), segment_), 0, i);
    sl->addWidget(values_[i], 1, i);
    connect(values_[i], &QLineEdit::textChanged, this, [this, i](const QString& t) {
      if (!writing_) model_->set_value_text(i, t.toStdString());
    });
  }
  auto* fmt = new QGroupBox(QStringLiteral(" Format "), segment_);
  auto* fl = new QHBoxLayout(fmt);
  timecode_ = new QRadioButton(QStringLiteral("timecode"), fmt);
  timecode_->setObjectName(QStringLiteral("timecode"));
  frame_ = new QRadioButton(QStringLiteral("frame"), fmt);
  frame_->setObjectName(QStringLiteral("frame"));
  fl->addWidget(timecode_);
  fl->addWidget(frame_);
  sl->addWidget(fmt, 0, 4, 2, 1);
  rows->addWidget(segment_);

  auto* buttons = new QHBoxLayout;
  auto* help = tool_button("Help", "help", this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  auto* cancel = tool_button("Cancel", "cancel", this);
  buttons->addWidget(help);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  rows->addLayout(buttons);

  connect(clips_, &QComboBox::activated, this, [this](int i) {
    model_->choose_clip(i);
    show_clip();
  });
  connect(video_, &QComboBox::activated, this, [this](int i) {
    model_->choose_video(i);
    clip_line_->setText(text(model_->clip_line));
    show_video();
  });
  connect(audio_, &QComboBox::activated, this, [this](int i) {
    model_->choose_audio(i);
    show_audio();
  });
  connect(timecode_, &QRadioButton::clicked, this, [this] {
    model_->set_time_format(1);
    fill_values();
  });
  connect(frame_, &QRadioButton::clicked, this, [this] {
    model_->set_time_format(0);
    fill_values();
  });
  connect(help, &QPushButton::clicked, this, [] { show_help(kStreamInfoHelp); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  clips_->setCurrentIndex(model_->current);
  clips_->setEnabled(model_->clip_selector_enabled());
  show_clip();
  (model_->time_format ? timecode_ : frame_)->setChecked(true);
  fill_values();
  segment_->setTitle(text(model_->segment_caption()));
  if (model_->list_mode) {
    for (QWidget* w : std::initializer_list<QWidget*>{timecode_, frame_, values_[0], values_[1], values_[2], values_[3]})
      w->setEnabled(false);
  }
}

void StreamInfoDialog::show_clip() {
  clip_box_->setTitle(text(model_->clip_group));
  clip_line_->setText(text(model_->clip_line));
  video_->clear();
  for (const std::string& l : model_->video_lines) video_->addItem(text(l));
  video_->setCurrentIndex(model_->video_line);
  video_->setEnabled(model_->video_enabled());
  show_video();
  audio_->clear();
  for (const std::string& l : model_->audio_lines) audio_->addItem(text(l));
  audio_->setCurrentIndex(model_->audio_line);
  audio_->setEnabled(model_->audio_enabled());
  show_audio();
}

void StreamInfoDialog::show_video() {
  video_box_->setTitle(text(model_->video_group));
  video_format_->setText(text(model_->video_format));
  video_text_->setText(text(model_->video_text));
}

void StreamInfoDialog::show_audio() {
  audio_box_->setTitle(text(model_->audio_group));
  audio_format_->setText(text(model_->audio_format));
  audio_text_->setText(text(model_->audio_text));
}

void StreamInfoDialog::fill_values() {
  writing_ = true;
  for (int i = 0; i < 4; ++i) values_[i]->setText(text(model_->value_text(i)));
  writing_ = false;
}

bool run_stream_info_dialog(CStreamInfoDlg* model, QWidget* parent) {
  StreamInfoDialog d(model, parent);
  return d.exec() == QDialog::Accepted;
}
