// The Lyrics Editor's rules: caption lines kept sorted by time, added and
// replaced from a time and a text entry.
#pragma once

#include <string>
#include <vector>

#include "app/audio/lyrics.h"

class LyricsEditorModel {
 public:
  struct Line {
    int time;
    std::string text;
  };
  const std::vector<Line>& lines() const { return lines_; }
  bool modified() const { return modified_; }
  void set_modified(bool m) { modified_ = m; }

  enum class Result { Nothing, Added, Updated, Invalid };
  // Add: an empty time takes 0 for the first line, else the last line's
  // time plus 3 seconds. *index gets the line to select; *time_text the
  // time as rewritten.
  Result add(const std::string& time, const std::string& text, int* index, std::string* time_text);
  // Replace line i: a time that is not valid leaves the line unchanged.
  Result replace(int i, const std::string& time, const std::string& text);
  void remove(const std::vector<int>& rows);
  void clear();
  void load(const LyricsList& list);
  LyricsList to_list() const;
  static std::string time_text(int seconds);

 private:
  void sort();
  std::vector<Line> lines_;
  bool modified_ = false;
};
