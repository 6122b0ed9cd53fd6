#include "ui/shell/editor_window.h"

#include <QCloseEvent>

#include "app/shell/editor_app.h"
#include "ui/shell/editor_view.h"

EditorWindow::EditorWindow(CEditorApp* app, EditorEntry* entry, QWidget* view, QWidget* parent)
    : QMdiSubWindow(parent), app_(app), entry_(entry) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("editor_window"));
  setWidget(view);
  setWindowTitle(QString::fromStdString(entry->title));
}

EditorView* EditorWindow::view() const { return dynamic_cast<EditorView*>(widget()); }

void EditorWindow::closeEvent(QCloseEvent* event) {
  if (entry_) {
    if (EditorView* v = view(); v && !v->may_close()) {
      event->ignore();
      return;
    }
    if (EditorView* v = view()) v->detach_editor();
    EditorEntry* e = entry_;
    entry_ = nullptr;
    e->kind = EditorEntry::kClosing;
    app_->editor_callback(e);
  }
  QMdiSubWindow::closeEvent(event);
}
