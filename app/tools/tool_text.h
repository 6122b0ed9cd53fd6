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

// A tool window's "Disk Space" list and the check of an output's disk.
struct OutputDisks {
  std::vector<Volume> list;
  int index = 0;
  // The mounted disks again, the working folder's selected.
  void refresh();
  // Selects the disk of path (a full path) with its free space read again;
  // false when the expected bytes exceed it and the warning is not
  // answered Ignore. A path on no listed disk passes.
  bool check(const std::string& path, double expected);
};
