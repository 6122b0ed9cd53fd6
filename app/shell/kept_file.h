// Files the program keeps (settings, lists): written whole to a temporary
// name in the same folder and renamed over the old file, so a crash or a
// full disk never leaves half a file where a good one was.
#pragma once

#include <string>

// true when the file now holds text; on failure the old file is untouched
// and *error (when given) says why.
bool write_kept_file(const std::string& path, const std::string& text, std::string* error = nullptr);
// The file's bytes; false when it cannot be read.
bool read_kept_file(const std::string& path, std::string* text);
