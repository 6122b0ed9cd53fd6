#include "ui/shell/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/program_title.h"
#include "ui/shell/editor_window.h"
#include "ui/editor/player_pane.h"

MainWindow::MainWindow(CEditorApp* app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setObjectName(QStringLiteral("main_window"));
  mdi_ = new QMdiArea(this);
  mdi_->setObjectName(QStringLiteral("mdi_area"));
  setCentralWidget(mdi_);
  connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { update_title(); });
  commands_.add(cmd::kExit, [this] { close(); });
  commands_.add(cmd::kHelpTopics, [] { show_help("help.chm::/htm/chap00-1.htm"); });
  build_menus();
  update_title();
  app_->set_window_host(this);
}

MainWindow::~MainWindow() {
  if (app_) app_->set_window_host(nullptr);
}

void MainWindow::build_menus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  add_command_action(file, cmd::kOpenMovie, QStringLiteral("&Open MPEG movie and Editor Project ..."),
                     QKeySequence(Qt::CTRL | Qt::Key_O));
  file->addSeparator();
  add_command_action(file, cmd::kExit, QStringLiteral("E&xit"));

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  add_command_action(tools, cmd::kMultiplexer, QStringLiteral("Multiplexer\tF2"));
  add_command_action(tools, cmd::kDemultiplexer, QStringLiteral("DeMultiplexer\tF3"));
  add_command_action(tools, cmd::kStreamConvertor, QStringLiteral("Stream Convertor\tF4"));
  add_command_action(tools, cmd::kBatchSave, QStringLiteral("Batch Save Manager\tF5"));
  add_command_action(tools, cmd::kVideoClipList, QStringLiteral("Video Clip List\tF6"));
  add_command_action(tools, cmd::kGopFixer, QStringLiteral("GOP Fixer\tF7"));
  tools->addSeparator();
  add_command_action(tools, cmd::kAudioPlayer, QStringLiteral("MPEG Audio Player + Editor"));
  tools->addSeparator();
  add_command_action(tools, cmd::kResetOptions, QStringLiteral("Reset Options to Initial Values"));

  QMenu* window = menuBar()->addMenu(tr("&Window"));
  window->addAction(tr("&Cascade"), mdi_, &QMdiArea::cascadeSubWindows);
  window->addAction(tr("&Tile"), mdi_, &QMdiArea::tileSubWindows);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  add_command_action(help, cmd::kHelpTopics, QStringLiteral("&Help Topics"));
}

QAction* MainWindow::add_command_action(QMenu* menu, int id, const QString& text, const QKeySequence& keys) {
  auto* a = new QAction(text, this);
  a->setObjectName(QString::fromStdString(action_name(id)));
  if (!keys.isEmpty()) a->setShortcut(keys);
  connect(a, &QAction::triggered, this, [this, id] { run_command(id); });
  menu->addAction(a);
  actions_.emplace_back(id, a);
  // Items follow their commands' rules whenever their menu opens.
  connect(menu, &QMenu::aboutToShow, this, &MainWindow::update_commands, Qt::UniqueConnection);
  return a;
}

CommandRoute MainWindow::route() const {
  CommandRoute r;
  if (QMdiSubWindow* sub = mdi_->activeSubWindow())
    if (auto* v = dynamic_cast<EditorView*>(sub->widget())) r.push_back(v->command_target());
  r.push_back(&commands_);
  r.push_back(&app_->commands());
  return r;
}

bool MainWindow::run_command(int id) { return route_command(route(), id); }

CommandState MainWindow::command_state(int id) const { return route_update(route(), id); }

void MainWindow::update_commands() {
  for (auto& [id, action] : actions_) {
    const CommandState s = command_state(id);
    action->setEnabled(s.enabled);
    if (s.checked != action->isChecked()) {
      action->setCheckable(true);
      action->setChecked(s.checked);
    }
  }
}

void MainWindow::update_title() {
  std::string editor;
  if (QMdiSubWindow* sub = mdi_->activeSubWindow())
    if (auto* w = qobject_cast<EditorWindow*>(sub))
      if (w->entry()) editor = w->entry()->title;
  setWindowTitle(QString::fromStdString(main_window_title(editor)));
}

QMdiSubWindow* MainWindow::add_child_window(QWidget* widget, const QString& title) {
  QMdiSubWindow* sub = mdi_->addSubWindow(widget);
  sub->setWindowTitle(title);
  sub->show();
  return sub;
}

QMdiSubWindow* MainWindow::editor_window(const EditorEntry* entry) const {
  for (QMdiSubWindow* sub : mdi_->subWindowList())
    if (auto* w = qobject_cast<EditorWindow*>(sub))
      if (w->entry() == entry) return w;
  return nullptr;
}

bool MainWindow::create_editor_window(EditorEntry* entry, int x, int y) {
  if (auto* active = qobject_cast<EditorWindow*>(mdi_->activeSubWindow()))
    if (EditorView* v = active->view()) v->stop_playback();
  QWidget* view = view_factory_ ? view_factory_(entry, nullptr) : new PlayerPane(entry);
  if (!view) return false;
  auto* window = new EditorWindow(app_, entry, view);
  mdi_->addSubWindow(window);
  // The picture's size, at least 352 x 240, inside the frame's margins.
  const QSize inner = view->sizeHint().expandedTo(QSize(352, 240));
  window->resize(inner + (window->size() - window->contentsRect().size()));
  window->move(x, y);
  window->show();
  mdi_->setActiveSubWindow(window);
  view->setFocus(Qt::OtherFocusReason);
  update_title();
  return true;
}

bool MainWindow::editor_window_position(const EditorEntry* entry, int* x, int* y) {
  QMdiSubWindow* w = editor_window(entry);
  if (!w) return false;
  *x = w->x();
  *y = w->y();
  return true;
}

void MainWindow::restore_geometry_from_settings() {
  const EditorSettings& s = editor_settings();
  const int32_t* r = s.window_rect;
  setGeometry(r[0], r[1], r[2] - r[0], r[3] - r[1]);
  if (s.window_zoomed) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::store_geometry() {
  EditorSettings& s = editor_settings();
  if (isMaximized() || isMinimized() || !isVisible()) return;
  const QRect g = geometry();
  s.window_rect[0] = g.left();
  s.window_rect[1] = g.top();
  s.window_rect[2] = g.left() + g.width();
  s.window_rect[3] = g.top() + g.height();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  store_geometry();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  store_geometry();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  EditorSettings& s = editor_settings();
  s.window_zoomed = isMaximized() ? 1 : 0;
  store_geometry();
  mdi_->closeAllSubWindows();
  // A window that refused to close keeps the program open.
  for (QMdiSubWindow* sub : mdi_->subWindowList())
    if (qobject_cast<EditorWindow*>(sub)) {
      event->ignore();
      return;
    }
  event->accept();
}
