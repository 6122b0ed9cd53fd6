// What the main window asks of the widget inside an editor window.
#pragma once

#include "app/shell/commands.h"

class EditorView {
 public:
  virtual ~EditorView() = default;
  // The view's commands: first on the route while its window is active
  // (null: none).
  virtual const CommandTarget* command_target() const { return nullptr; }
  // The editor goes (its window is closing): drop every use of it.
  virtual void detach_editor() = 0;
  // Another editor window opens, or the program closes: playback stops.
  virtual void stop_playback() {}
  // Whether a save or a GOP trim of the window still runs.
  virtual bool job_running() const { return false; }
  // The window's close check: false (after the message) while a job of
  // the window cannot be collected.
  virtual bool may_close() { return true; }
};
