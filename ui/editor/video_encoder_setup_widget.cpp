#include "ui/editor/video_encoder_setup_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/shell/small_dialogs.h"
#include "ui/shell/small_dialogs.h"

namespace {

template <class W>
W* named(W* w, const char* id) {
  w->setObjectName(QString::fromLatin1(id));
  return w;
}

}  // namespace

VideoEncoderSetupWidget::VideoEncoderSetupWidget(CVideoEncoderSetupDlg* model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("d107"));
  setWindowTitle(QStringLiteral(" MPEG Video Encoder Setup"));
  load_ = named(new QPushButton(this), "c1086");
  clips_ = named(new QComboBox(this), "c1085");
  for (int index : model_->clip_entries) {
    const Clip& c = model_->edited.clips[size_t(index)];
    clips_->addItem(QStringLiteral("%1: %2").arg(index + 1).arg(QString::fromStdString(c.file_name)));
  }
  reset_ = named(new QPushButton(QStringLiteral("Reset"), this), "c1102");
  auto* input_row = new QHBoxLayout;
  input_row->addWidget(load_);
  input_row->addWidget(clips_, 1);
  input_row->addWidget(reset_);

  auto* params = new QGroupBox(QStringLiteral("Encoder Parameters"), this);
  auto* grid = new QGridLayout(params);
  gop_n_ = named(new QComboBox(params), "c1090");
  for (int n = 1; n <= 30; ++n) gop_n_->addItem(QString::number(n));
  gop_m_ = named(new QComboBox(params), "c1105");
  for (int m = 0; m <= 5; ++m) gop_m_->addItem(QString::number(m));
  grid->addWidget(new QLabel(QStringLiteral("GOP Size"), params), 0, 0);
  grid->addWidget(gop_n_, 0, 1);
  grid->addWidget(gop_m_, 0, 2);
  mpeg1_ = named(new QRadioButton(QStringLiteral("MPEG-1"), params), "c1098");
  mpeg2_ = named(new QRadioButton(QStringLiteral("MPEG-2"), params), "c1099");
  grid->addWidget(new QLabel(QStringLiteral("Format"), params), 1, 0);
  grid->addWidget(mpeg1_, 1, 1);
  grid->addWidget(mpeg2_, 1, 2);
  width_ = named(new QLineEdit(params), "c1107");
  height_ = named(new QLineEdit(params), "c1091");
  grid->addWidget(new QLabel(QStringLiteral("Size (pixels)"), params), 2, 0);
  grid->addWidget(width_, 2, 1);
  grid->addWidget(height_, 2, 2);
  rates_ = named(new QComboBox(params), "c1100");
  for (const char* t : kVideoRateTexts) rates_->addItem(QString::fromLatin1(t));
  grid->addWidget(new QLabel(QStringLiteral("Frame Rate"), params), 3, 0);
  grid->addWidget(rates_, 3, 1);
  grid->addWidget(new QLabel(QStringLiteral("frame/sec"), params), 3, 2);

  auto* control = new QGroupBox(QStringLiteral("Bit Rate Control"), params);
  auto* cgrid = new QGridLayout(control);
  cbr_ = named(new QRadioButton(QStringLiteral("constant bit rate (bits/second)"), control), "c1088");
  bit_rate_ = named(new QLineEdit(control), "c1084");
  vbr_ = named(new QRadioButton(QStringLiteral("constant quality (variable bit rate)"), control), "c1087");
  quality_ = named(new QSlider(Qt::Horizontal, control), "c1101");
  quality_->setRange(1, 21);
  quality_->setPageStep(1);
  quality_->setTickInterval(2);
  quality_->setTickPosition(QSlider::TicksBelow);
  max_rate_ = named(new QLineEdit(control), "c1094");
  cgrid->addWidget(cbr_, 0, 0, 1, 3);
  cgrid->addWidget(bit_rate_, 0, 3);
  cgrid->addWidget(vbr_, 1, 0, 1, 4);
  cgrid->addWidget(new QLabel(QStringLiteral("high"), control), 2, 0);
  cgrid->addWidget(quality_, 2, 1);
  cgrid->addWidget(new QLabel(QStringLiteral("low"), control), 2, 2);
  cgrid->addWidget(new QLabel(QStringLiteral("max bit rate"), control), 3, 0);
  cgrid->addWidget(max_rate_, 3, 3);
  grid->addWidget(control, 4, 0, 1, 3);

  auto* search = new QGroupBox(QStringLiteral("Motion Estimation Search"), params);
  auto* sgrid = new QGridLayout(search);
  algorithm_ = named(new QComboBox(search), "c1095");
  for (const char* t : kVideoAlgorithmTexts) algorithm_->addItem(QString::fromLatin1(t));
  h_distance_ = named(new QLineEdit(search), "c1096");
  v_distance_ = named(new QLineEdit(search), "c1097");
  sgrid->addWidget(new QLabel(QStringLiteral("algorithm"), search), 0, 0);
  sgrid->addWidget(algorithm_, 0, 1, 1, 2);
  sgrid->addWidget(new QLabel(QStringLiteral("distance (pixels/frame)"), search), 1, 0);
  sgrid->addWidget(h_distance_, 1, 1);
  sgrid->addWidget(v_distance_, 1, 2);
  grid->addWidget(search, 5, 0, 1, 3);

  auto* filter = new QGroupBox(QStringLiteral("Filter"), params);
  auto* frow = new QVBoxLayout(filter);
  const char* filter_texts[4] = {"temporal noise reduction", "adaptive de-interlacing", "scene-change detection",
                                 "inverse telecine "};
  const char* filter_ids[4] = {"c1106", "c1089", "c1103", "c1093"};
  for (int i = 0; i < 4; ++i) {
    filters_[i] = named(new QCheckBox(QString::fromLatin1(filter_texts[i]), filter), filter_ids[i]);
    filters_[i]->setEnabled(CVideoEncoderSetupDlg::kFilterEnabled[i]);
    frow->addWidget(filters_[i]);
  }
  grid->addWidget(filter, 6, 0, 1, 3);

  vcd_ = named(new QCheckBox(QStringLiteral("Video-CD"), this), "c1104");
  svcd_ = named(new QCheckBox(QStringLiteral("SVCD"), this), "c1388");
  dvd_ = named(new QCheckBox(QStringLiteral("DVD"), this), "c1108");
  auto* targets = new QHBoxLayout;
  for (QCheckBox* b : {vcd_, svcd_, dvd_}) targets->addWidget(b);
  auto* display = new QGroupBox(QStringLiteral("Display"), this);
  auto* drow = new QHBoxLayout(display);
  field_order_ = named(new QPushButton(QStringLiteral("Field Order"), display), "c1403");
  fixed_ = named(new QCheckBox(display), "c1405");
  drow->addWidget(field_order_);
  drow->addWidget(fixed_);

  auto* ok = named(new QPushButton(QStringLiteral("OK"), this), "c1");
  ok->setDefault(true);
  auto* cancel = named(new QPushButton(QStringLiteral("Cancel"), this), "c2");
  auto* help = named(new QPushButton(QStringLiteral("Help"), this), "c9");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {ok, cancel, help}) buttons->addWidget(b);
  auto* all = new QVBoxLayout(this);
  all->addLayout(input_row);
  all->addWidget(params);
  all->addLayout(targets);
  all->addWidget(display);
  all->addLayout(buttons);

  auto act = [this](auto f) {
    return [this, f](auto&&...) {
      if (filling_) return;
      f();
      refresh();
    };
  };
  auto number = [](QLineEdit* e) { return e->text().trimmed().toInt(); };
  connect(clips_, &QComboBox::activated, this, act([this] { model_->choose_clip(clips_->currentIndex()); }));
  connect(load_, &QPushButton::clicked, this, act([this] { model_->choose_clip(clips_->currentIndex()); }));
  connect(reset_, &QPushButton::clicked, this, act([this] { model_->reset(); }));
  connect(gop_n_, &QComboBox::activated, this, act([this] { model_->set_gop_n(gop_n_->currentIndex() + 1); }));
  connect(gop_m_, &QComboBox::activated, this, act([this] { model_->set_gop_m(gop_m_->currentIndex()); }));
  connect(mpeg1_, &QRadioButton::clicked, this, act([this] { model_->set_mpeg2(false); }));
  connect(mpeg2_, &QRadioButton::clicked, this, act([this] { model_->set_mpeg2(true); }));
  connect(width_, &QLineEdit::editingFinished, this, act([=, this] { model_->set_width(number(width_)); }));
  connect(height_, &QLineEdit::editingFinished, this, act([=, this] { model_->set_height(number(height_)); }));
  connect(rates_, &QComboBox::activated, this, act([this] { model_->choose_rate(rates_->currentIndex()); }));
  connect(cbr_, &QRadioButton::clicked, this, act([this] { model_->set_constant_quality(false); }));
  connect(vbr_, &QRadioButton::clicked, this, act([this] { model_->set_constant_quality(true); }));
  connect(bit_rate_, &QLineEdit::editingFinished, this, act([=, this] { model_->set_bit_rate(number(bit_rate_)); }));
  connect(max_rate_, &QLineEdit::editingFinished, this,
          act([=, this] { model_->set_max_bit_rate(number(max_rate_)); }));
  connect(quality_, &QSlider::valueChanged, this, act([this] { model_->move_slider(quality_->value()); }));
  connect(algorithm_, &QComboBox::activated, this, act([this] { model_->set_algorithm(algorithm_->currentIndex()); }));
  auto distances = act([=, this] { model_->set_distances(number(h_distance_), number(v_distance_)); });
  connect(h_distance_, &QLineEdit::editingFinished, this, distances);
  connect(v_distance_, &QLineEdit::editingFinished, this, distances);
  for (int i = 0; i < 4; ++i)
    connect(filters_[i], &QCheckBox::clicked, this, act([this, i] { model_->toggle_filter(i); }));
  connect(vcd_, &QCheckBox::clicked, this, act([this] { model_->check_vcd(); }));
  connect(svcd_, &QCheckBox::clicked, this, act([this] { model_->check_svcd(); }));
  connect(dvd_, &QCheckBox::clicked, this, act([this] { model_->check_dvd(); }));
  connect(fixed_, &QCheckBox::clicked, this, act([this] { model_->toggle_fixed(); }));
  connect(field_order_, &QPushButton::clicked, this, [this] {
    CFieldOrderDlg order(model_->edited.reserved);
    FieldOrderDialog d(&order, this);
    if (d.exec() == QDialog::Accepted) model_->set_field_order(order.value);
    refresh();
  });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  refresh();
}

void VideoEncoderSetupWidget::refresh() {
  filling_ = true;
  const CVideoEncoderSetupDlg& m = *model_;
  const VideoEncoderData& v = m.edited;
  load_->setText(QString::fromStdString(m.load_text));
  clips_->setEnabled(m.clip_list_enabled);
  if (m.clip_entry >= 0) clips_->setCurrentIndex(m.clip_entry);
  reset_->setEnabled(m.reset_enabled);
  gop_n_->setCurrentIndex(v.gop_size - 1);
  gop_m_->setCurrentIndex(v.sub_gop_size);
  mpeg1_->setChecked(!v.mpeg2_format);
  mpeg2_->setChecked(v.mpeg2_format != 0);
  width_->setText(QString::number(v.width));
  height_->setText(QString::number(v.height));
  rates_->setCurrentIndex(m.rate_index);
  cbr_->setChecked(!m.constant_quality);
  vbr_->setChecked(m.constant_quality);
  bit_rate_->setText(QString::number(v.bit_rate));
  bit_rate_->setEnabled(!m.constant_quality);
  quality_->setValue(m.slider);
  quality_->setEnabled(m.constant_quality);
  max_rate_->setText(QString::number(v.fixed_mq_max_bit_rate));
  max_rate_->setEnabled(m.constant_quality);
  algorithm_->setCurrentIndex(v.me[2]);
  h_distance_->setText(QString::number(v.me[0]));
  v_distance_->setText(QString::number(v.me[1]));
  for (int i = 0; i < 4; ++i) filters_[i]->setChecked(m.filters[i]);
  vcd_->setChecked(m.vcd);
  svcd_->setChecked(m.svcd);
  dvd_->setChecked(m.dvd);
  field_order_->setEnabled(m.field_order_enabled);
  fixed_->setVisible(m.fixed_visible);
  fixed_->setEnabled(m.fixed_enabled);
  fixed_->setChecked(m.fixed);
  fixed_->setText(QString::fromStdString(m.fixed_text));
  filling_ = false;
}
