#include "platform/help.h"

#include <sys/stat.h>

#include "foundation/trace.h"
#include "platform/paths.h"

std::string help_page_file(const std::string& data_folder, const std::string& page) {
  std::string rel = page;
  const size_t sep = rel.find("::");
  if (sep != std::string::npos) rel = rel.substr(sep + 2);
  for (char& c : rel)
    if (c == '\\') c = '/';
  while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
  if (rel.empty() || rel == ".." || rel.rfind("../", 0) == 0 || rel.find("/../") != std::string::npos ||
      (rel.size() >= 3 && rel.compare(rel.size() - 3, 3, "/..") == 0))
    return {};
  std::string folder = data_folder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + "help/" + rel;
}

int LocalHelp::show(const std::string& page) {
  if (!paths_ || !desktop_) return 0;
  const std::string file = help_page_file(paths_->data_folder(), page);
  struct stat st;
  if (file.empty() || ::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    trace("show_help (): no page <%s> (%s)\n", page.c_str(), file.c_str());
    return 0;
  }
  return desktop_->open_url("file://" + file) ? 1 : 0;
}
