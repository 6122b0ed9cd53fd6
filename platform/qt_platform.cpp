#include <QDesktopServices>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QUrl>

#include "platform/qt_services.h"

bool QtDesktop::open_url(const std::string& url) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

int QtScreenInfo::depth() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->depth() : 24;
}

int QtScreenInfo::width() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().width() : 1024;
}

int QtScreenInfo::height() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().height() : 768;
}

void QtUiPost::post(std::function<void()> f) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || !f) return;
  QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

QtPlatform::QtPlatform() {
  previous_ = install_platform(
      {&prompter, &dialogs, &help, &desktop, &clock, &paths, &disk, &file_use, &screen, &post});
}

QtPlatform::~QtPlatform() { install_platform(previous_); }
