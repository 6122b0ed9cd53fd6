// Small helpers the stream tool windows share.
#pragma once

#include <string>
#include <vector>

#include "platform/disk.h"

// A message with one "%s" filled in by name.
std::string text_with_name(const char* fmt, const std::string& name);
// The disk holding path: the longest mount point it lies under; -1 none.
int volume_index(const std::vector<Volume>& disks, const std::string& path);
// The disk of the working folder (0 when none is listed).
int current_volume_index(const std::vector<Volume>& disks);
