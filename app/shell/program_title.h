// The program's name, version and release as the main window and the
// About box show them.
#pragma once

#include <string>

// "MPEG-Tamsel <version> (MPEG-2) (<Month Year>)".
std::string program_title();
// The main window's title with an active editor's title after " - ".
std::string main_window_title(const std::string& editor_title);
