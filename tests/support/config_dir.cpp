#include "config_dir.h"

#include <cstdlib>

#include "support.h"

namespace tsupport {

ConfigDir::ConfigDir() {
  path_ = temp_dir() + "/config";
  if (const char* v = std::getenv("TAMSEL_CONFIG_DIR")) {
    had_previous_ = true;
    previous_ = v;
  }
  ::setenv("TAMSEL_CONFIG_DIR", path_.c_str(), 1);
}

ConfigDir::~ConfigDir() {
  if (had_previous_)
    ::setenv("TAMSEL_CONFIG_DIR", previous_.c_str(), 1);
  else
    ::unsetenv("TAMSEL_CONFIG_DIR");
}

}  // namespace tsupport
