#include "ui/audio/audio_save_dlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/shell/file_utils.h"

namespace {

template <class W>
W* named(W* w, int id) {
  w->setObjectName(QStringLiteral("c%1").arg(id));
  return w;
}

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

AudioSaveDialogWidget::AudioSaveDialogWidget(AudioSaveSettings* s)
    : QWidget(nullptr), model_(std::make_unique<CAudioSaveDlg>(s)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(q(kAudioSaveCaption));
  auto* top = new QVBoxLayout(this);

  auto* file_box = new QGroupBox(QStringLiteral(" File Name "), this);
  auto* fl = new QHBoxLayout(file_box);
  file_ = named(new QLineEdit(file_box), 1224);
  auto* browse = named(new QPushButton(QStringLiteral("browse"), file_box), 1216);
  fl->addWidget(file_, 1);
  fl->addWidget(browse);
  top->addWidget(file_box);

  auto* mid = new QHBoxLayout;
  auto* range_box = new QGroupBox(QStringLiteral(" Save Range (seconds) "), this);
  auto* rl = new QGridLayout(range_box);
  start_ = named(new QLineEdit(range_box), 1234);
  length_ = named(new QLineEdit(range_box), 1228);
  auto* all = named(new QPushButton(QStringLiteral("All"), range_box), 1214);
  rl->addWidget(new QLabel(QStringLiteral("Start"), range_box), 0, 0);
  rl->addWidget(start_, 0, 1);
  rl->addWidget(new QLabel(QStringLiteral("Length"), range_box), 1, 0);
  rl->addWidget(length_, 1, 1);
  rl->addWidget(all, 2, 1);
  mid->addWidget(range_box);
  auto* disk_col = new QVBoxLayout;
  disk_col->addWidget(new QLabel(QStringLiteral("Estimated Output (MB)"), this));
  estimate_ = named(new QLabel(this), 1231);
  disk_col->addWidget(estimate_);
  disk_col->addWidget(new QLabel(QStringLiteral("Disk Space"), this));
  disks_ = named(new QListWidget(this), 1223);
  disks_->setMaximumHeight(70);
  disk_col->addWidget(disks_);
  mid->addLayout(disk_col);
  top->addLayout(mid);

  auto* format_box = new QGroupBox(QStringLiteral(" Output File Format "), this);
  auto* ffl = new QHBoxLayout(format_box);
  mpeg_ = named(new QRadioButton(QStringLiteral("MPEG audio bit stream "), format_box), 1213);
  project_ = named(new QRadioButton(QStringLiteral("Quarvel editor project file"), format_box), 1229);
  ffl->addWidget(mpeg_);
  ffl->addWidget(project_);
  top->addWidget(format_box);

  auto* enc_box = new QGroupBox(QStringLiteral(" MPEG Audio Encoder Parameters "), this);
  auto* el = new QGridLayout(enc_box);
  clips_ = named(new QComboBox(enc_box), 1220);
  rates_ = named(new QComboBox(enc_box), 1233);
  bit_rates_ = named(new QComboBox(enc_box), 1215);
  auto* channels = new QWidget(enc_box);
  auto* cl = new QHBoxLayout(channels);
  cl->setContentsMargins(0, 0, 0, 0);
  mono_ = named(new QRadioButton(QStringLiteral("mono"), channels), 1218);
  stereo_ = named(new QRadioButton(QStringLiteral("stereo"), channels), 1219);
  cl->addWidget(mono_);
  cl->addWidget(stereo_);
  auto* layers = new QWidget(enc_box);
  auto* ll = new QHBoxLayout(layers);
  ll->setContentsMargins(0, 0, 0, 0);
  layer1_ = named(new QRadioButton(QStringLiteral("I"), layers), 1225);
  layer2_ = named(new QRadioButton(QStringLiteral("II"), layers), 1226);
  layer3_ = named(new QRadioButton(QStringLiteral("III"), layers), 1227);
  layer3_->setEnabled(false);  // layer III is never offered
  ll->addWidget(layer1_);
  ll->addWidget(layer2_);
  ll->addWidget(layer3_);
  reset_ = named(new QPushButton(QStringLiteral("Reset"), enc_box), 1221);
  el->addWidget(new QLabel(QStringLiteral(" Input Clip "), enc_box), 0, 0);
  el->addWidget(clips_, 0, 1, 1, 2);
  el->addWidget(new QLabel(QStringLiteral("Sample Rate"), enc_box), 1, 0);
  el->addWidget(rates_, 1, 1);
  el->addWidget(new QLabel(QStringLiteral(" (kHz) "), enc_box), 1, 2);
  el->addWidget(new QLabel(QStringLiteral(" Channels"), enc_box), 2, 0);
  el->addWidget(channels, 2, 1);
  el->addWidget(new QLabel(QStringLiteral("Bit Rate"), enc_box), 3, 0);
  el->addWidget(bit_rates_, 3, 1);
  el->addWidget(new QLabel(QStringLiteral(" (kb/sec) "), enc_box), 3, 2);
  el->addWidget(new QLabel(QStringLiteral("Layer"), enc_box), 4, 0);
  el->addWidget(layers, 4, 1);
  el->addWidget(reset_, 4, 2);
  top->addWidget(enc_box);

  auto* buttons = new QHBoxLayout;
  save_ = named(new QPushButton(QStringLiteral("Save"), this), 1232);
  ok_ = named(new QPushButton(QStringLiteral("OK"), this), 1230);
  auto* close_b = named(new QPushButton(QStringLiteral("Close"), this), 1217);
  auto* help = named(new QPushButton(QStringLiteral("Help"), this), 1222);
  for (QPushButton* b : {save_, ok_, close_b, help}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  top->addLayout(buttons);

  CAudioSaveDlg& m = *model_;
  m.on_changed = [this] { show_model(); };
  connect(browse, &QPushButton::clicked, this, [this] { model_->Browse(); });
  connect(all, &QPushButton::clicked, this, [this] { model_->All(); });
  connect(start_, &QLineEdit::textEdited, this, [this](const QString& t) {
    const std::string text = t.toStdString();
    model_->StartChanged(text);
    // A start the model corrected is shown as saved.
    if (model_->settings().start != std::strtod(text.c_str(), nullptr)) start_->setText(q(model_->start_text()));
  });
  connect(length_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_->LengthChanged(t.toStdString()); });
  connect(mpeg_, &QRadioButton::clicked, this, [this] { model_->SetFormat(1); });
  connect(project_, &QRadioButton::clicked, this, [this] { model_->SetFormat(0); });
  connect(mono_, &QRadioButton::clicked, this, [this] { model_->SetChannels(1); });
  connect(stereo_, &QRadioButton::clicked, this, [this] { model_->SetChannels(2); });
  connect(layer1_, &QRadioButton::clicked, this, [this] { model_->SetLayer(1); });
  connect(layer2_, &QRadioButton::clicked, this, [this] { model_->SetLayer(2); });
  connect(rates_, &QComboBox::activated, this, [this](int i) { model_->SelectSampleRate(i); });
  connect(bit_rates_, &QComboBox::activated, this, [this](int i) { model_->SelectBitRate(i); });
  connect(clips_, &QComboBox::activated, this, [this](int i) { model_->SelectClip(i); });
  connect(reset_, &QPushButton::clicked, this, [this] { model_->LoadClipParameters(); });
  connect(save_, &QPushButton::clicked, this, [this] { model_->OnSave(file_->text().toStdString()); });
  connect(ok_, &QPushButton::clicked, this, [this] {
    if (model_->OnOK(file_->text().toStdString())) {
      model_->suppress_close_callback = true;  // the close callback has run
      close();
    }
  });
  connect(close_b, &QPushButton::clicked, this, [this] { close(); });
  connect(help, &QPushButton::clicked, this, [] { show_help(kAudioSaveHelp); });
}

void AudioSaveDialogWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!focused_) {
    focused_ = true;
    model_->OnInitDialog();
    show_model();
    file_->setFocus(Qt::OtherFocusReason);
  }
}

void AudioSaveDialogWidget::show_model() {
  if (filling_) return;
  filling_ = true;
  const CAudioSaveDlg& m = *model_;
  const AudioSaveSettings& s = m.settings();
  if (file_->text().toStdString() != s.file_name) file_->setText(q(s.file_name));
  // The edits take the model's texts only when the model wrote them, not
  // while the user types.
  if (shown_start_ != m.start_text()) start_->setText(q(shown_start_ = m.start_text()));
  if (shown_length_ != m.length_text()) length_->setText(q(shown_length_ = m.length_text()));
  estimate_->setText(q(m.estimate_text()));
  QStringList disks;
  for (const std::string& d : m.disk_lines()) disks << q(d);
  if (disks_->count() != disks.size()) {
    disks_->clear();
    disks_->addItems(disks);
  } else {
    for (int i = 0; i < disks.size(); ++i)
      if (disks_->item(i)->text() != disks[i]) disks_->item(i)->setText(disks[i]);
  }
  if (m.selected_drive() < disks_->count()) disks_->setCurrentRow(m.selected_drive());
  auto fill = [](QComboBox* c, const std::vector<std::string>& items, int pick) {
    const QSignalBlocker b(c);
    if (c->count() != int(items.size()) || (c->count() && c->itemText(0) != q(items[0]))) {
      c->clear();
      for (const std::string& i : items) c->addItem(q(i));
    }
    c->setCurrentIndex(pick);
  };
  fill(clips_, m.clip_names(), m.selected_clip());
  fill(rates_, m.sample_rate_texts(), m.sample_rate_index());
  fill(bit_rates_, m.bit_rate_texts(), m.bit_rate_index());
  mono_->setChecked(s.channels == 1);
  stereo_->setChecked(s.channels != 1);
  layer1_->setChecked(s.layer == 1);
  layer2_->setChecked(s.layer != 1);
  mpeg_->setChecked(s.format == 1);
  project_->setChecked(s.format == 0);
  for (QWidget* w : std::initializer_list<QWidget*>{clips_, reset_, rates_, mono_, stereo_, layer1_, layer2_, bit_rates_})
    w->setEnabled(m.encoder_enabled());
  if (m.encoder_enabled()) reset_->setEnabled(m.reset_enabled());
  save_->setEnabled(m.save_enabled());
  ok_->setEnabled(m.save_enabled());
  filling_ = false;
}

void AudioSaveDialogWidget::EnableSaveButtons(int flag) {
  model_->EnableSaveButtons(flag);
  show_model();
}

void AudioSaveDialogWidget::close_by_owner() {
  model_->suppress_close_callback = true;
  close();
}

void AudioSaveDialogWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;  // Enter does nothing
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void AudioSaveDialogWidget::closeEvent(QCloseEvent* event) {
  model_->Close();
  event->accept();
}
