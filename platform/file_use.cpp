#include "platform/file_use.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>

namespace {

std::string canonical_spelling(const std::string& p) {
  std::error_code ec;
  const auto c = std::filesystem::weakly_canonical(std::filesystem::absolute(p, ec), ec);
  return ec ? p : c.string();
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  const bool ea = ::stat(a.c_str(), &sa) == 0, eb = ::stat(b.c_str(), &sb) == 0;
  if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ea != eb) return false;
  return canonical_spelling(a) == canonical_spelling(b);
}

struct SystemFileUse::Impl {
  std::mutex lock;
  int next = 1;
  std::map<int, std::function<std::vector<std::string>()>> inputs;
  std::map<int, std::string> outputs;
};

SystemFileUse::SystemFileUse() : impl_(new Impl) {}
SystemFileUse::~SystemFileUse() { delete impl_; }

int SystemFileUse::add_inputs(std::function<std::vector<std::string>()> lister) {
  std::lock_guard<std::mutex> g(impl_->lock);
  const int t = impl_->next++;
  impl_->inputs[t] = std::move(lister);
  return t;
}

int SystemFileUse::add_output(const std::string& path) {
  std::lock_guard<std::mutex> g(impl_->lock);
  const int t = impl_->next++;
  impl_->outputs[t] = path;
  return t;
}

void SystemFileUse::release(int token) {
  std::lock_guard<std::mutex> g(impl_->lock);
  impl_->inputs.erase(token);
  impl_->outputs.erase(token);
}

bool SystemFileUse::in_use(const std::string& path) {
  if (path.empty()) return false;
  std::vector<std::function<std::vector<std::string>()>> listers;
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> g(impl_->lock);
    for (const auto& [t, l] : impl_->inputs) listers.push_back(l);
    for (const auto& [t, p] : impl_->outputs) names.push_back(p);
  }
  for (const auto& l : listers)
    if (l)
      for (auto& n : l()) names.push_back(std::move(n));
  for (const auto& n : names)
    if (!n.empty() && same_file(n, path)) return true;
  return false;
}

bool SystemFileUse::writable(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(path.c_str());
  return true;
}
