#include "ui/editor/audio_encoder_setup_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

AudioEncoderSetupWidget::AudioEncoderSetupWidget(CAudioEncoderSetupDlg* model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("d102"));
  setWindowTitle(QStringLiteral(" MPEG Audio Encoder Setup"));
  auto* input = new QGroupBox(QStringLiteral(" Input Clip "), this);
  clips_ = new QComboBox(input);
  clips_->setObjectName(QStringLiteral("c1018"));
  for (int index : model_->clip_entries) {
    const Clip& c = model_->edited.clips[size_t(index)];
    clips_->addItem(QStringLiteral("%1: %2").arg(index + 1).arg(QString::fromStdString(c.file_name)));
  }
  reset_ = new QPushButton(QStringLiteral("Reset"), input);
  reset_->setObjectName(QStringLiteral("c1019"));
  auto* input_row = new QHBoxLayout(input);
  input_row->addWidget(clips_, 1);
  input_row->addWidget(reset_);

  rates_ = new QComboBox(this);
  rates_->setObjectName(QStringLiteral("c1025"));
  for (const std::string& t : model_->sample_rate_texts()) rates_->addItem(QString::fromStdString(t));
  bit_rates_ = new QComboBox(this);
  bit_rates_->setObjectName(QStringLiteral("c1017"));
  mono_ = new QRadioButton(QStringLiteral("mono"), this);
  mono_->setObjectName(QStringLiteral("c1024"));
  stereo_ = new QRadioButton(QStringLiteral("stereo"), this);
  stereo_->setObjectName(QStringLiteral("c1027"));
  auto* channels = new QGroupBox(QStringLiteral(" Channels"), this);
  auto* ch_row = new QHBoxLayout(channels);
  ch_row->addWidget(mono_);
  ch_row->addWidget(stereo_);
  layer1_ = new QRadioButton(QStringLiteral("I"), this);
  layer1_->setObjectName(QStringLiteral("c1021"));
  layer2_ = new QRadioButton(QStringLiteral("II"), this);
  layer2_->setObjectName(QStringLiteral("c1022"));
  auto* layer3 = new QRadioButton(QStringLiteral("III"), this);
  layer3->setObjectName(QStringLiteral("c1023"));
  layer3->setEnabled(false);
  auto* layers = new QGroupBox(QStringLiteral("Layer"), this);
  auto* layer_row = new QHBoxLayout(layers);
  for (QRadioButton* r : {layer1_, layer2_, layer3}) layer_row->addWidget(r);
  auto* out = new QGroupBox(QStringLiteral("Output Parameters"), this);
  auto* vcd = new QPushButton(QStringLiteral("VCD"), out);
  vcd->setObjectName(QStringLiteral("c1026"));
  auto* svcd = new QPushButton(QStringLiteral("SVCD"), out);
  svcd->setObjectName(QStringLiteral("c1387"));
  ac3_ = new QCheckBox(QStringLiteral("AC-3"), out);
  ac3_->setObjectName(QStringLiteral("c1028"));
  auto* out_row = new QHBoxLayout(out);
  out_row->addWidget(vcd);
  out_row->addWidget(svcd);
  out_row->addWidget(ac3_);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Sample Rate"), this), 0, 0);
  grid->addWidget(rates_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Bit Rate"), this), 1, 0);
  grid->addWidget(bit_rates_, 1, 1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("c1"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("c2"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* all = new QVBoxLayout(this);
  all->addWidget(input);
  all->addLayout(grid);
  all->addWidget(channels);
  all->addWidget(layers);
  all->addWidget(out);
  all->addLayout(buttons);

  auto act = [this](auto f) {
    return [this, f] {
      if (filling_) return;
      f();
      refresh();
    };
  };
  connect(clips_, &QComboBox::activated, this, [this](int i) {
    model_->choose_clip(i);
    refresh();
  });
  connect(reset_, &QPushButton::clicked, this, act([this] { model_->reset(); }));
  connect(rates_, &QComboBox::activated, this, [this](int i) {
    model_->set_sample_rate(kAudioSampleRates[i]);
    refresh();
  });
  connect(bit_rates_, &QComboBox::activated, this, [this](int i) {
    model_->set_bit_rate(audio_layer_bit_rates(model_->edited.layer)[size_t(i)]);
    refresh();
  });
  connect(mono_, &QRadioButton::clicked, this, act([this] { model_->set_channels(1); }));
  connect(stereo_, &QRadioButton::clicked, this, act([this] { model_->set_channels(2); }));
  connect(layer1_, &QRadioButton::clicked, this, act([this] { model_->set_layer(1); }));
  connect(layer2_, &QRadioButton::clicked, this, act([this] { model_->set_layer(2); }));
  connect(vcd, &QPushButton::clicked, this, act([this] { model_->vcd(); }));
  connect(svcd, &QPushButton::clicked, this, act([this] { model_->svcd(); }));
  connect(ac3_, &QCheckBox::clicked, this, act([this] { model_->toggle_ac3(); }));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  refresh();
}

void AudioEncoderSetupWidget::refresh() {
  filling_ = true;
  const AudioEncoderData& a = model_->edited;
  clips_->setEnabled(model_->clip_list_enabled);
  if (model_->clip_entry >= 0) clips_->setCurrentIndex(model_->clip_entry);
  reset_->setEnabled(model_->reset_enabled);
  for (int i = 0; i < 3; ++i)
    if (kAudioSampleRates[i] == a.sample_rate) rates_->setCurrentIndex(i);
  bit_rates_->clear();
  for (const std::string& t : model_->bit_rate_texts()) bit_rates_->addItem(QString::fromStdString(t));
  const std::vector<int>& rates = audio_layer_bit_rates(a.layer);
  for (size_t i = 0; i < rates.size(); ++i)
    if (rates[i] == a.bit_rate) bit_rates_->setCurrentIndex(int(i));
  mono_->setChecked(a.channels == 1);
  stereo_->setChecked(a.channels != 1);
  layer1_->setChecked(a.layer == 1);
  layer2_->setChecked(a.layer != 1);
  ac3_->setEnabled(model_->ac3_available);
  ac3_->setChecked(model_->ac3_on);
  filling_ = false;
}
