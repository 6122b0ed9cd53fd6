// The source tree keeps its layering: every quoted #include of a library
// folder names a folder the README's layout table lets it use, and Qt
// stays in platform/qt_* and ui/ (with their tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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

// Rows of the layout table: folder ("audio/codec", "platform/qt_*", "ui")
// and the folders it may use.
std::map<std::string, std::set<std::string>> layout_table(const std::string& readme) {
  std::map<std::string, std::set<std::string>> rows;
  std::istringstream in(readme);
  std::string line;
  const std::regex row(R"(^\| `([a-z_/*]+?)/?`[^|]*\|.*\|([^|]*)\|\s*$)");
  const std::regex folder(R"(^[a-z_/*]+$)");
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    std::set<std::string> uses;
    std::stringstream list(m[2].str());
    std::string item;
    while (std::getline(list, item, ',')) {
      item = trim(item);
      item.erase(std::remove(item.begin(), item.end(), '`'), item.end());
      if (!item.empty() && item.back() == '/') item.pop_back();
      if (std::regex_match(item, folder)) uses.insert(item);
    }
    rows[m[1].str()] = uses;
  }
  return rows;
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
  const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
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
        std::smatch m;
        if (!std::regex_search(line, m, include)) continue;
        const std::string target = m[1].str();
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
  const std::regex qt_include(R"(^\s*#\s*include\s*<Q)");
  // Spelled in pieces so that this file does not name them itself.
  const std::regex qt_calls(std::string("\\b(QMessage") + "Box|QFile" + "Dialog|QAudio" + "Sink)\\b");
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
                            under(rel, "tests/support/e2e");
    std::istringstream in(read(it->path()));
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
      ++n;
      if (!qt_allowed && std::regex_search(line, qt_include))
        faults.push_back(rel + ":" + std::to_string(n) + " includes Qt");
      // Message boxes, file dialogs and the sound device go through the
      // platform seams, even in the user interface.
      if (!qt_seam && std::regex_search(line, qt_calls))
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
}

}  // namespace
