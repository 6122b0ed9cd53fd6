// A fresh configuration folder for one test: TAMSEL_CONFIG_DIR names a
// folder (not yet made) under the test's temporary folder while the
// object lives, and is put back after.
#pragma once

#include <string>

namespace tsupport {

class ConfigDir {
 public:
  ConfigDir();
  ~ConfigDir();
  ConfigDir(const ConfigDir&) = delete;
  ConfigDir& operator=(const ConfigDir&) = delete;
  const std::string& path() const { return path_; }
  // The settings file in it.
  std::string settings_file() const { return path_ + "/MPEG-Tamsel.cfg"; }

 private:
  std::string path_;
  std::string previous_;
  bool had_previous_ = false;
};

}  // namespace tsupport
