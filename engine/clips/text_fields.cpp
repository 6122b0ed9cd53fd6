#include "engine/clips/text_fields.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <sstream>

std::string utils_strip_spaces(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace((unsigned char)s[a])) ++a;
  while (b > a && std::isspace((unsigned char)s[b - 1])) --b;
  return s.substr(a, b - a);
}

int utils_count_fields(const char* text) {
  int n = 0;
  for (bool in = false; text && *text; ++text) {
    const bool blank = std::isspace((unsigned char)*text);
    if (!blank && !in) ++n;
    in = !blank;
  }
  return n;
}

bool utils_int_fields(const std::string& line, std::vector<long long>* out) {
  std::istringstream in(line);
  std::string w;
  out->clear();
  while (in >> w) {
    char* end = nullptr;
    const long long v = std::strtoll(w.c_str(), &end, 10);
    if (!end || *end || v < INT32_MIN || v > INT32_MAX) return false;
    out->push_back(v);
  }
  return true;
}
