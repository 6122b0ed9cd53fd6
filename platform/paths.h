// Where the program keeps its files and finds its own. The program's
// folder is never written: settings and lists live in the per-user
// configuration folder.
#pragma once

#include <string>

class Paths {
 public:
  virtual ~Paths() = default;
  // The configuration folder, created when missing; empty (and *error
  // says why) when it cannot be made.
  virtual std::string config_folder(std::string* error = nullptr) = 0;
  // Folder of temporary files (logs, insert clips).
  virtual std::string temp_folder() = 0;
  // Folder of the program's read-only data (help pages).
  virtual std::string data_folder() = 0;
};

// TAMSEL_CONFIG_DIR, else $XDG_CONFIG_HOME/mpeg-tamsel, else
// $HOME/.config/mpeg-tamsel; TMPDIR, else /tmp; TAMSEL_DATA_DIR, else
// share/mpeg-tamsel beside the executable's folder.
class SystemPaths : public Paths {
 public:
  std::string config_folder(std::string* error = nullptr) override;
  std::string temp_folder() override;
  std::string data_folder() override;
};

// The configuration folder SystemPaths would use, without making it.
std::string config_folder_location();
