// F2 to F7 open and close the tool windows from any window of the
// program; the key still goes on to the window it was meant for.
#pragma once

#include <QObject>

class MainWindow;

class FunctionKeyFilter : public QObject {
  Q_OBJECT

 public:
  explicit FunctionKeyFilter(MainWindow* main, QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  MainWindow* main_;
};
