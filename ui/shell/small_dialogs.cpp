#include "ui/shell/small_dialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {
QPushButton* plain_button(const char* text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(QString::fromLatin1(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  // Enter in an edit must not press a button.
  b->setAutoDefault(false);
  b->setDefault(false);
  return b;
}
}  // namespace

AVSyncDialog::AVSyncDialog(CAVSyncDlg* model, QWidget* parent) : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("d129"));
  setWindowTitle(QStringLiteral("  MPEG Audio/Video Synchronization"));
  offset_ = new QLineEdit(this);
  offset_->setObjectName(QStringLiteral("c1032"));
  range_ = new QLineEdit(this);
  range_->setObjectName(QStringLiteral("c1033"));
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName(QStringLiteral("c1034"));
  slider_->setRange(0, CAVSyncDlg::kSliderMax);
  slider_->setTickPosition(QSlider::TicksBelow);
  left_ = new QLabel(this);
  left_->setObjectName(QStringLiteral("c1031"));
  right_ = new QLabel(this);
  right_->setObjectName(QStringLiteral("c1036"));
  auto* done = plain_button("Done", "c1", this);
  auto* cancel = plain_button("Cancel", "c2", this);
  auto* apply = plain_button("N/A", "c1035", this);
  auto* help = plain_button("Help", "c9", this);
  help->setEnabled(false);
  apply->setEnabled(model_->apply_enabled());

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Audio Offset (sec)"), this), 0, 0);
  grid->addWidget(offset_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Offset Range (sec)"), this), 1, 0);
  grid->addWidget(range_, 1, 1);
  auto* labels = new QHBoxLayout;
  labels->addWidget(left_);
  labels->addStretch(1);
  labels->addWidget(new QLabel(QStringLiteral("0.000"), this));
  labels->addStretch(1);
  labels->addWidget(right_);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {done, cancel, apply, help}) buttons->addWidget(b);
  auto* column = new QVBoxLayout(this);
  column->addLayout(grid);
  column->addWidget(slider_);
  column->addLayout(labels);
  column->addLayout(buttons);

  connect(range_, &QLineEdit::editingFinished, this, [this] {
    model_->set_range_text(range_->text().toStdString());
    refresh();
  });
  connect(offset_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_->set_offset_text(t.toStdString());
    writing_ = true;
    slider_->setValue(model_->slider());
    writing_ = false;
  });
  connect(slider_, &QSlider::valueChanged, this, [this](int v) {
    if (writing_) return;
    model_->slider_moved(v);
    writing_ = true;
    offset_->setText(QString::fromStdString(model_->offset_text));
    writing_ = false;
  });
  connect(apply, &QPushButton::clicked, this, [this] { model_->apply(); });
  connect(done, &QPushButton::clicked, this, [this] {
    if (model_->done()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  refresh();
}

AVSyncDialog::~AVSyncDialog() {
  for (QLineEdit* e : {offset_, range_}) e->disconnect(this);
}

void AVSyncDialog::refresh() {
  writing_ = true;
  range_->setText(QString::fromStdString(model_->range_text));
  offset_->setText(QString::fromStdString(model_->offset_text));
  slider_->setTickInterval(model_->tick_interval());
  slider_->setPageStep(model_->page_size());
  slider_->setValue(model_->slider());
  left_->setText(QString::fromStdString(model_->left_text));
  right_->setText(QString::fromStdString(model_->right_text));
  writing_ = false;
}

FieldOrderDialog::FieldOrderDialog(CFieldOrderDlg* model, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("d156"));
  setWindowTitle(QStringLiteral("MPEG Video Encoder Field Order"));
  auto* group = new QGroupBox(QStringLiteral("Image Field Display Order "), this);
  auto* column = new QVBoxLayout(group);
  // Ids of the buttons by value: default, bottom first, top first.
  const char* ids[3] = {"c1002", "c1000", "c1001"};
  for (int v = 0; v < 3; ++v) {
    auto* r = new QRadioButton(QString::fromLatin1(kFieldOrderTexts[v]), group);
    r->setObjectName(QString::fromLatin1(ids[v]));
    r->setChecked(model->value == v);
    connect(r, &QRadioButton::clicked, this, [model, v] { model->value = v; });
    column->addWidget(r);
  }
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("c1"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("c2"));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* all = new QVBoxLayout(this);
  all->addWidget(group);
  all->addLayout(buttons);
}

CompatCautionDialog::CompatCautionDialog(CCompatCautionDlg* model, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("d152"));
  setWindowTitle(QStringLiteral("  Caution for compatibility"));
  auto* text = new QLabel(QString::fromLatin1(kCompatCautionText), this);
  auto* box = new QCheckBox(QStringLiteral(" Do not show this window next time"), this);
  box->setObjectName(QStringLiteral("c_dont_show"));
  box->setChecked(model->dont_show_again != 0);
  connect(box, &QCheckBox::toggled, this, [model](bool on) { model->dont_show_again = on ? 1 : 0; });
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("c1"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* all = new QVBoxLayout(this);
  all->addWidget(text);
  all->addWidget(box);
  all->addWidget(ok, 0, Qt::AlignRight);
}
