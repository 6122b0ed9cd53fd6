// Lyrics: timed caption lines of a track (".lyr" files) and the time
// entries of the Lyrics Editor.
#pragma once

#include <string>
#include <vector>

struct LyricLine {
  std::string text;
  int time = 0;  // whole seconds
  int words = 0;
};

int count_words(const std::string& text);

// Lines in the order read (not sorted), with a cursor.
class LyricsList {
 public:
  void clear();
  // Reads a file; the line count. A list that held lines keeps them when
  // the file has none.
  int read(const std::string& file);
  int read_text(const std::string& text);
  // Clears, reads, cursor at the first line; *error when no line was read.
  void load(const std::string& file, int* error);
  void append(const std::string& text, int time);
  // Moves the cursor to the line with the greatest time not after t (the
  // first line when t is before all) searching from the cursor; its time.
  int seek(int t);
  // Lines written (an empty list writes no file).
  int write(const std::string& file) const;
  std::string format() const;

  int count() const { return int(lines_.size()); }
  int cursor() const { return cursor_; }
  const LyricLine* current() const { return cursor_ >= 0 && cursor_ < count() ? &lines_[size_t(cursor_)] : nullptr; }
  const std::vector<LyricLine>& lines() const { return lines_; }

 private:
  std::vector<LyricLine> lines_;
  int cursor_ = 0;
};

// A time typed in the editor plus offset seconds: "s", "m:s" (m, s <= 60),
// "h:m:s" (h <= 24). -1 when not valid; *text (when given) is rewritten
// as "%d:%02d" or "%d:%02d:%02d".
int parse_lyric_time(const std::string& entry, int offset, std::string* text);
