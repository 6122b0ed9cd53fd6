// Small helpers the stream tool windows share.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/disk.h"

// A message with one "%s" filled in by name.
std::string text_with_name(const char* fmt, const std::string& name);
// The disk holding path: the longest mount point it lies under; -1 none.
int volume_index(const std::vector<Volume>& disks, const std::string& path);
// The disk of the working folder (0 when none is listed).
int current_volume_index(const std::vector<Volume>& disks);

// Keyed lines of the tools' list and settings files ("Key: value").
bool key_line(const std::string& line, const char* key);
// The value part of a keyed line: from the second character after the key.
std::string after_key(const std::string& line, const char* key);
// Blank-separated numbers; a field that is no number reads 0.
std::vector<int> key_numbers(const std::string& text);

// One settings line read into the first field whose key it starts with:
// a text (blanks around it dropped) or up to n numbers. false when no key
// matches.
struct KeyedText {
  const char* key;
  std::string* into;
};
struct KeyedInts {
  const char* key;
  int* into;
  size_t n;
};
bool read_keyed_line(const std::string& line, std::initializer_list<KeyedText> texts,
                     std::initializer_list<KeyedInts> ints);
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
