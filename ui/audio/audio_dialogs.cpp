#include "ui/audio/audio_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <QVBoxLayout>

#include "app/shell/program_title.h"
#include "platform/help.h"
#include "platform/services.h"
#include "ui/shell/hyperlink_static.h"

QString audio_window_name() {
  const std::string t = program_title();
  const size_t sp = t.find(' ');
  return QStringLiteral("MPEG Audio Player + Editor") +
         QString::fromStdString(sp == std::string::npos ? std::string() : t.substr(sp));
}

CAudioConfigDlg::CAudioConfigDlg(std::function<void()> volume_changed, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("d101"));
  setWindowTitle(QStringLiteral(" Audio Configuration "));
  setWindowIcon(QIcon(QStringLiteral(":/icons/audio_config.svg")));
  model_.on_volume_changed = std::move(volume_changed);
  auto* top = new QVBoxLayout(this);
  auto* channel = new QGroupBox(QStringLiteral("Channel: "), this);
  channel->setObjectName(QStringLiteral("c1014"));
  auto* cl = new QHBoxLayout(channel);
  left_ = new QCheckBox(QStringLiteral("Left channel"), channel);
  left_->setObjectName(QStringLiteral("c1012"));
  right_ = new QCheckBox(QStringLiteral("Right channel"), channel);
  right_->setObjectName(QStringLiteral("c1013"));
  cl->addWidget(left_);
  cl->addWidget(right_);
  top->addWidget(channel);
  auto* volume = new QGroupBox(QStringLiteral("Volume: "), this);
  volume->setObjectName(QStringLiteral("c1028"));
  auto* vl = new QHBoxLayout(volume);
  vl->addWidget(new QLabel(QStringLiteral("--80 dB"), volume));
  slider_ = new QSlider(Qt::Horizontal, volume);
  slider_->setObjectName(QStringLiteral("c1016"));
  slider_->setRange(0, 80);
  slider_->setPageStep(5);
  slider_->setTickInterval(5);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setValue(model_.volume());
  vl->addWidget(slider_, 1);
  vl->addWidget(new QLabel(QStringLiteral("0 dB"), volume));
  top->addWidget(volume);
  auto* buttons = new QHBoxLayout;
  auto* help = new QPushButton(QStringLiteral("Help"), this);
  help->setObjectName(QStringLiteral("c1015"));
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("c1"));
  close->setDefault(true);
  buttons->addWidget(help);
  buttons->addStretch(1);
  buttons->addWidget(close);
  top->addLayout(buttons);
  show_flags();
  connect(left_, &QCheckBox::clicked, this, [this] {
    model_.toggle_left();
    show_flags();
  });
  connect(right_, &QCheckBox::clicked, this, [this] {
    model_.toggle_right();
    show_flags();
  });
  // Every move, the thumb's drag included.
  connect(slider_, &QSlider::sliderMoved, this, [this](int v) { model_.set_volume(v); });
  connect(slider_, &QSlider::valueChanged, this, [this](int v) { model_.set_volume(v); });
  connect(help, &QPushButton::clicked, this, [] { platform().help->show("help.chm::/htm/chap03-3.htm"); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void CAudioConfigDlg::show_flags() {
  left_->setChecked(model_.left());
  right_->setChecked(model_.right());
}

CAudioAboutDlg::CAudioAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("d113"));
  setWindowTitle(QStringLiteral("   About Quarvel MPEG Audio Player + Editor "));
  setWindowIcon(QIcon(QStringLiteral(":/icons/audio_player.svg")));
  auto* top = new QVBoxLayout(this);
  auto* name = new QLabel(audio_window_name(), this);
  name->setObjectName(QStringLiteral("c1011"));
  top->addWidget(name);
  for (const char* line : {"Supported MPEG Compression Formats:",
                           "Layer-I, layer-II, layer-III, and Systems with embedded audio(s).", "System Requirements",
                           "Linux, Qt 6."})
    top->addWidget(new QLabel(QString::fromUtf8(line), this));
  // The link opens the local help index.
  const std::string page = help_page_file(platform().paths->data_folder(), "help.chm::/htm/chap04-1.htm");
  auto* link = new HyperLinkStatic(QStringLiteral("MPEG Audio Player + Editor help"), this);
  link->setObjectName(QStringLiteral("c1185"));
  if (!page.empty()) link->set_target(QUrl::fromLocalFile(QString::fromStdString(page)).toString().toStdString());
  top->addWidget(link);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  ok->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("c1"));
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  top->addWidget(ok);
}
