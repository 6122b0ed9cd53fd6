#include "ui/shell/function_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "app/shell/commands.h"
#include "ui/shell/key_codes.h"
#include "ui/shell/main_window.h"

FunctionKeyFilter::FunctionKeyFilter(MainWindow* main, QObject* parent) : QObject(parent), main_(main) {}

bool FunctionKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->isAutoRepeat()) return false;
  // A key event passes the filter once for every widget it propagates to:
  // act on its first receiver only.
  QWidget* first = QApplication::focusWidget();
  if (!first) first = QApplication::activeWindow();
  if (watched != first) return false;
  const Qt::KeyboardModifiers m = key->modifiers();
  const int id = function_key_command(vk_from_qt_key(key->key()), m & Qt::ControlModifier, m & Qt::ShiftModifier,
                                      m & Qt::AltModifier);
  if (id && main_) main_->run_command(id);
  return false;
}
