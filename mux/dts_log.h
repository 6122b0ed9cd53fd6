// A small event log, and the process-wide log of the decoding-time
// corrections that saves apply to a multiplexer's video. Logging is off
// unless a folder is named; the file is then created fresh (never an
// existing file, never through a symbolic link).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class Logger {
 public:
  Logger() = default;
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Copies n stream names; refused (1) for none, n < 1, or names already set.
  int init(const char* const* names, int n);
  // Creates the file in folder (a name that exists gets -1, -2, ... before
  // its extension); 0 on success, 1 when refused or it cannot be created.
  int open(const std::string& folder, const char* name);
  void close();
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  int events() const { return events_; }
  void log_value(int stream, double value, int integer);
  void log_text(int stream, const char* label, double value);

 private:
  FILE* file_ = nullptr;
  int events_ = 0;
  std::vector<std::string> names_;
  std::string path_;
  std::mutex lock_;
};

// The folder of the DTS correction log: an absolute path, or a name under
// the per-user state folder ($XDG_STATE_HOME/mpeg-tamsel, else
// ~/.local/state/mpeg-tamsel). Null or empty switches logging off.
void dts_log_set_folder(const char* folder);
// Logs one correction (and the video PTS it applies to, when given) into
// "dts-muxer.log", opened on the first call of the process.
void dts_log_correction(double correction, const double* video_pts);
// The process-wide log (for tests).
Logger& dts_logger();
