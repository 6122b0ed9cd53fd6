#include "ui/tools/progress_window.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

class QtProgressView : public JobProgressView {
 public:
  QtProgressView(QWidget* parent, const ProgressViewSpec& spec, Report report) : model_(spec, std::move(report)) {
    window_ = new QDialog(parent, Qt::Window);
    window_->setObjectName(QStringLiteral("tool_progress"));
    window_->setWindowTitle(spec.file_name.empty() ? QStringLiteral("  Saving In Progress ......")
                                                   : QString::fromStdString(spec.file_name));
    text_ = new QLabel(window_);
    percent_ = new QLabel(window_);
    bar_ = new QProgressBar(window_);
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    pause_ = new QPushButton(QStringLiteral("Pause"), window_);
    pause_->setObjectName(QStringLiteral("pause"));
    auto* stop = new QPushButton(QStringLiteral("Stop"), window_);
    stop->setObjectName(QStringLiteral("stop"));
    auto* rows = new QVBoxLayout(window_);
    rows->addWidget(text_);
    rows->addWidget(percent_);
    rows->addWidget(bar_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(pause_);
    buttons->addWidget(stop);
    rows->addLayout(buttons);
    // Each press may end this view: nothing of it is touched afterwards.
    QObject::connect(pause_, &QPushButton::clicked, window_, [this] {
      model_.press_pause();
      show_texts();
    });
    QObject::connect(stop, &QPushButton::clicked, window_, [this, alive = std::weak_ptr<int>(alive_)] {
      model_.press_stop();
      if (alive.lock()) show_texts();
    });
    show_texts();
    window_->resize(360, 130);
    window_->show();
  }
  ~QtProgressView() override {
    // Deleted later: the view may go from inside one of its own buttons.
    if (window_) {
      window_->hide();
      window_->deleteLater();
    }
  }
  void set_percent(int percent) override {
    model_.set_percent(percent);
    show_texts();
  }
  bool paused() const override { return model_.paused(); }
  void finish() override { model_.finish(); }

 private:
  void show_texts() {
    if (!window_) return;
    text_->setText(QString::fromStdString(model_.job_text()));
    percent_->setText(QStringLiteral("%1 %").arg(model_.percent()));
    bar_->setValue(model_.percent());
    pause_->setText(model_.paused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  }

  ProgressStandIn model_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  QPointer<QDialog> window_;
  QLabel* text_ = nullptr;
  QLabel* percent_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* pause_ = nullptr;
};

}  // namespace

ProgressViewFactory qt_progress_views(QWidget* parent) {
  QPointer<QWidget> owner = parent;
  return [owner](const ProgressViewSpec& spec, JobProgressView::Report report) -> std::unique_ptr<JobProgressView> {
    return std::make_unique<QtProgressView>(owner.data(), spec, std::move(report));
  };
}
