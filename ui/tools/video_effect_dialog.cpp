#include "ui/tools/video_effect_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QVBoxLayout>
#include <utility>

VideoEffectDialog::VideoEffectDialog(std::vector<Clip>* clips, int index, QWidget* parent, ImageProbe probe)
    : QDialog(parent), model_(std::move(probe)) {
  setWindowTitle(QStringLiteral("  Video Effect Setup"));
  model_.set_clips(clips);
  model_.current_clip = index;

  tabs_ = new QTabBar(this);
  tabs_->setObjectName(QStringLiteral("c1342"));
  for (const char* t : {"Transition", "Overlay", "Filter"}) tabs_->addTab(QString::fromUtf8(t));
  effects_ = new QListWidget(this);
  effects_->setObjectName(QStringLiteral("c1336"));
  effects_->setSelectionMode(QAbstractItemView::SingleSelection);
  clips_ = new QComboBox(this);
  clips_->setObjectName(QStringLiteral("c1334"));
  offset_ = new QLineEdit(this);
  offset_->setObjectName(QStringLiteral("c1341"));
  length_ = new QLineEdit(this);
  length_->setObjectName(QStringLiteral("c1335"));
  info_ = new QLabel(this);
  info_->setObjectName(QStringLiteral("c1340"));
  auto button = [this](const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(QString::fromUtf8(text));
    b->setAutoDefault(false);
    return b;
  };
  QPushButton* all = button("ALL");
  add_ = button("Add");
  remove_ = button("Remove");
  update_ = button("Update");
  replace_ = button("Replace");

  range_ = new QGroupBox(this);
  auto* rl = new QGridLayout(range_);
  rl->addWidget(new QLabel(QStringLiteral("offset")), 0, 0);
  rl->addWidget(offset_, 0, 1);
  rl->addWidget(new QLabel(QStringLiteral("length")), 1, 0);
  rl->addWidget(length_, 1, 1);
  rl->addWidget(all, 0, 2, 2, 1);
  auto* chosen = new QGroupBox(QStringLiteral(" seleted video effect "), this);
  auto* cl = new QVBoxLayout(chosen);
  cl->addWidget(info_);
  auto* actions = new QHBoxLayout;
  for (QPushButton* b : {add_, remove_, update_, replace_}) actions->addWidget(b);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(clips_);
  layout->addWidget(tabs_);
  layout->addWidget(effects_);
  layout->addWidget(range_);
  layout->addLayout(actions);
  layout->addWidget(chosen);
  layout->addWidget(box);

  model_.start();
  for (const Clip& c : model_.copy()) clips_->addItem(QString::fromStdString(c.file_name));
  clips_->setCurrentIndex(model_.current_clip);
  fill_effect_list();
  refresh();

  connect(tabs_, &QTabBar::currentChanged, this, [this](int t) {
    if (filling_) return;
    model_.select_tab(t);
    fill_effect_list();
    refresh();
  });
  connect(clips_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (filling_) return;
    model_.select_clip(i);
    fill_effect_list();
    refresh();
  });
  connect(effects_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (filling_ || row < 0) return;
    model_.pick_row(row);
    refresh();
  });
  connect(offset_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.offset_edited(t.toStdString());
    refresh();
  });
  connect(length_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.length_edited(t.toStdString());
    refresh();
  });
  connect(all, &QPushButton::clicked, this, [this] { run(&VideoEffectModel::all); });
  connect(add_, &QPushButton::clicked, this, [this] { run(&VideoEffectModel::add); });
  connect(remove_, &QPushButton::clicked, this, [this] { run(&VideoEffectModel::remove); });
  connect(update_, &QPushButton::clicked, this, [this] { run(&VideoEffectModel::update); });
  connect(replace_, &QPushButton::clicked, this, [this] { run(&VideoEffectModel::replace); });
  connect(box, &QDialogButtonBox::accepted, this, &VideoEffectDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void VideoEffectDialog::run(void (VideoEffectModel::*action)()) {
  (model_.*action)();
  fill_effect_list();
  refresh();
}

void VideoEffectDialog::accept() {
  model_.ok();
  QDialog::accept();
}

void VideoEffectDialog::fill_effect_list() {
  filling_ = true;
  effects_->clear();
  for (const EffectRow& r : model_.rows()) {
    auto* item = new QListWidgetItem(QString::fromStdString(r.name), effects_);
    item->setData(Qt::UserRole, r.id);
  }
  effects_->setCurrentRow(model_.selected_row());
  if (effects_->currentItem()) effects_->scrollToItem(effects_->currentItem());
  tabs_->setCurrentIndex(model_.tab);
  filling_ = false;
}

void VideoEffectDialog::refresh() {
  filling_ = true;
  const QString info = QString::fromStdString(model_.info());
  // A field is rewritten only when its number is not the model's, so
  // typing into it is not disturbed.
  for (auto [edit, text] : {std::pair{offset_, model_.offset_text()}, std::pair{length_, model_.length_text()}}) {
    const QString want = QString::fromStdString(text);
    if (edit->text().toInt() != want.toInt() || edit->text().isEmpty() != want.isEmpty()) edit->setText(want);
  }
  offset_->setEnabled(model_.offset_enabled());
  range_->setTitle(QString::fromStdString(model_.range_title()));
  info_->setText(info);
  const VideoEffectModel::Buttons b = model_.buttons();
  add_->setEnabled(b.add);
  update_->setEnabled(b.update);
  replace_->setEnabled(b.replace);
  remove_->setEnabled(b.remove);
  if (effects_->currentRow() != model_.selected_row()) effects_->setCurrentRow(model_.selected_row());
  filling_ = false;
}
