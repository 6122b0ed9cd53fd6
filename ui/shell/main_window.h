// The main window: the editor windows inside an MDI area, the menus of
// the application's commands, the title with the active editor's name.
// It makes the editor windows the application asks for.
#pragma once

#include <QMainWindow>
#include <QUrl>
#include <functional>
#include <string>

#include "app/shell/commands.h"
#include "app/shell/editor_app.h"
#include "ui/shell/editor_view.h"

class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QAction;
class QSlider;
class QToolBar;
class QLabel;
struct ClipDragPayload;

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
  bool stop_playback_and_find_jobs() override;
  bool client_size(int* width, int* height) override;

  // The bars: "Main Control", "Tools Control", "Audio Control".
  QToolBar* main_bar() const { return main_bar_; }
  QToolBar* tools_bar() const { return tools_bar_; }
  QToolBar* audio_bar() const { return audio_bar_; }
  // The volume slider (0..80) on the audio bar.
  QSlider* volume_slider() const { return volume_; }
  // Shows v (clamped to 0..80) on the slider and keeps it as the volume.
  void show_volume(int v);
  // Whether the active editor window is maximised.
  bool is_child_zoomed() const;

  // Opens the row of a clip list that a clip dragged onto this window
  // names; false when no list has that row.
  using ClipDropHandler = std::function<bool(const ClipDragPayload& payload)>;
  void set_clip_drop_handler(ClipDropHandler handler) { clip_drop_ = std::move(handler); }
  // A clip dropped at a point of the MDI area: the next editor window is
  // placed there, then the clip's list opens the row. false when refused.
  bool drop_clip(const std::string& drag, const QPoint& mdi_point);
  // Local files dropped from the desktop (text/uri-list).
  void drop_urls(const QList<QUrl>& urls);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void build_menus();
  void build_bars();
  void add_bar_command(QToolBar* bar, int id, const char* icon, const QString& tip);
  void update_title();
  void store_geometry();
  CommandRoute route() const;
  CEditorApp* app_;
  QMdiArea* mdi_;
  CommandTarget commands_;
  EditorViewFactory view_factory_;
  std::vector<std::pair<int, QAction*>> actions_;
  QToolBar* main_bar_ = nullptr;
  QToolBar* tools_bar_ = nullptr;
  QToolBar* audio_bar_ = nullptr;
  QSlider* volume_ = nullptr;
  ClipDropHandler clip_drop_;
};
