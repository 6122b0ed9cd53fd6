#include "ui/shell/save_progress_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMoveEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

SaveProgressWidget::SaveProgressWidget(CSaveProgressDlg* model) : QDialog(nullptr), model_(model) {
  setObjectName(QStringLiteral("d123"));
  setModal(false);
  setWindowTitle(QStringLiteral("  Saving Progress "));
  job_ = new QLabel(this);
  job_->setObjectName(QStringLiteral("c1293"));
  percent_ = new QLabel(this);
  percent_->setObjectName(QStringLiteral("c1295"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("c1296"));
  bar_->setRange(0, 100);
  bar_->setTextVisible(false);
  time_ = new QLabel(this);
  time_->setObjectName(QStringLiteral("c1298"));
  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setObjectName(QStringLiteral("c1"));
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  stop_->setObjectName(QStringLiteral("c2"));
  pause_ = new QPushButton(QStringLiteral("Pause"), this);
  pause_->setObjectName(QStringLiteral("c1294"));
  pause_->setAutoDefault(false);
  stop_->setAutoDefault(false);
  close_->setDefault(true);

  auto* top = new QHBoxLayout;
  top->addWidget(job_, 1);
  top->addWidget(percent_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(time_, 1);
  buttons->addWidget(pause_);
  buttons->addWidget(stop_);
  buttons->addWidget(close_);
  auto* column = new QVBoxLayout(this);
  column->addLayout(top);
  column->addWidget(bar_);
  column->addLayout(buttons);
  setMinimumWidth(420);

  connect(close_, &QPushButton::clicked, this, [this] { model_->on_close(); });
  connect(stop_, &QPushButton::clicked, this, [this] { model_->on_stop(); });
  connect(pause_, &QPushButton::clicked, this, [this] { model_->on_pause(); });
  close_timer_.setSingleShot(true);
  connect(&close_timer_, &QTimer::timeout, this, [this] { model_->on_close_timer(); });
  if (model_->position_x || model_->position_y) move(model_->position_x, model_->position_y);
}

void SaveProgressWidget::refresh() {
  setWindowTitle(QString::fromStdString(model_->title()));
  job_->setText(QString::fromStdString(model_->job_text()));
  percent_->setText(QString::fromStdString(model_->percent_text()));
  time_->setText(QString::fromStdString(model_->time_text()));
  bar_->setValue(model_->percent);
  pause_->setVisible(model_->pausable != 0);
  pause_->setText(QString::fromStdString(model_->pause_text()));
  close_->setEnabled(model_->close_enabled());
  stop_->setEnabled(model_->stop_enabled());
  if (!isVisible()) show();
}

void SaveProgressWidget::start_close_timer(int ms) { close_timer_.start(ms); }

void SaveProgressWidget::destroy() {
  close_timer_.stop();
  hide();
}

void SaveProgressWidget::reject() { model_->on_stop(); }

void SaveProgressWidget::moveEvent(QMoveEvent* event) {
  model_->position_x = event->pos().x();
  model_->position_y = event->pos().y();
  QDialog::moveEvent(event);
}

void SaveProgressWidget::install() {
  set_save_progress_window_factory(
      [](CSaveProgressDlg* model) -> std::unique_ptr<SaveProgressWindow> {
        return std::make_unique<SaveProgressWidget>(model);
      });
}
