// Shows an editor's current frame: the display bitmap drawn over the
// whole view, grey where there is no picture.
#pragma once

#include <QWidget>

#include "ui/shell/editor_view.h"

class IEditor;

class FrameView : public QWidget, public EditorView {
  Q_OBJECT

 public:
  FrameView(IEditor* editor, QWidget* parent = nullptr);
  // The editor goes before the window does: nothing is drawn from then.
  void detach_editor() override { editor_ = nullptr; }
  IEditor* editor() const { return editor_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  IEditor* editor_;
};
