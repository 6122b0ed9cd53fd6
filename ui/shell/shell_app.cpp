#include "ui/shell/shell_app.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <string>
#include <vector>
#include <cstdio>

#include "app/shell/clip_drag.h"
#include "app/shell/clipboard_model.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "app/shell/sound_output.h"
#include "platform/qt_audio_sink.h"
#include "platform/qt_services.h"
#include "ui/shell/clipboard_window.h"
#include "ui/shell/function_keys.h"
#include "ui/shell/main_window.h"

namespace {

int term_pipe[2] = {-1, -1};

void on_term(int) {
  const char c = 1;
  // Nothing else is safe in a signal handler: the event loop takes over.
  [[maybe_unused]] const ssize_t n = ::write(term_pipe[1], &c, 1);
}

// SIGTERM closes the main window as the user would, through the event
// loop. Caught from the first moment: a signal that comes before the
// window waits in the pipe.
void catch_terminate() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, term_pipe) != 0) return;
  struct sigaction sa = {};
  sa.sa_handler = on_term;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
}

void watch_terminate(MainWindow* main) {
  if (term_pipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(term_pipe[0], QSocketNotifier::Read, main);
  QObject::connect(notifier, &QSocketNotifier::activated, main, [main] {
    char c;
    [[maybe_unused]] const ssize_t n = ::read(term_pipe[0], &c, 1);
    main->close();
  });
}

// The clipboard's frame stays while the program runs: only the exit
// closes it.
class KeepOpen : public QObject {
 public:
  KeepOpen(QWidget* main, QObject* parent) : QObject(parent), main_(main) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close && main_->isVisible()) {
      event->ignore();
      return true;
    }
    return false;
  }

 private:
  QWidget* main_;
};

// The Video Clipboard: its window, its files in the configuration folder,
// the editors' copies, and clips dropped on the main window.
void install_clipboard(CEditorApp* app, MainWindow* main, VideoClipboard* board) {
  auto* window = new ClipboardWindow(board, [app](const EClip& clip) { return app->open_clipboard_clip(clip); });
  QMdiSubWindow* sub = main->add_child_window(window, QStringLiteral("Video Clipboard"));
  sub->setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
  sub->installEventFilter(new KeepOpen(main, sub));
  sub->setGeometry(0, 0, 120, 260);
  sub->show();
  window->add_commands(&main->commands());
  const std::string folder = editor_settings().program_folder;
  const std::string list = folder.empty() ? std::string() : folder + "/mpeg-tamsel.vls";
  const std::string strip = folder.empty() ? std::string() : folder + "/mpeg-tamsel.bmp";
  if (!list.empty()) board->read_project_list(list, strip);
  app->set_copy_handler([board](EditorEntry* entry) { copy_to_clipboard(entry, board); });
  app->set_clipboard_writer([board, list, strip] {
    std::string error;
    if (!list.empty() && !board->write_project_list(list, strip, &error))
      platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, error);
  });
  main->set_clip_drop_handler([window](const ClipDragPayload& payload) {
    if (payload.view_id != window->view_id() || !window->board()->row(payload.row)) return false;
    window->open_row(payload.row);
    return true;
  });
}

}  // namespace

int run_tamsel(int argc, char** argv) {
  catch_terminate();
  QApplication qt(argc, argv);
  // Numbers in the files the program keeps do not follow the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  QtPlatform platform_services;
  set_audio_device_factory([] { return std::make_unique<QtAudioSink>(); });

  CEditorApp app(&MpegEditorAdapter::open);
  app.set_clip_factory(&MpegEditorAdapter::from_clip);
  std::string error;
  if (!app.init_instance(&error))
    std::fprintf(stderr, "tamsel: no configuration folder (%s): default settings, not saved\n", error.c_str());

  // Outlives the main window, whose clipboard window shows it.
  VideoClipboard board(&MpegEditorAdapter::from_clip);
  MainWindow main(&app);
  FunctionKeyFilter keys(&main);
  qt.installEventFilter(&keys);
  watch_terminate(&main);
  main.restore_geometry_from_settings();
  install_clipboard(&app, &main, &board);
  main.show();
  // The files open once the event loop runs, so that a message box among
  // them and a SIGTERM meanwhile are handled like any later ones.
  std::vector<std::string> files(argv + 1, argv + argc);
  QMetaObject::invokeMethod(
      &main,
      [&app, &main, files] {
        for (const std::string& f : files) {
          if (!main.isVisible()) break;  // closed meanwhile
          app.open_input_file(f, 0, 0, 0);
        }
      },
      Qt::QueuedConnection);

  const int rc = qt.exec();
  qt.removeEventFilter(&keys);
  main.mdi_area()->closeAllSubWindows();
  app.exit_instance();
  set_audio_device_factory(nullptr);
  return rc;
}
