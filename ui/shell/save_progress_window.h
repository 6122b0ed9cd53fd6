// The progress window's widgets over CSaveProgressDlg: modeless, its
// own top-level window, found by its title (the output's path).
#pragma once

#include <QDialog>
#include <QTimer>

#include "app/shell/save_progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

class SaveProgressWidget : public QDialog, public SaveProgressWindow {
  Q_OBJECT

 public:
  explicit SaveProgressWidget(CSaveProgressDlg* model);
  void refresh() override;
  void start_close_timer(int ms) override;
  void destroy() override;

  // Installs the factory through which every progress window is made.
  static void install();

 protected:
  void reject() override;  // Escape and the title bar's close act as Stop
  void moveEvent(QMoveEvent* event) override;

 private:
  CSaveProgressDlg* model_;
  QLabel* job_;
  QLabel* percent_;
  QLabel* time_;
  QProgressBar* bar_;
  QPushButton* close_;
  QPushButton* stop_;
  QPushButton* pause_;
  QTimer close_timer_;
};
