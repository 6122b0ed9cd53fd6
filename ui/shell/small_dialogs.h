// The widgets of the A/V synchronization, field order and compatibility
// caution dialogs over their models (app/shell/small_dialogs.h).
#pragma once

#include <QDialog>

#include "app/shell/small_dialogs.h"

class QLabel;
class QLineEdit;
class QSlider;

class AVSyncDialog : public QDialog {
 public:
  AVSyncDialog(CAVSyncDlg* model, QWidget* parent = nullptr);
  ~AVSyncDialog() override;
  void refresh();

 private:
  CAVSyncDlg* model_;
  QLineEdit* offset_;
  QLineEdit* range_;
  QSlider* slider_;
  QLabel* left_;
  QLabel* right_;
  bool writing_ = false;  // one control writing the other
};

class FieldOrderDialog : public QDialog {
 public:
  FieldOrderDialog(CFieldOrderDlg* model, QWidget* parent = nullptr);
};

class CompatCautionDialog : public QDialog {
 public:
  CompatCautionDialog(CCompatCautionDlg* model, QWidget* parent = nullptr);
};
