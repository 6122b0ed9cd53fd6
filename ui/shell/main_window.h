// The main window: the editor windows inside an MDI area, the menus of
// the application's commands, the title with the active editor's name.
// It makes the editor windows the application asks for.
#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

#include "app/shell/commands.h"
#include "app/shell/editor_app.h"
#include "ui/shell/editor_view.h"

class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QAction;

class MainWindow : public QMainWindow, public EditorWindowHost {
  Q_OBJECT

 public:
  // Makes the widget shown inside an editor window for its entry.
  using EditorViewFactory = std::function<QWidget*(EditorEntry* entry, QWidget* parent)>;

  explicit MainWindow(CEditorApp* app, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Places the window as the settings say (rectangle, maximised).
  void restore_geometry_from_settings();
  // The editor windows' inner widget; without one, the player.
  void set_editor_view_factory(EditorViewFactory factory) { view_factory_ = std::move(factory); }

  // Runs a command through the active editor's view, this window and the
  // application; false when nobody handles it.
  bool run_command(int id);
  CommandState command_state(int id) const;
  // The main window's own commands (between the views' and the
  // application's).
  CommandTarget& commands() { return commands_; }
  // A menu item running a command (object name "a<id>").
  QAction* add_command_action(QMenu* menu, int id, const QString& text, const QKeySequence& keys = {});
  // Sets every command action's enabled and checked state.
  void update_commands();

  QMdiArea* mdi_area() const { return mdi_; }
  // Another MDI child (the Video Clipboard and other child windows).
  QMdiSubWindow* add_child_window(QWidget* widget, const QString& title);
  // The editor window of an entry, or null.
  QMdiSubWindow* editor_window(const EditorEntry* entry) const;

  bool create_editor_window(EditorEntry* entry, int x, int y) override;
  bool editor_window_position(const EditorEntry* entry, int* x, int* y) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void build_menus();
  void update_title();
  void store_geometry();
  CommandRoute route() const;
  CEditorApp* app_;
  QMdiArea* mdi_;
  CommandTarget commands_;
  EditorViewFactory view_factory_;
  std::vector<std::pair<int, QAction*>> actions_;
};
