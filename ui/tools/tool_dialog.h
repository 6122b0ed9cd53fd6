// What every stream tool window shares over its rules: the poll timer that
// runs while a job exists, the close path that asks the rules (and, where
// they stop the job for the close, waits for it to end), and the owner's
// callback told once.
#pragma once

#include <QCloseEvent>
#include <QDialog>
#include <QTimer>
#include <functional>

#include "app/shell/tools.h"
#include "ui/tools/tool_widgets.h"

template <class Model>
class ToolDialog : public QDialog, public ToolWindow {
 public:
  bool is_busy() const override { return model_.busy(); }
  void close() override { QDialog::close(); }
  void stop_job() override { model_.job().stop_and_join(); }
  Model& model() { return model_; }

  // The timer's tick: the job polled; once it has ended the timer stops and
  // the window shows the outcome.
  void tick() {
    if (model_.busy()) {
      if constexpr (requires { model_.poll(); }) model_.poll();
      else model_.job().poll();
    }
    polled();
    if (!model_.busy()) {
      timer_->stop();
      refresh();
    }
  }

 protected:
  ToolDialog(std::function<void()> closed, int poll_ms, QWidget* parent)
      : QDialog(parent, Qt::Window), closed_(std::move(closed)) {
    setAttribute(Qt::WA_DeleteOnClose);
    timer_ = new QTimer(this);
    timer_->setInterval(poll_ms);
    connect(timer_, &QTimer::timeout, this, [this] { tick(); });
    if constexpr (requires { model_.on_changed; }) {
      model_.on_changed = [this] {
        if (model_.busy()) timer_->start();  // a job that follows the last
        refresh();
      };
    }
    if constexpr (requires { model_.on_close_ready; }) {
      model_.on_close_ready = [this] {
        closing_ = true;
        QTimer::singleShot(0, this, [this] { close(); });
      };
    }
  }
  ~ToolDialog() override {
    if constexpr (requires { model_.on_changed; }) model_.on_changed = nullptr;
    if constexpr (requires { model_.on_close_ready; }) model_.on_close_ready = nullptr;
  }

  virtual void refresh() = 0;
  // After each poll (a progress bar).
  virtual void polled() {}
  void start_polling() {
    if (model_.busy()) timer_->start();
  }

  void closeEvent(QCloseEvent* event) override {
    bool may = false;
    if constexpr (requires { model_.on_close_ready; }) may = closing_ || model_.close();
    else if constexpr (requires { model_.can_close(); }) may = model_.can_close();
    else may = model_.close();
    if (!may) {
      event->ignore();
      start_polling();  // a job the close stopped ends on a later tick
      return;
    }
    event->accept();
    tell_closed_once(&closed_);
  }
  void reject() override { close(); }

  Model model_;
  std::function<void()> closed_;
  bool closing_ = false;
  QTimer* timer_ = nullptr;
};
