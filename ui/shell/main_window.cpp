#include "ui/shell/main_window.h"
#include "ui/shell/options_sheet.h"

#include <algorithm>

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "app/shell/clip_drag.h"
#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/program_title.h"
#include "platform/dsaudio.h"
#include "ui/shell/about_dialog.h"
#include "ui/shell/editor_window.h"
#include "ui/editor/player_pane.h"

// Resources of a static library are registered by hand, outside any
// namespace.
static void init_icon_resources() { Q_INIT_RESOURCE(icons); }

namespace {

constexpr const char* kHelpIndex = "help.chm::/htm/chap00-1.htm";

QIcon program_icon(const char* name) { return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name))); }

}  // namespace

MainWindow::MainWindow(CEditorApp* app, QWidget* parent) : QMainWindow(parent), app_(app) {
  init_icon_resources();
  setObjectName(QStringLiteral("main_window"));
  setWindowIcon(program_icon("tamsel"));
  mdi_ = new QMdiArea(this);
  mdi_->setObjectName(QStringLiteral("mdi_area"));
  setCentralWidget(mdi_);
  connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { update_title(); });
  commands_.add(cmd::kExit, [this] { close(); });
  for (int id : {cmd::kHelpTopics, cmd::kHelp, cmd::kContextHelp, cmd::kDefaultHelp})
    commands_.add(id, [] { show_help(kHelpIndex); });
  commands_.add(cmd::kAbout, [this] {
    AboutDialog about(this);
    about.exec();
  });
  build_bars();
  build_menus();
  update_title();
  setAcceptDrops(true);
  // Bar buttons follow their commands' rules while the program idles.
  auto* updates = new QTimer(this);
  connect(updates, &QTimer::timeout, this, &MainWindow::update_commands);
  updates->start(250);
  update_commands();
  app_->set_window_host(this);
  app_->set_volume_display([this](int v) { show_volume(v); });
  app_->set_timer_starter([this](int ms, std::function<void()> tick) { QTimer::singleShot(ms, this, tick); });
  app_->UpdateVolumeSlider();
}

MainWindow::~MainWindow() {
  if (app_) {
    app_->set_window_host(nullptr);
    app_->set_volume_display(nullptr);
    app_->set_timer_starter(nullptr);
  }
}

void MainWindow::add_bar_command(QToolBar* bar, int id, const char* icon, const QString& tip) {
  auto* a = new QAction(program_icon(icon), tip, bar);
  a->setObjectName(QString::fromStdString("b" + std::to_string(id)));
  a->setToolTip(tip);
  a->setStatusTip(tip);
  connect(a, &QAction::triggered, this, [this, id] { run_command(id); });
  bar->addAction(a);
  actions_.emplace_back(id, a);
}

void MainWindow::build_bars() {
  main_bar_ = new QToolBar(QStringLiteral("Main Control"), this);
  main_bar_->setObjectName(QStringLiteral("main_control"));
  main_bar_->setAllowedAreas(Qt::TopToolBarArea);
  add_bar_command(main_bar_, cmd::kOpenMovie, "open", QStringLiteral("Open MPEG movie and Editor Project"));
  add_bar_command(main_bar_, cmd::kLoadProject, "load_project",
                  QStringLiteral("Load Editor Project to Video Clipboard"));
  add_bar_command(main_bar_, cmd::kSaveClipboard, "save_project",
                  QStringLiteral("Save Video Clipboard to Editor Project"));
  main_bar_->addSeparator();
  add_bar_command(main_bar_, cmd::kHelpTopics, "help", QStringLiteral("Help Topics"));
  add_bar_command(main_bar_, cmd::kAbout, "about", QStringLiteral("About MPEG-Tamsel"));

  tools_bar_ = new QToolBar(QStringLiteral("Tools Control"), this);
  tools_bar_->setObjectName(QStringLiteral("tools_control"));
  add_bar_command(tools_bar_, cmd::kMultiplexer, "multiplexer", QStringLiteral("MPEG Multiplexer (F2)"));
  add_bar_command(tools_bar_, cmd::kDemultiplexer, "demultiplexer", QStringLiteral("MPEG DeMultiplexer (F3)"));
  add_bar_command(tools_bar_, cmd::kStreamConvertor, "convertor",
                  QStringLiteral("MPEG Systems Stream Convertor (F4)"));
  add_bar_command(tools_bar_, cmd::kBatchSave, "batch_save", QStringLiteral("Batch Save Manager (F5)"));
  add_bar_command(tools_bar_, cmd::kVideoClipList, "clip_list", QStringLiteral("Video Clip List (F6)"));
  add_bar_command(tools_bar_, cmd::kGopFixer, "gop_fixer", QStringLiteral("MPEG Video GOP Fixer (F7)"));
  add_bar_command(tools_bar_, cmd::kMbsScan, "mbs_scan", QStringLiteral("MPEG MBS Scan"));

  // The audio bar's second place holds the volume slider.
  audio_bar_ = new QToolBar(QStringLiteral("Audio Control"), this);
  audio_bar_->setObjectName(QStringLiteral("audio_control"));
  add_bar_command(audio_bar_, cmd::kAudioPlayer, "audio_player", QStringLiteral("MPEG Audio Player + Editor"));
  volume_ = new QSlider(Qt::Horizontal, audio_bar_);
  volume_->setObjectName(QString::fromStdString(control_name(cmd::kVolumeSlider)));
  volume_->setRange(0, 80);
  volume_->setPageStep(10);
  volume_->setTickInterval(10);
  volume_->setTickPosition(QSlider::TicksBelow);
  volume_->setFixedWidth(120);
  volume_->setToolTip(QStringLiteral("Audio Volume"));
  volume_->setStatusTip(QStringLiteral("Audio Volume"));
  connect(volume_, &QSlider::valueChanged, this, [](int v) { audio_volume = v; });
  audio_bar_->addWidget(volume_);
  add_bar_command(audio_bar_, cmd::kAudioConfigure, "audio_config", QStringLiteral("Audio Configure"));

  addToolBar(Qt::TopToolBarArea, main_bar_);
  addToolBar(Qt::TopToolBarArea, tools_bar_);
  addToolBar(Qt::TopToolBarArea, audio_bar_);

  // Status bar: a stretching message pane, a narrow sunken one, a 200-pixel one.
  auto* pane1 = new QLabel(this);
  pane1->setObjectName(QStringLiteral("status_pane1"));
  pane1->setFixedWidth(8);
  pane1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* pane2 = new QLabel(this);
  pane2->setObjectName(QStringLiteral("status_pane2"));
  pane2->setFixedWidth(200);
  statusBar()->addPermanentWidget(pane1);
  statusBar()->addPermanentWidget(pane2);

  auto toggle = [this](int id, QToolBar* bar) {
    commands_.add(
        id, [bar] { bar->setVisible(bar->isHidden()); }, [bar] { return CommandState{true, !bar->isHidden()}; });
  };
  commands_.add(cmd::kOptions, [this] {
    OptionsSheet sheet(&editor_settings(), this);
    sheet.exec();
  });
  toggle(cmd::kViewToolbar, main_bar_);
  toggle(cmd::kViewTools, tools_bar_);
  toggle(cmd::kViewAudio, audio_bar_);
  commands_.add(
      cmd::kViewStatusBar, [this] { statusBar()->setVisible(statusBar()->isHidden()); },
      [this] { return CommandState{true, !statusBar()->isHidden()}; });
}

void MainWindow::show_volume(int v) {
  v = std::clamp(v, 0, 80);
  if (volume_ && volume_->value() != v) volume_->setValue(v);
  if (audio_volume.load() != v) audio_volume = v;
}

bool MainWindow::is_child_zoomed() const {
  QMdiSubWindow* sub = mdi_->activeSubWindow();
  return sub && sub->isMaximized();
}

void MainWindow::build_menus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  add_command_action(file, cmd::kOpenMovie, QStringLiteral("&Open MPEG movie and Editor Project ..."),
                     QKeySequence(Qt::CTRL | Qt::Key_O));
  add_command_action(file, cmd::kLoadProject, QStringLiteral("&Load Editor Project to Video Clipboard ..."),
                     QKeySequence(Qt::CTRL | Qt::Key_L));
  add_command_action(file, cmd::kSaveClipboard, QStringLiteral("&Save Video Clipboard to Editor Project ..."),
                     QKeySequence(Qt::CTRL | Qt::Key_S));
  file->addSeparator();
  add_command_action(file, cmd::kExit, QStringLiteral("E&xit"));

  QMenu* view = menuBar()->addMenu(tr("&View"));
  add_command_action(view, cmd::kViewToolbar, QStringLiteral("&Toolbar"));
  add_command_action(view, cmd::kViewStatusBar, QStringLiteral("&Status Bar"));
  add_command_action(view, cmd::kViewTools, QStringLiteral("&Tools"));
  add_command_action(view, cmd::kViewAudio, QStringLiteral("&Audio"));
  view->addSeparator();
  add_command_action(view, cmd::kClipIcons, QStringLiteral("Clip &Icons"));
  add_command_action(view, cmd::kDetailsReport, QStringLiteral("Details &Report"));

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  add_command_action(tools, cmd::kMultiplexer, QStringLiteral("Multiplexer\tF2"));
  add_command_action(tools, cmd::kDemultiplexer, QStringLiteral("DeMultiplexer\tF3"));
  add_command_action(tools, cmd::kStreamConvertor, QStringLiteral("Stream Convertor\tF4"));
  add_command_action(tools, cmd::kBatchSave, QStringLiteral("Batch Save Manager\tF5"));
  add_command_action(tools, cmd::kVideoClipList, QStringLiteral("Video Clip List\tF6"));
  add_command_action(tools, cmd::kGopFixer, QStringLiteral("GOP Fixer\tF7"));
  add_command_action(tools, cmd::kMbsScan, QStringLiteral("MPEG MBS Scan"));
  tools->addSeparator();
  add_command_action(tools, cmd::kAudioPlayer, QStringLiteral("MPEG Audio Player + Editor"));
  add_command_action(tools, cmd::kAudioConfigure, QStringLiteral("&Configure"));
  tools->addSeparator();
  add_command_action(tools, cmd::kOptions, QStringLiteral("Options..."));
  add_command_action(tools, cmd::kResetOptions, QStringLiteral("Reset Options to Initial Values"));

  QMenu* window = menuBar()->addMenu(tr("&Window"));
  QAction* close_one = window->addAction(tr("Cl&ose"), mdi_, &QMdiArea::closeActiveSubWindow);
  close_one->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
  window->addAction(tr("Close &All"), mdi_, &QMdiArea::closeAllSubWindows);
  window->addSeparator();
  window->addAction(tr("&Cascade"), mdi_, &QMdiArea::cascadeSubWindows);
  window->addAction(tr("&Tile"), mdi_, &QMdiArea::tileSubWindows);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  add_command_action(help, cmd::kHelpTopics, QStringLiteral("&Help Topics"), QKeySequence(Qt::Key_F1));
  help->addSeparator();
  add_command_action(help, cmd::kAbout, QStringLiteral("&About MPEG-Tamsel..."));
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
  sub->setWindowIcon(windowIcon());
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
  window->setWindowIcon(windowIcon());
  // A child's own keys act on the focused child only: as window-wide
  // shortcuts of every child they would cancel out. Ctrl+F4 is the main
  // window's (it closes the active child wherever the focus is).
  if (QMenu* menu = window->systemMenu())
    for (QAction* a : menu->actions()) {
      if (a->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_F4)) a->setShortcut(QKeySequence());
      a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    }
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

bool MainWindow::stop_playback_and_find_jobs() {
  bool running = false;
  for (QMdiSubWindow* sub : mdi_->subWindowList())
    if (auto* w = qobject_cast<EditorWindow*>(sub))
      if (EditorView* v = w->view()) {
        v->stop_playback();
        running = v->job_running() || running;
      }
  return running;
}

bool MainWindow::client_size(int* width, int* height) {
  const QSize size = mdi_->viewport()->size();
  *width = size.width();
  *height = size.height();
  return true;
}

bool MainWindow::drop_clip(const std::string& drag, const QPoint& p) {
  ClipDragPayload payload;
  if (!decode_clip_drag(drag, &payload)) return false;
  // The frame's client area holds the main bar above the editor windows.
  const int bar = main_bar_->isVisible() && toolBarArea(main_bar_) == Qt::TopToolBarArea ? main_bar_->height() : 0;
  const QSize client = mdi_->viewport()->size();
  app_->place_clip_drop(p.x(), p.y() + bar, bar, client.width(), client.height() + bar);
  return clip_drop_ && clip_drop_(payload);
}

void MainWindow::drop_urls(const QList<QUrl>& urls) {
  std::vector<std::string> paths;
  for (const QUrl& u : urls)
    if (u.isLocalFile()) paths.push_back(u.toLocalFile().toStdString());
  app_->open_dropped_files(paths);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* m = event->mimeData();
  if (m->hasUrls() || m->hasFormat(QLatin1String(kClipDragMimeType))) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void MainWindow::dropEvent(QDropEvent* event) {
  const QMimeData* m = event->mimeData();
  if (m->hasFormat(QLatin1String(kClipDragMimeType))) {
    const QPoint p = mdi_->viewport()->mapFrom(this, event->position().toPoint());
    if (drop_clip(m->data(QLatin1String(kClipDragMimeType)).toStdString(), p)) event->acceptProposedAction();
    return;
  }
  if (m->hasUrls()) {
    event->acceptProposedAction();
    const QList<QUrl> urls = m->urls();
    // Message boxes of the open road must not run inside the drag's loop.
    QMetaObject::invokeMethod(this, [this, urls] { drop_urls(urls); }, Qt::QueuedConnection);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  EditorSettings& s = editor_settings();
  s.window_zoomed = isMaximized() ? 1 : 0;
  store_geometry();
  // The check's questions stand alone; a maximised editor is restored first.
  const bool had_child = mdi_->activeSubWindow() != nullptr;
  if (had_child) {
    if (QMdiSubWindow* sub = mdi_->activeSubWindow(); sub->isMaximized()) sub->showNormal();
    hide();
  }
  if (!app_->confirm_close()) {
    if (had_child) show();
    event->ignore();
    return;
  }
  mdi_->closeAllSubWindows();
  // A window that refused to close keeps the program open.
  for (QMdiSubWindow* sub : mdi_->subWindowList())
    if (qobject_cast<EditorWindow*>(sub)) {
      show();
      event->ignore();
      return;
    }
  // Tool windows close through their own close path, which writes their
  // files; a parentless one would otherwise keep the program running.
  app_->tools().close_all();
  event->accept();
}
