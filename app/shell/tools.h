// The single-instance tool windows (multiplexer, demultiplexer, convertor,
// batch save, clip list, GOP fixer, audio player...): made by a factory
// registered under the tool's command id, held while open, forgotten when
// the window reports it closed. A tool without a factory keeps its
// command disabled.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// What the registry asks of an open tool window.
class ToolWindow {
 public:
  virtual ~ToolWindow() = default;
  // Whether a job of the tool runs (a busy tool is not closed by its
  // command).
  virtual bool is_busy() const { return false; }
  // Asks the window to close; it reports back through its closed callback.
  virtual void close() = 0;
  // Stops the running job the way the tool's own Stop does when its
  // window closes (its keep code: what is written so far stays) and
  // waits until the job's thread has ended.
  virtual void stop_job() {}
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
  // The open windows whose job runs.
  std::vector<ToolWindow*> busy_windows() const;

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

// Windows of which several may be open at once (MBS Scan dialogs): each
// is held until it reports itself closed, and only that one is forgotten.
class ToolSet {
 public:
  // Makes and shows a window for the path (empty: none); it calls
  // closed() once when it goes. Null when it could not be made.
  using Factory = std::function<ToolWindow*(const std::string& path, std::function<void()> closed)>;

  void set_factory(Factory factory) { factory_ = std::move(factory); }
  bool has_factory() const { return static_cast<bool>(factory_); }
  // Opens one more window; true when made.
  bool open(const std::string& path);
  int count() const { return static_cast<int>(open_.size()); }
  // The menu command makes one while none is open.
  bool enabled() const { return has_factory() && open_.empty(); }
  std::vector<ToolWindow*> windows() const;
  void close_all();

 private:
  Factory factory_;
  std::map<int, ToolWindow*> open_;  // by serial number
  std::set<int> closed_;             // closed while being made
  int serial_ = 0;
};
