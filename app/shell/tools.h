// The single-instance tool windows (multiplexer, demultiplexer, convertor,
// batch save, clip list, GOP fixer, audio player...): made by a factory
// registered under the tool's command id, held while open, forgotten when
// the window reports it closed. A tool without a factory keeps its
// command disabled.
#pragma once

#include <functional>
#include <map>

// What the registry asks of an open tool window.
class ToolWindow {
 public:
  virtual ~ToolWindow() = default;
  // Whether a job of the tool runs (a busy tool is not closed by its
  // command).
  virtual bool is_busy() const { return false; }
  // Asks the window to close; it reports back through its closed callback.
  virtual void close() = 0;
};

// What the command does while its tool is open.
enum class ToolRerun {
  CloseUnlessBusy,  // multiplexer, demultiplexer, convertor, GOP fixer, batch save
  CloseAlways,      // video clip list
  Nothing,          // audio player
};

class ToolRegistry {
 public:
  // Makes and shows the tool window; it calls closed() once when it goes.
  // Null when it could not be made.
  using Factory = std::function<ToolWindow*(std::function<void()> closed)>;

  void add(int id, Factory factory, ToolRerun rerun);
  bool has_factory(int id) const;
  bool is_open(int id) const;
  ToolWindow* window(int id) const;
  // The tool's command: opens it when closed, else what its rerun rule
  // says. true when a window was opened.
  bool run(int id);
  // Enabled while a factory exists and the tool is closed.
  bool enabled(int id) const;
  // Closes every open tool (at exit).
  void close_all();

 private:
  struct Tool {
    Factory factory;
    ToolRerun rerun = ToolRerun::CloseUnlessBusy;
    ToolWindow* open = nullptr;
    int generation = 0;  // tells a stale closed() from the current window's
    int closed = 0;      // generation of the last window that closed
  };
  std::map<int, Tool> tools_;
};
