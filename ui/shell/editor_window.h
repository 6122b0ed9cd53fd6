// An editor window: an MDI child holding one editor entry's view. Closing
// it tells the application, which deletes the editor.
#pragma once

#include <QMdiSubWindow>

struct EditorEntry;
class CEditorApp;
class EditorView;

class EditorWindow : public QMdiSubWindow {
  Q_OBJECT

 public:
  EditorWindow(CEditorApp* app, EditorEntry* entry, QWidget* view, QWidget* parent = nullptr);
  EditorEntry* entry() const { return entry_; }
  EditorView* view() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CEditorApp* app_;
  EditorEntry* entry_;
};
