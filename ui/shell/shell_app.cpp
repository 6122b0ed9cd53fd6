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
#include "ui/shell/save_progress_window.h"
#include "ui/tools/tool_windows.h"
#include "ui/audio/audio_player_tool.h"
#include "ui/shell/clipboard_window.h"
#include "ui/shell/function_keys.h"
#include "ui/tools/clip_list_dialog.h"
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

}  // namespace

int run_tamsel(int argc, char** argv) {
  catch_terminate();
  QApplication qt(argc, argv);
  // Numbers in the files the program keeps do not follow the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  QtPlatform platform_services;
  set_audio_device_factory([] { return std::make_unique<QtAudioSink>(); });
  SaveProgressWidget::install();

  CEditorApp app(&MpegEditorAdapter::open);
  app.set_clip_factory(&MpegEditorAdapter::from_clip);
  register_audio_player(&app);
  std::string error;
  if (!app.init_instance(&error))
    std::fprintf(stderr, "tamsel: no configuration folder (%s): default settings, not saved\n", error.c_str());

  // Outlives the main window, whose clipboard window shows it.
  VideoClipboard board(&MpegEditorAdapter::from_clip);
  MainWindow main(&app);
  register_tool_windows(&app, &main);
  FunctionKeyFilter keys(&main);
  qt.installEventFilter(&keys);
  watch_terminate(&main);
  main.restore_geometry_from_settings();
  install_clipboard(&app, &main, &board);
  install_clip_list(&app, &main);
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
