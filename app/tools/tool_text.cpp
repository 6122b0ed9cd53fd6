#include "app/tools/tool_text.h"

#include <algorithm>
#include <cstdio>

#include "app/shell/file_utils.h"

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
