#include "app/audio/lyrics_editor.h"

#include <algorithm>

namespace {

bool has_word(const std::string& s) { return count_words(s) > 0; }

}  // namespace

std::string LyricsEditorModel::time_text(int seconds) {
  std::string t;
  parse_lyric_time(std::to_string(seconds), 0, &t);
  return t;
}

void LyricsEditorModel::sort() {
  std::stable_sort(lines_.begin(), lines_.end(), [](const Line& a, const Line& b) { return a.time < b.time; });
}

LyricsEditorModel::Result LyricsEditorModel::add(const std::string& time, const std::string& text, int* index,
                                                 std::string* time_text_out) {
  if (!has_word(time) && !has_word(text)) return Result::Nothing;
  int t = -1;
  std::string tt;
  if (!has_word(time))
    t = lines_.empty() ? parse_lyric_time("0", 0, &tt) : parse_lyric_time(std::to_string(lines_.back().time), 3, &tt);
  else
    t = parse_lyric_time(time, 0, &tt);
  if (t < 0) return Result::Invalid;
  if (time_text_out) *time_text_out = tt;
  modified_ = true;
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].time == t) {
      if (!has_word(lines_[i].text) && has_word(text)) lines_[i].text = text;
      if (index) *index = int(i);
      return Result::Updated;
    }
  lines_.push_back({t, text});
  sort();
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].time == t && index) *index = int(i);
  return Result::Added;
}

LyricsEditorModel::Result LyricsEditorModel::replace(int i, const std::string& time, const std::string& text) {
  if (i < 0 || i >= int(lines_.size())) return Result::Nothing;
  Line& l = lines_[size_t(i)];
  if (time == time_text(l.time) && text == l.text) return Result::Nothing;
  int t = l.time;
  if (!time.empty()) {
    t = parse_lyric_time(time, 0, nullptr);
    if (t < 0) return Result::Invalid;  // a negative time would end the file's reading
  }
  l.time = t;
  if (!text.empty()) l.text = text;
  sort();
  modified_ = true;
  return Result::Updated;
}

void LyricsEditorModel::remove(const std::vector<int>& rows) {
  std::vector<int> r = rows;
  std::sort(r.rbegin(), r.rend());
  for (int i : r)
    if (i >= 0 && i < int(lines_.size())) lines_.erase(lines_.begin() + i);
  modified_ = true;
}

void LyricsEditorModel::clear() {
  lines_.clear();
  modified_ = true;
}

void LyricsEditorModel::load(const LyricsList& list) {
  lines_.clear();
  for (const LyricLine& l : list.lines()) lines_.push_back({l.time, l.text});
  sort();
}

LyricsList LyricsEditorModel::to_list() const {
  LyricsList l;
  for (const Line& x : lines_) l.append(x.text.empty() ? " " : x.text, x.time);
  return l;
}
