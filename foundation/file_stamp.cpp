#include "foundation/file_stamp.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "foundation/bsfile.h"
#include "foundation/bsfile_list.h"

namespace {

bool is_mbs_name(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot && strcasecmp(dot, ".mbs") == 0;
}

// The caches that forget() reaches. Made before the first cache and never
// destroyed, so that caches with static lifetime may unregister at exit.
struct Registry {
  std::mutex mutex;
  std::vector<FileCache*> caches;
};

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

}  // namespace

std::string FileStamp::real_path(const char* name) {
  if (!name || !*name) return {};
  char full[PATH_MAX];
  if (realpath(name, full)) return full;
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(name, ec).lexically_normal();
  if (ec) return name;
  // Gone: its folder may still resolve.
  if (realpath(p.parent_path().c_str(), full)) return (std::filesystem::path(full) / p.filename()).string();
  return p.string();
}

std::optional<FileStamp> FileStamp::of(const char* name) {
  if (!name || !*name) return std::nullopt;
  char full[PATH_MAX];
  struct stat st;
  if (!realpath(name, full) || stat(full, &st) != 0) return std::nullopt;
  FileStamp s;
  s.path = full;
  s.size = static_cast<uint64_t>(st.st_size);
  s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  // A list's members may change while the list stays the same.
  if (is_mbs_name(full) && utils_is_mbs_file(full)) s.size = BSFile(full, 1).size().value();
  return s;
}

void forget(const char* name) {
  const std::string path = FileStamp::real_path(name);
  if (path.empty()) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (FileCache* c : r.caches) c->forget_path(path);
}

void FileCache::enlist() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.caches.push_back(this);
}

void FileCache::delist() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.caches.erase(std::remove(r.caches.begin(), r.caches.end(), this), r.caches.end());
}
