#include "platform/file_dialogs.h"

#include <cctype>

std::vector<FileFilter> parse_file_filter(const std::string& text) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t bar = text.find('|', at);
    const size_t end = bar == std::string::npos ? text.size() : bar;
    parts.push_back(text.substr(at, end - at));
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  std::vector<FileFilter> out;
  // An empty description is the "||" that ends the list.
  for (size_t i = 0; i < parts.size() && !parts[i].empty(); i += 2) {
    FileFilter f;
    f.description = parts[i];
    const std::string pats = i + 1 < parts.size() ? parts[i + 1] : std::string();
    size_t p = 0;
    while (p <= pats.size()) {
      const size_t semi = pats.find(';', p);
      const size_t e = semi == std::string::npos ? pats.size() : semi;
      std::string one = pats.substr(p, e - p);
      while (!one.empty() && std::isspace(static_cast<unsigned char>(one.front()))) one.erase(0, 1);
      while (!one.empty() && std::isspace(static_cast<unsigned char>(one.back()))) one.pop_back();
      if (!one.empty()) f.patterns.push_back(one);
      if (semi == std::string::npos) break;
      p = semi + 1;
    }
    out.push_back(std::move(f));
  }
  return out;
}

namespace {

bool glob(const char* p, const char* n) {
  // Iterative wildcard match with one backtrack point: linear enough for
  // names, no recursion on hostile patterns.
  const char *star = nullptr, *resume = nullptr;
  while (*n) {
    if (*p == '*') {
      star = p++;
      resume = n;
    } else if (*p == '?' ||
               (*p && std::tolower(static_cast<unsigned char>(*p)) == std::tolower(static_cast<unsigned char>(*n)))) {
      ++p;
      ++n;
    } else if (star) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

}  // namespace

bool file_pattern_matches(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*") return true;
  return glob(pattern.c_str(), name.c_str());
}

bool file_filter_matches(const FileFilter& filter, const std::string& name) {
  if (filter.patterns.empty()) return true;
  for (const auto& p : filter.patterns)
    if (file_pattern_matches(p, name)) return true;
  return false;
}

std::string name_filter_string(const FileFilter& filter) {
  std::string s = filter.description + " (";
  if (filter.patterns.empty()) s += "*";
  bool first = true;
  for (const auto& p : filter.patterns) {
    if (!first) s += ' ';
    first = false;
    if (p == "*.*") {
      s += '*';
      continue;
    }
    for (char c : p) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (std::isalpha(u)) {
        s += '[';
        s += char(std::tolower(u));
        s += char(std::toupper(u));
        s += ']';
      } else {
        s += c;
      }
    }
  }
  return s + ")";
}
