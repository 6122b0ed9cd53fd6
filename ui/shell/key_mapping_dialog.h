// The "Keyboard Key Mapping" dialog over KeyMappingModel: one box per
// player command (named "key<code>"), OK only; Escape asks before dropping
// changes.
#pragma once

#include <QDialog>

#include "app/shell/key_mapping.h"

class KeyMappingDialog : public QDialog {
  Q_OBJECT

 public:
  explicit KeyMappingDialog(const EditorSettings& keys, QWidget* parent = nullptr);
  KeyMappingModel& model() { return model_; }
  void reject() override;

 private:
  KeyMappingModel model_;
};
