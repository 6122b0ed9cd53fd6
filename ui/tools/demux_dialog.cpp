#include "ui/tools/demux_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "ui/tools/tool_widgets.h"

namespace {

constexpr int kSystemsFilter = 6;
constexpr int kVideoFilter = 4;
constexpr int kAudioFilter = 5;

QLineEdit* edit(const char* name, QWidget* parent, bool read_only = true) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setReadOnly(read_only);
  return e;
}

QString mb(double bytes) {
  char t[64];
  std::snprintf(t, sizeof t, "%8.3f MB", bytes * 1e-6);
  return QString::fromLatin1(t);
}

QString stream_entry(const DemuxStream& s) {
  char t[64];
  if (s.pid) std::snprintf(t, sizeof t, "%3d (%d)", s.stream_id, s.pid);
  else std::snprintf(t, sizeof t, "%3d", s.stream_id);
  return QString::fromLatin1(t);
}

}  // namespace

DemuxDialog::DemuxDialog(std::function<void()> closed, QWidget* parent)
    : ToolDialog(std::move(closed), ToolJob::kPollMs, parent) {
  setObjectName(QStringLiteral("demultiplexer"));
  setWindowTitle(QString::fromLatin1(kDemuxCaption));
  auto* rows = new QVBoxLayout(this);

  auto* in_box = new QGroupBox(QStringLiteral(" Input File  "), this);
  auto* ig = new QGridLayout(in_box);
  input_ = edit("input_file", in_box);
  input_browse_ = tool_button("...", "input_browse", in_box);
  size_ = edit("size", in_box);
  format_ = edit("format", in_box);
  es_ = edit("es", in_box);
  ig->addWidget(input_, 0, 0, 1, 5);
  ig->addWidget(input_browse_, 0, 5);
  ig->addWidget(new QLabel(QStringLiteral("Size "), in_box), 1, 0);
  ig->addWidget(size_, 1, 1);
  ig->addWidget(new QLabel(QStringLiteral("Format"), in_box), 1, 2);
  ig->addWidget(format_, 1, 3);
  ig->addWidget(new QLabel(QStringLiteral("ES"), in_box), 1, 4);
  ig->addWidget(es_, 1, 5);
  rows->addWidget(in_box);

  auto* out_box = new QGroupBox(QStringLiteral("Output File "), this);
  auto* og = new QGridLayout(out_box);
  video_label_ = new QLabel(out_box);
  audio_label_ = new QLabel(out_box);
  video_list_ = new QComboBox(out_box);
  video_list_->setObjectName(QStringLiteral("video_streams"));
  audio_list_ = new QComboBox(out_box);
  audio_list_->setObjectName(QStringLiteral("audio_streams"));
  video_out_ = edit("video_output", out_box);
  audio_out_ = edit("audio_output", out_box);
  video_browse_ = tool_button("...", "video_browse", out_box);
  audio_browse_ = tool_button("...", "audio_browse", out_box);
  og->addWidget(video_label_, 0, 0);
  og->addWidget(video_list_, 0, 1);
  og->addWidget(video_out_, 0, 2);
  og->addWidget(video_browse_, 0, 3);
  og->addWidget(audio_label_, 1, 0);
  og->addWidget(audio_list_, 1, 1);
  og->addWidget(audio_out_, 1, 2);
  og->addWidget(audio_browse_, 1, 3);
  og->setColumnStretch(2, 1);
  rows->addWidget(out_box);

  auto* info = new QHBoxLayout;
  estimate_ = edit("estimate", this);
  disks_ = new QComboBox(this);
  disks_->setObjectName(QStringLiteral("disk_space"));
  info->addWidget(new QLabel(QStringLiteral("Estimated Size"), this));
  info->addWidget(estimate_);
  info->addWidget(new QLabel(QStringLiteral("Disk Space"), this));
  info->addWidget(disks_);
  rows->addLayout(info);

  auto* buttons = new QHBoxLayout;
  save_ = tool_button("Save", "save", this);
  close_ = tool_button("Close", "close", this);
  auto* more = tool_button("More...", "more", this);
  more->setEnabled(false);
  auto* help = tool_button("Help", "help", this);
  buttons->addStretch();
  for (QPushButton* b : {save_, close_, more, help}) buttons->addWidget(b);
  rows->addLayout(buttons);

  connect(input_browse_, &QPushButton::clicked, this, [this] {
    std::string path;
    if (file_dialog(&path, 0, kSystemsFilter, nullptr, "mpg", editor_settings().demuxer_in_folder, "Input File"))
      load_input(path);
  });
  connect(video_browse_, &QPushButton::clicked, this, [this] {
    std::string path;
    if (file_dialog(&path, 1, kVideoFilter, nullptr, "mpv", editor_settings().demuxer_out_folder, "Video Output"))
      model_.set_video_output(path);
    refresh();
  });
  connect(audio_browse_, &QPushButton::clicked, this, [this] {
    std::string path;
    if (file_dialog(&path, 1, kAudioFilter, nullptr, model_.audio_extension(), editor_settings().demuxer_out_folder,
                    "Audio Output"))
      model_.set_audio_output(path);
    refresh();
  });
  connect(video_list_, &QComboBox::currentIndexChanged, this, [this](int i) {
    model_.choose_video(i);
    refresh();
  });
  connect(audio_list_, &QComboBox::currentIndexChanged, this, [this](int i) {
    model_.choose_audio(i);
    refresh();
  });
  connect(save_, &QPushButton::clicked, this, [this] { save(); });
  connect(close_, &QPushButton::clicked, this, [this] { close(); });
  connect(help, &QPushButton::clicked, this, [] { show_help(kDemuxHelp); });

  refresh();
}

DemuxDialog::~DemuxDialog() = default;

bool DemuxDialog::load_input(const std::string& path) {
  const bool ok = model_.load(path);
  if (ok) editor_settings().demuxer_in_folder = split_path(path);
  refresh();
  return ok;
}

void DemuxDialog::save() {
  if (model_.save()) timer_->start();
  refresh();
}


void DemuxDialog::refresh() {
  const bool busy = model_.busy();
  const bool has_input = !model_.input_name().empty();
  input_->setText(QString::fromStdString(model_.input_name()));
  size_->setText(has_input ? mb(model_.input_size()) : QString());
  format_->setText(has_input ? QString::fromLatin1(demux_format_text(model_.stream_type())) : QString());
  es_->setText(has_input ? QStringLiteral(" %1 ").arg(model_.stream_count()) : QString());
  video_label_->setText(QStringLiteral("Video (%1)").arg(model_.video().size()));
  audio_label_->setText(QStringLiteral("Audio (%1)").arg(model_.audio().size()));
  {
    const QSignalBlocker bv(video_list_), ba(audio_list_);
    video_list_->clear();
    for (const DemuxStream& s : model_.video()) video_list_->addItem(stream_entry(s));
    video_list_->setCurrentIndex(model_.video_choice());
    audio_list_->clear();
    for (const DemuxStream& s : model_.audio()) audio_list_->addItem(stream_entry(s));
    audio_list_->setCurrentIndex(model_.audio_choice());
  }
  const bool video = !model_.video().empty() && !busy, audio = !model_.audio().empty() && !busy;
  video_list_->setEnabled(video);
  video_out_->setEnabled(video);
  video_browse_->setEnabled(video);
  audio_list_->setEnabled(audio);
  audio_out_->setEnabled(audio);
  audio_browse_->setEnabled(audio);
  input_browse_->setEnabled(!busy);
  video_out_->setText(QString::fromStdString(model_.video_output()));
  audio_out_->setText(QString::fromStdString(model_.audio_output()));
  estimate_->setText(mb(model_.estimate()));
  disks_->clear();
  for (const Volume& v : model_.disks()) {
    char t[300];
    std::snprintf(t, sizeof t, "%s %7.2f MB", v.mount.c_str(), v.free_bytes * 1e-6);
    disks_->addItem(QString::fromUtf8(t));
  }
  if (model_.disk_index() < disks_->count()) disks_->setCurrentIndex(model_.disk_index());
  save_->setEnabled(model_.save_enabled());
  close_->setEnabled(!busy);
}


