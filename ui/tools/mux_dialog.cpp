#include "ui/tools/mux_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "ui/shell/small_dialogs.h"
#include "ui/tools/convertor_dialog.h"
#include "ui/tools/tool_widgets.h"

namespace {

constexpr int kVideoFilter = 4;
constexpr int kAudioFilter = 5;
constexpr int kSystemsFilter = 6;

}  // namespace

MuxDialog::MuxDialog(std::function<void()> closed, QWidget* parent)
    : ToolDialog(std::move(closed), ToolJob::kPollMs, parent) {
  setObjectName(QStringLiteral("multiplexer"));
  setWindowTitle(QString::fromLatin1(kMuxCaption));
  auto* rows = new QVBoxLayout(this);

  auto* in_box = new QGroupBox(QStringLiteral(" Input File  "), this);
  auto* ig = new QGridLayout(in_box);
  video_label_ = new QLabel(in_box);
  audio_label_ = new QLabel(in_box);
  video_ = new QLineEdit(in_box);
  video_->setObjectName(QStringLiteral("video_input"));
  audio_ = new QComboBox(in_box);
  audio_->setObjectName(QStringLiteral("audio_input"));
  video_browse_ = tool_button("...", "video_browse", in_box);
  audio_browse_ = tool_button("...", "audio_browse", in_box);
  ig->addWidget(video_label_, 0, 0);
  ig->addWidget(video_, 0, 1);
  ig->addWidget(video_browse_, 0, 2);
  ig->addWidget(audio_label_, 1, 0);
  ig->addWidget(audio_, 1, 1);
  ig->addWidget(audio_browse_, 1, 2);
  ig->setColumnStretch(1, 1);
  rows->addWidget(in_box);

  auto* fmt_box = new QGroupBox(QStringLiteral(" MPEG Format  "), this);
  auto* fl = new QVBoxLayout(fmt_box);
  const char* names[4] = {" MPEG-1 System Stream", " MPEG-1 System Stream Video CD", " MPEG-2 Program Stream",
                          " MPEG-2 Program Stream SVCD"};
  const int formats[4] = {1, 2, 3, 3};
  for (int i = 0; i < 4; ++i) {
    radios_[i] = new QRadioButton(QString::fromLatin1(names[i]), fmt_box);
    radios_[i]->setObjectName(QStringLiteral("radio_%1").arg(i));
    fl->addWidget(radios_[i]);
    const int f = formats[i];
    const bool svcd = i == 3;
    connect(radios_[i], &QRadioButton::clicked, this, [this, f, svcd] {
      model_.set_format(f, svcd);
      refresh();
    });
  }
  transport_ = new QRadioButton(QStringLiteral(" MPEG-2 Transport Stream"), fmt_box);
  transport_->setObjectName(QStringLiteral("radio_4"));
  fl->addWidget(transport_);
  connect(transport_, &QRadioButton::clicked, this, [this] {
    model_.set_format(4);
    refresh();
  });
  rows->addWidget(fmt_box);

  auto* out_box = new QGroupBox(QStringLiteral("Output File "), this);
  auto* ol = new QGridLayout(out_box);
  output_ = new QLineEdit(out_box);
  output_->setObjectName(QStringLiteral("output"));
  output_->setReadOnly(true);
  output_browse_ = tool_button("...", "output_browse", out_box);
  estimate_ = new QLineEdit(out_box);
  estimate_->setObjectName(QStringLiteral("estimate"));
  estimate_->setReadOnly(true);
  ol->addWidget(new QLabel(QStringLiteral("Stream"), out_box), 0, 0);
  ol->addWidget(output_, 0, 1);
  ol->addWidget(output_browse_, 0, 2);
  ol->addWidget(new QLabel(QStringLiteral("Estimated Size"), out_box), 1, 0);
  ol->addWidget(estimate_, 1, 1);
  disks_ = new QComboBox(out_box);
  disks_->setObjectName(QStringLiteral("disk_space"));
  ol->addWidget(new QLabel(QStringLiteral("Disk Space"), out_box), 2, 0);
  ol->addWidget(disks_, 2, 1);
  rows->addWidget(out_box);

  auto* adv = new QGroupBox(QStringLiteral("Advanced "), this);
  auto* al = new QHBoxLayout(adv);
  vbr_ = new QCheckBox(QStringLiteral("VBR"), adv);
  vbr_->setObjectName(QStringLiteral("vbr"));
  minimize_ = new QCheckBox(QStringLiteral("Minimize Size"), adv);
  minimize_->setObjectName(QStringLiteral("minimize"));
  select_pid_ = tool_button("Select PID", "select_pid", adv);
  av_sync_ = tool_button("AV-Sync", "av_sync", adv);
  al->addWidget(vbr_);
  al->addWidget(minimize_);
  al->addWidget(select_pid_);
  al->addWidget(av_sync_);
  rows->addWidget(adv);

  auto* buttons = new QHBoxLayout;
  reset_ = tool_button("Reset", "reset", this);
  save_ = tool_button("Save", "save", this);
  close_ = tool_button("Close", "close", this);
  auto* help = tool_button("Help", "help", this);
  buttons->addWidget(reset_);
  buttons->addStretch();
  for (QPushButton* b : {save_, close_, help}) buttons->addWidget(b);
  rows->addLayout(buttons);

  connect(video_browse_, &QPushButton::clicked, this, [this] {
    std::string path;
    if (file_dialog(&path, 0, kVideoFilter, nullptr, "m2v", editor_settings().muxer_in_folder, "Video Input")) {
      editor_settings().muxer_in_folder = split_path(path);
      model_.add_video(path);
    }
    refresh();
  });
  connect(audio_browse_, &QPushButton::clicked, this, [this] {
    std::string path;
    if (file_dialog(&path, 0, kAudioFilter, nullptr, "mp2", editor_settings().muxer_in_folder, "Audio Input")) {
      editor_settings().muxer_in_folder = split_path(path);
      model_.add_audio(path);
    }
    refresh();
  });
  connect(output_browse_, &QPushButton::clicked, this, [this] {
    std::string path;
    if (file_dialog(&path, 1, kSystemsFilter, nullptr, "mpg", editor_settings().muxer_out_folder, "Output File") &&
        model_.set_output(path))
      editor_settings().muxer_out_folder = split_path(path);
    refresh();
  });
  connect(video_, &QLineEdit::editingFinished, this, [this] {
    const std::string text = video_->text().toStdString();
    if (text == model_.video()) return;
    if (text.empty()) model_.remove_video();
    else model_.add_video(text);
    refresh();
  });
  connect(vbr_, &QCheckBox::clicked, this, [this](bool on) { model_.set_vbr(on); });
  connect(minimize_, &QCheckBox::clicked, this, [this](bool on) {
    if (model_.set_minimize(on)) {
      CCompatCautionDlg caution;
      CompatCautionDialog d(&caution, this);
      d.exec();
      model_.caution_closed(caution);
    }
    refresh();
  });
  connect(av_sync_, &QPushButton::clicked, this, [this] { run_av_sync(); });
  connect(select_pid_, &QPushButton::clicked, this, [this] {
    TransportPids p = model_.pids();
    if (run_select_pid_dialog(this, &p)) model_.set_pids(p);
  });
  connect(reset_, &QPushButton::clicked, this, [this] {
    model_.reset();
    refresh();
  });
  connect(save_, &QPushButton::clicked, this, [this] {
    if (model_.save()) timer_->start();
    refresh();
  });
  connect(close_, &QPushButton::clicked, this, [this] { close(); });
  connect(help, &QPushButton::clicked, this, [] { show_help(kMuxHelp); });

  refresh();
}

MuxDialog::~MuxDialog() = default;


void MuxDialog::run_av_sync() {
  model_.refresh_disks();
  refresh();
  AVSyncSetting sync = model_.av_sync();
  CAVSyncDlg dialog(&sync);
  AVSyncDialog d(&dialog, this);
  if (d.exec() == QDialog::Accepted) model_.take_av_sync(sync);
  refresh();
}

void MuxDialog::refresh() {
  const bool busy = model_.busy();
  video_label_->setText(QStringLiteral("Video (%1)").arg(model_.video().empty() ? 0 : 1));
  audio_label_->setText(QStringLiteral("Audio (%1)").arg(model_.audios().size()));
  video_->setText(QString::fromStdString(model_.video()));
  audio_->clear();
  for (const std::string& a : model_.audios()) audio_->addItem(QString::fromStdString(a));
  output_->setText(QString::fromStdString(model_.output()));
  char est[64];
  std::snprintf(est, sizeof est, "%.2f MB", model_.estimate() * 1e-6);
  estimate_->setText(QString::fromLatin1(est));
  const int formats[4] = {1, 2, 3, 3};
  for (int i = 0; i < 4; ++i) {
    const bool svcd = i == 3;
    radios_[i]->setEnabled(!busy && model_.format_enabled(formats[i], svcd));
    radios_[i]->setChecked(model_.format() == formats[i] && model_.svcd() == svcd);
  }
  transport_->setEnabled(!busy);
  transport_->setChecked(model_.format() == 4);
  // Nothing that changes the job's inputs or options while it runs.
  for (QWidget* w : std::initializer_list<QWidget*>{video_, audio_, video_browse_, audio_browse_, output_browse_, reset_})
    w->setEnabled(!busy);
  vbr_->setEnabled(!busy && model_.vbr_enabled());
  vbr_->setChecked(model_.vbr());
  minimize_->setEnabled(!busy && model_.minimize_enabled());
  minimize_->setChecked(model_.minimize());
  select_pid_->setEnabled(!busy && model_.select_pid_enabled());
  av_sync_->setEnabled(model_.av_sync_enabled());
  fill_disk_list(disks_, model_.disks(), model_.disk_index());
  save_->setEnabled(model_.save_enabled());
  close_->setEnabled(!busy);
}

