#include "app/audio/lyrics.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shell/kept_file.h"

namespace {

constexpr const char* kKey = "SorvaneLyrics:";

std::vector<LyricLine> parse(const std::string& text) {
  std::vector<LyricLine> out;
  size_t p = 0;
  while (p < text.size()) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(p, e - p);
    p = e + 1;
    if (line.size() > 1023) line.resize(1023);
    if (line.compare(0, std::strlen(kKey), kKey) != 0) continue;
    const size_t from = std::strlen(kKey) + 1;
    if (from > line.size()) continue;
    const char* s = line.c_str() + from;
    char* end = nullptr;
    const long t = std::strtol(s, &end, 10);
    if (end == s) continue;
    if (t < 0) break;  // a negative time ends the file
    const char* q = end;
    while (*q && std::isspace((unsigned char)*q)) ++q;
    std::string body(q);
    while (!body.empty() && std::isspace((unsigned char)body.back())) body.pop_back();
    if (body.empty()) body = " ";
    LyricLine l;
    l.text = body;
    l.time = t > 2147483647L ? 2147483647 : int(t);
    l.words = count_words(body);
    out.push_back(std::move(l));
  }
  return out;
}

}  // namespace

int count_words(const std::string& text) {
  int n = 0;
  bool in = false;
  for (unsigned char c : text) {
    const bool w = !std::isspace(c);
    if (w && !in) ++n;
    in = w;
  }
  return n;
}

void LyricsList::clear() {
  lines_.clear();
  cursor_ = 0;
}

int LyricsList::read_text(const std::string& text) {
  std::vector<LyricLine> got = parse(text);
  if (!got.empty()) {
    lines_ = std::move(got);
    cursor_ = 0;
  }
  return count();
}

int LyricsList::read(const std::string& file) {
  std::string text;
  if (!read_kept_file(file, &text)) return count();
  return read_text(text);
}

void LyricsList::load(const std::string& file, int* error) {
  clear();
  read(file);
  cursor_ = 0;
  if (error) *error = lines_.empty() ? 1 : 0;
}

void LyricsList::append(const std::string& text, int time) {
  LyricLine l;
  l.text = text;
  l.time = time;
  l.words = count_words(text);
  lines_.push_back(std::move(l));
}

int LyricsList::seek(int t) {
  if (lines_.empty()) return 0;
  int c = cursor_ < 0 || cursor_ >= count() ? 0 : cursor_;
  while (t < lines_[size_t(c)].time && c > 0) --c;
  if (t > lines_[size_t(c)].time)
    while (c + 1 < count() && lines_[size_t(c) + 1].time <= t) {
      ++c;
      if (lines_[size_t(c)].time == t) break;
    }
  cursor_ = c;
  return lines_[size_t(c)].time;
}

std::string LyricsList::format() const {
  std::string out = "#\n# Quarvel Sorvane Caption Text\n#\n";
  char buf[32];
  for (const LyricLine& l : lines_) {
    std::snprintf(buf, sizeof buf, " %4d ", l.time);
    out += kKey + std::string(buf) + l.text + "\n";
  }
  out += "#\n# total: " + std::to_string(lines_.size()) + " lines\n#\n";
  return out;
}

int LyricsList::write(const std::string& file) const {
  if (lines_.empty()) return 0;
  return write_kept_file(file, format()) ? count() : 0;
}

int parse_lyric_time(const std::string& entry, int offset, std::string* text) {
  int colons = 0, digits = 0;
  for (char c : entry) {
    if (c == ':')
      ++colons;
    else if (std::isdigit((unsigned char)c))
      ++digits;
    else
      return -1;
  }
  if (digits == 0 || colons > 2) return -1;
  std::vector<long long> parts(1, 0);
  for (char c : entry) {
    if (c == ':') {
      parts.push_back(0);
    } else {
      parts.back() = parts.back() * 10 + (c - '0');
      if (parts.back() > 100000000) return -1;  // long values are not times
    }
  }
  long long s = 0;
  if (parts.size() == 1) {
    s = parts[0];
  } else if (parts.size() == 2) {
    if (parts[0] > 60 || parts[1] > 60) return -1;
    s = parts[0] * 60 + parts[1];
  } else {
    if (parts[0] > 24 || parts[1] > 60 || parts[2] > 60) return -1;
    s = (parts[0] * 60 + parts[1]) * 60 + parts[2];
  }
  s += offset;
  if (s < 0 || s > 2147483647LL) return -1;
  if (text) {
    char buf[48];
    if (s < 3600)
      std::snprintf(buf, sizeof buf, "%d:%02d", int(s / 60 % 60), int(s % 60));
    else
      std::snprintf(buf, sizeof buf, "%d:%02d:%02d", int(s / 3600 % 24), int(s / 60 % 60), int(s % 60));
    *text = buf;
  }
  return int(s);
}
