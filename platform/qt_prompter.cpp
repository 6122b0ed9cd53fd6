#include <QApplication>
#include <QMessageBox>

#include "foundation/trace.h"
#include "platform/qt_services.h"

PromptAnswer QtPrompter::message(PromptIcon icon, PromptButtons buttons, const std::string& text,
                                 const std::string& caption) {
  // What the user was told, for a look at the log afterwards.
  trace("message box: %s", text.c_str());
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromStdString(caption.empty() ? std::string(kPromptCaption) : caption));
  box.setText(QString::fromStdString(text));
  switch (icon) {
    case PromptIcon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case PromptIcon::Exclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case PromptIcon::Stop:
      box.setIcon(QMessageBox::Critical);
      break;
    case PromptIcon::Question:
      box.setIcon(QMessageBox::Question);
      break;
    case PromptIcon::None:
      break;
  }
  QMessageBox::StandardButtons set;
  switch (buttons) {
    case PromptButtons::Ok:
      set = QMessageBox::Ok;
      break;
    case PromptButtons::OkCancel:
      set = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case PromptButtons::YesNo:
      set = QMessageBox::Yes | QMessageBox::No;
      break;
    case PromptButtons::YesNoCancel:
      set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
    case PromptButtons::AbortRetryIgnore:
      set = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
      break;
    case PromptButtons::RetryCancel:
      set = QMessageBox::Retry | QMessageBox::Cancel;
      break;
  }
  box.setStandardButtons(set);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return PromptAnswer::Ok;
    case QMessageBox::Yes:
      return PromptAnswer::Yes;
    case QMessageBox::No:
      return PromptAnswer::No;
    case QMessageBox::Abort:
      return PromptAnswer::Abort;
    case QMessageBox::Retry:
      return PromptAnswer::Retry;
    case QMessageBox::Ignore:
      return PromptAnswer::Ignore;
    default:
      return PromptAnswer::Cancel;
  }
}
