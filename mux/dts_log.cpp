#include "mux/dts_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "foundation/trace.h"

Logger::~Logger() { close(); }

int Logger::init(const char* const* names, int n) {
  std::lock_guard<std::mutex> g(lock_);
  if (!names || n < 1 || !names_.empty()) return 1;
  for (int i = 0; i < n; ++i) names_.emplace_back(names[i] ? names[i] : "");
  return 0;
}

int Logger::open(const std::string& folder, const char* name) {
  std::lock_guard<std::mutex> g(lock_);
  if (file_ || folder.empty() || !name || !*name) return 1;
  std::string base = name, ext;
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos) ext = base.substr(dot), base.resize(dot);
  for (int k = 0; k < 100 && !file_; ++k) {
    const std::string path = folder + "/" + base + (k ? "-" + std::to_string(k) : "") + ext;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      trace("Logger::open (ERROR): cannot create \"%s\": %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
    file_ = fdopen(fd, "w");
    if (!file_) {
      ::close(fd);
      return 1;
    }
    path_ = path;
  }
  if (!file_) {
    trace("Logger::open (ERROR): no free name for \"%s\" in \"%s\"\n", name, folder.c_str());
    return 1;
  }
  std::fprintf(file_, "//\n// Logger started: <%s>\n//\n", name);
  std::fflush(file_);
  return 0;
}

void Logger::close() {
  std::lock_guard<std::mutex> g(lock_);
  if (!file_) return;
  std::fprintf(file_, "//\n// Logger ended: %d events\n//\n", events_);
  std::fclose(file_);
  file_ = nullptr;
}

void Logger::log_value(int stream, double value, int integer) {
  std::lock_guard<std::mutex> g(lock_);
  if (!file_) return;
  std::fprintf(file_, "%06d  %3d %02x %16.3f %10d\n", events_, stream, 0x21, value, integer);
  std::fflush(file_);
  ++events_;
}

void Logger::log_text(int stream, const char* label, double value) {
  std::lock_guard<std::mutex> g(lock_);
  if (!file_) return;
  std::fprintf(file_, "%06d  %3d %02x %10s %16.3f\n", events_, stream, 0x42, label ? label : "", value);
  std::fflush(file_);
  ++events_;
}

namespace {

std::mutex g_folder_lock;
std::string g_folder;
std::atomic<int> g_calls{0};

std::string state_folder() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/mpeg-tamsel";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state/mpeg-tamsel";
}

// Creates each missing folder of path (mode 0700).
bool make_folders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

Logger& dts_logger() {
  static Logger log;
  return log;
}

void dts_log_set_folder(const char* folder) {
  std::lock_guard<std::mutex> g(g_folder_lock);
  if (!folder || !*folder)
    g_folder.clear();
  else
    g_folder = folder[0] == '/' ? std::string(folder) : state_folder() + "/" + folder;
}

void dts_log_correction(double correction, const double* video_pts) {
  std::string folder;
  {
    std::lock_guard<std::mutex> g(g_folder_lock);
    folder = g_folder;
  }
  if (folder.empty()) return;
  Logger& log = dts_logger();
  static std::once_flag opened;
  std::call_once(opened, [&] {
    static const char* const kNames[1] = {"add_dts_correction"};
    log.init(kNames, 1);
    if (!make_folders(folder) || log.open(folder, "dts-muxer.log"))
      trace("add_dts_correction (ERROR): the DTS log cannot be opened in \"%s\"\n", folder.c_str());
  });
  if (video_pts) log.log_text(0, "video PTS:", *video_pts);
  log.log_value(0, correction, ++g_calls);
}
