// The source tree keeps its layering: every quoted #include of a library
// folder names a folder the README's layout table lets it use, and Qt
// stays in platform/qt_* and ui/ (with their tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "support.h"

namespace fs = std::filesystem;

namespace {

std::string read(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string trim(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(0, 1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

bool folder_word(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!(std::islower(static_cast<unsigned char>(c)) || c == '_' || c == '/' || c == '*')) return false;
  return true;
}

// The cells of a table line "| a | b | c |".
std::vector<std::string> cells(const std::string& line) {
  std::vector<std::string> out;
  size_t at = 1;
  while (at < line.size()) {
    const size_t bar = line.find('|', at);
    if (bar == std::string::npos) break;
    out.push_back(trim(line.substr(at, bar - at)));
    at = bar + 1;
  }
  return out;
}

// Rows of the layout table: folder ("audio/codec", "platform/qt_*", "ui")
// and the folders it may use.
std::map<std::string, std::set<std::string>> layout_table(const std::string& readme) {
  std::map<std::string, std::set<std::string>> rows;
  std::istringstream in(readme);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("| `", 0) != 0) continue;
    const std::vector<std::string> c = cells(line);
    if (c.size() < 3) continue;
    // The first cell begins with the folder in backticks.
    const size_t close = c[0].find('`', 1);
    if (close == std::string::npos) continue;
    std::string folder = c[0].substr(1, close - 1);
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    if (!folder_word(folder)) continue;
    std::set<std::string> uses;
    std::stringstream list(c.back());
    std::string item;
    while (std::getline(list, item, ',')) {
      item = trim(item);
      item.erase(std::remove(item.begin(), item.end(), '`'), item.end());
      if (!item.empty() && item.back() == '/') item.pop_back();
      if (folder_word(item)) uses.insert(item);
    }
    rows[folder] = uses;
  }
  return rows;
}

// The quoted file of an #include line; empty for any other line.
std::string quoted_include(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line[i] != '#') return {};
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string::npos || line.compare(i, 7, "include") != 0) return {};
  i = line.find_first_not_of(" \t", i + 7);
  if (i == std::string::npos || line[i] != '"') return {};
  const size_t end = line.find('"', i + 1);
  return end == std::string::npos ? std::string() : line.substr(i + 1, end - i - 1);
}

// Whether a line includes a Qt header (<Q...>).
bool qt_include(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line[i] != '#') return false;
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string::npos || line.compare(i, 7, "include") != 0) return false;
  i = line.find_first_not_of(" \t", i + 7);
  return i != std::string::npos && line.compare(i, 2, "<Q") == 0;
}

// Whether a line names one of the Qt classes only the seams may use.
bool names_seam_class(const std::string& line) {
  // Spelled in pieces so that this file does not name them itself.
  static const std::string names[] = {std::string("QMessage") + "Box", std::string("QFile") + "Dialog",
                                      std::string("QAudio") + "Sink"};
  for (const auto& n : names) {
    for (size_t at = line.find(n); at != std::string::npos; at = line.find(n, at + 1)) {
      const bool start = at == 0 || !(std::isalnum(static_cast<unsigned char>(line[at - 1])) || line[at - 1] == '_');
      const size_t e = at + n.size();
      const bool end = e >= line.size() || !(std::isalnum(static_cast<unsigned char>(line[e])) || line[e] == '_');
      if (start && end) return true;
    }
  }
  return false;
}

// The row a source file (path relative to the root) belongs to.
std::string row_of(const std::string& path) {
  if (path.rfind("ui/", 0) == 0) return "ui";
  const fs::path p(path);
  const std::string dir = p.parent_path().string();
  if (dir == "platform" && p.filename().string().rfind("qt_", 0) == 0) return "platform/qt_*";
  return dir;
}

bool is_source(const fs::path& p) {
  const std::string e = p.extension().string();
  return e == ".h" || e == ".cpp";
}

std::vector<std::string> sources_under(const fs::path& root, const std::string& folder, bool recursive) {
  std::vector<std::string> out;
  const fs::path dir = root / folder;
  if (!fs::is_directory(dir)) return out;
  auto add = [&](const fs::directory_entry& e) {
    if (e.is_regular_file() && is_source(e.path())) out.push_back(fs::relative(e.path(), root).string());
  };
  if (recursive)
    for (const auto& e : fs::recursive_directory_iterator(dir)) add(e);
  else
    for (const auto& e : fs::directory_iterator(dir)) add(e);
  return out;
}

TEST(Layout, IncludesFollowTheLayoutTable) {
  const fs::path root = tsupport::source_dir();
  const auto rows = layout_table(read(root / "README.md"));
  ASSERT_TRUE(rows.count("foundation"));
  ASSERT_TRUE(rows.count("app/shell"));
  ASSERT_TRUE(rows.count("ui"));
  ASSERT_TRUE(rows.count("platform/qt_*"));
  std::vector<std::string> faults;
  for (const auto& [folder, uses] : rows) {
    const bool qt_row = folder == "platform/qt_*";
    const std::string dir = qt_row ? "platform" : folder;
    for (const std::string& file : sources_under(root, dir, folder == "ui")) {
      if (row_of(file) != folder) continue;
      std::istringstream in(read(root / file));
      std::string line;
      int n = 0;
      while (std::getline(in, line)) {
        ++n;
        const std::string target = quoted_include(line);
        if (target.find('/') == std::string::npos) continue;  // beside the file
        const std::string used = row_of(target);
        if (used == folder || uses.count(used)) continue;
        faults.push_back(file + ":" + std::to_string(n) + " includes " + target + " (" + used + ")");
      }
    }
  }
  EXPECT_TRUE(faults.empty()) << [&] {
    std::string s;
    for (const auto& f : faults) s += f + "\n";
    return s;
  }();
}

TEST(Layout, QtOnlyInItsFolders) {
  const fs::path root = tsupport::source_dir();
  auto under = [](const std::string& p, const char* prefix) { return p.rfind(prefix, 0) == 0; };
  std::vector<std::string> faults;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (it->is_directory() && (rel.rfind("build", 0) == 0 || rel[0] == '.')) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file() || !is_source(it->path())) continue;
    const bool qt_seam = under(rel, "platform/qt_") || under(rel, "tests/platform/qt_");
    const bool qt_allowed = qt_seam || under(rel, "ui/") || under(rel, "tests/ui/") || under(rel, "tests/e2e/") ||
                            under(rel, "tests/support/e2e") || under(rel, "bench/qt/");
    std::istringstream in(read(it->path()));
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
      ++n;
      if (!qt_allowed && qt_include(line))
        faults.push_back(rel + ":" + std::to_string(n) + " includes Qt");
      // Message boxes, file dialogs and the sound device go through the
      // platform seams, even in the user interface.
      if (!qt_seam && names_seam_class(line))
        faults.push_back(rel + ":" + std::to_string(n) + " names a Qt class of the seams");
    }
  }
  EXPECT_TRUE(faults.empty()) << [&] {
    std::string s;
    for (const auto& f : faults) s += f + "\n";
    return s;
  }();
}

TEST(Layout, TableParsesItsRows) {
  const auto rows = layout_table(
      "| `audio/codec/` | codecs | foundation |\n"
      "| `platform/qt_*` (`tamsel_platform_qt`) | seams | platform, Qt 6 Widgets |\n"
      "| `ui/` (`tamsel_ui`) | windows | app/shell, `platform/qt_*` |\n"
      "| folder | what | uses |\n");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows.at("audio/codec"), std::set<std::string>{"foundation"});
  EXPECT_EQ(rows.at("platform/qt_*"), std::set<std::string>{"platform"});
  EXPECT_EQ(rows.at("ui"), (std::set<std::string>{"app/shell", "platform/qt_*"}));
  EXPECT_EQ(row_of("platform/qt_services.h"), "platform/qt_*");
  EXPECT_EQ(row_of("platform/services.h"), "platform");
  EXPECT_EQ(row_of("ui/shell/main_window.h"), "ui");
  EXPECT_EQ(row_of("audio/codec/wave.h"), "audio/codec");
  EXPECT_EQ(quoted_include(" #  include \"app/shell/x.h\" // why"), "app/shell/x.h");
  EXPECT_EQ(quoted_include("#include <QWidget>"), "");
  EXPECT_TRUE(qt_include("#include <QWidget>"));
  EXPECT_FALSE(qt_include("// #include <QWidget>"));
}

}  // namespace
