#include "app/tools/tool_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cstdio>

#include "app/shell/file_utils.h"
#include "engine/clips/text_fields.h"

std::string text_with_name(const char* fmt, const std::string& name) {
  std::string out(name.size() + 256, '\0');
  const int n = std::snprintf(out.data(), out.size(), fmt, name.c_str());
  out.resize(size_t(std::max(n, 0)));
  return out;
}

int volume_index(const std::vector<Volume>& disks, const std::string& path) {
  int best = -1;
  size_t len = 0;
  for (size_t i = 0; i < disks.size(); ++i) {
    const std::string& m = disks[i].mount;
    const bool under = path.compare(0, m.size(), m) == 0 &&
                       (m.size() == path.size() || m.back() == '/' || path[m.size()] == '/');
    if (under && (best < 0 || m.size() > len)) {
      best = int(i);
      len = m.size();
    }
  }
  return best;
}

int current_volume_index(const std::vector<Volume>& disks) {
  std::string here;
  get_full_path(".", &here);
  return std::max(0, volume_index(disks, here));
}

bool key_line(const std::string& line, const char* key) { return line.compare(0, std::strlen(key), key) == 0; }

std::string after_key(const std::string& line, const char* key) {
  const size_t at = std::strlen(key) + 1;
  return at < line.size() ? line.substr(at) : std::string();
}

std::vector<int> key_numbers(const std::string& text) {
  std::vector<int> out;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (at >= text.size()) break;
    size_t end = at;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    const long v = std::strtol(text.substr(at, end - at).c_str(), nullptr, 10);
    out.push_back(int(std::clamp<long>(v, -2147483647L, 2147483647L)));
    at = end;
  }
  return out;
}

bool read_keyed_line(const std::string& line, std::initializer_list<KeyedText> texts,
                     std::initializer_list<KeyedInts> ints) {
  for (const KeyedText& t : texts)
    if (key_line(line, t.key)) {
      *t.into = utils_strip_spaces(after_key(line, t.key));
      return true;
    }
  for (const KeyedInts& k : ints)
    if (key_line(line, k.key)) {
      const std::vector<int> v = key_numbers(after_key(line, k.key));
      for (size_t i = 0; i < k.n && i < v.size(); ++i) k.into[i] = v[i];
      return true;
    }
  return false;
}

void OutputDisks::refresh() {
  list.clear();
  list_fixed_drives(&list, 20);
  index = current_volume_index(list);
}

bool OutputDisks::check(const std::string& path, double expected) {
  const int v = volume_index(list, path);
  if (v < 0) return true;
  index = v;
  Volume& d = list[size_t(v)];
  d.free_bytes = get_disk_free(d.mount);
  return !(expected > d.free_bytes) || warn_disk_space(d.mount) == PromptAnswer::Ignore;
}
