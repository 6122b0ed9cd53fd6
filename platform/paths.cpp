#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string config_folder_location() {
  std::string dir = env("TAMSEL_CONFIG_DIR");
  if (!dir.empty()) return dir;
  dir = env("XDG_CONFIG_HOME");
  if (!dir.empty()) return dir + "/mpeg-tamsel";
  dir = env("HOME");
  if (!dir.empty()) return dir + "/.config/mpeg-tamsel";
  return {};
}

std::string SystemPaths::config_folder(std::string* error) {
  const std::string dir = config_folder_location();
  if (dir.empty()) {
    if (error) *error = "no TAMSEL_CONFIG_DIR, XDG_CONFIG_HOME or HOME";
    return {};
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) {
    if (error) *error = dir + ": " + (ec ? ec.message() : std::string("not a folder"));
    return {};
  }
  return dir;
}

std::string SystemPaths::temp_folder() {
  const std::string dir = env("TMPDIR");
  return dir.empty() ? std::string("/tmp") : dir;
}

std::string SystemPaths::data_folder() {
  std::string dir = env("TAMSEL_DATA_DIR");
  if (!dir.empty()) return dir;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "/usr/share/mpeg-tamsel";
  return (exe.parent_path().parent_path() / "share" / "mpeg-tamsel").string();
}
