#include "app/shell/program_title.h"

#ifndef TAMSEL_VERSION
#define TAMSEL_VERSION "0.0.0"
#endif
#ifndef TAMSEL_RELEASE_MONTH
#define TAMSEL_RELEASE_MONTH "unreleased"
#endif

std::string program_title() {
  return std::string("MPEG-Tamsel ") + TAMSEL_VERSION + " (MPEG-2) (" + TAMSEL_RELEASE_MONTH + ")";
}

std::string main_window_title(const std::string& editor_title) {
  return editor_title.empty() ? program_title() : program_title() + " - " + editor_title;
}
