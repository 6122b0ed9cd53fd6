#include "platform/disk.h"

#include <sys/statvfs.h>

#include <fstream>
#include <set>
#include <sstream>

namespace {

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> parse_mount_table(const std::string& text) {
  static const std::set<std::string> skip = {"proc",  "sysfs",   "devtmpfs", "devpts",  "tmpfs",   "cgroup",
                                             "cgroup2", "nfs",   "nfs4",     "cifs",    "smb3",    "sshfs",
                                             "fuse.sshfs", "autofs", "squashfs", "overlay", "iso9660", "udf"};
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string dev, mount, type;
    if (!(f >> dev >> mount >> type)) continue;
    if (dev.empty() || dev[0] == '#' || dev.rfind("/dev/", 0) != 0 || skip.count(type)) continue;
    // Loop devices are mounted images (snaps, CDs), not disks to save to.
    if (dev.rfind("/dev/loop", 0) == 0) continue;
    const std::string m = unescape(mount);
    bool seen = false;
    for (const auto& o : out) seen = seen || o == m;
    if (!seen) out.push_back(m);
  }
  return out;
}

double SystemDisk::free_bytes(const std::string& path) {
  std::string p = path.empty() ? std::string(".") : path;
  for (;;) {
    struct statvfs st;
    if (::statvfs(p.c_str(), &st) == 0) return double(st.f_bavail) * double(st.f_frsize);
    const size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) {
      if (p == ".") return 0.0;
      p = ".";
    } else if (slash == 0) {
      if (p == "/") return 0.0;
      p = "/";
    } else {
      p.resize(slash);
    }
  }
}

std::vector<Volume> SystemDisk::volumes() {
  std::ifstream in(table_);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<Volume> out;
  for (const auto& m : parse_mount_table(text.str())) {
    struct statvfs st;
    if (::statvfs(m.c_str(), &st) != 0) continue;
    out.push_back({m, double(st.f_bavail) * double(st.f_frsize)});
  }
  return out;
}
