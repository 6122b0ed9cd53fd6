// The Save dialog's widgets over CSaveDlg: focus starts in File Name and
// Save is the default button; every rule is the model's.
#pragma once

#include <QDialog>

#include "app/editor/save_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class SaveDialogWidget : public QDialog {
  Q_OBJECT

 public:
  SaveDialogWidget(CSaveDlg* model, QWidget* parent = nullptr);
  ~SaveDialogWidget() override;
  // Shows the model's fields.
  void refresh();

 public slots:
  void accept() override;

 private:
  CSaveDlg* model_;
  QLineEdit* name_;
  QLineEdit* start_;
  QLineEdit* length_;
  QPushButton* toggle_;
  QRadioButton* kinds_[kSaveButtonCount];
  QLabel* estimate_;
  QComboBox* disks_;
  QPushButton* save_;
  QPushButton* video_;
  QPushButton* audio_;
  QPushButton* batch_;
  QPushButton* select_pid_;
};
