// Shared pieces exist once in the product's sources: a second copy of a
// checksum or a cache drifts from the first unnoticed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Product sources (not tests, benches or build trees) whose text `holds`
// something; paths relative to the root, sorted.
template <class Holds>
std::vector<std::string> sources_where(Holds holds) {
  const fs::path root = tsupport::source_dir();
  std::vector<std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (it->is_directory() &&
        (rel.rfind("build", 0) == 0 || rel[0] == '.' || rel == "tests" || rel == "bench")) {
      it.disable_recursion_pending();
      continue;
    }
    const std::string e = it->path().extension().string();
    if (!it->is_regular_file() || (e != ".h" && e != ".cpp" && e != ".c")) continue;
    std::ifstream f(it->path(), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    if (holds(s.str())) out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Sources holding any of the words, case-insensitively.
std::vector<std::string> sources_holding(const std::vector<std::string>& words) {
  return sources_where([&](const std::string& text) {
    const std::string t = lower(text);
    return std::any_of(words.begin(), words.end(), [&](const std::string& w) { return t.find(lower(w)) != std::string::npos; });
  });
}

}  // namespace

TEST(OneCopy, Crc16HasOneRoutine) {
  // The generator in its direct and reflected spellings.
  const std::vector<std::string> expected = {"foundation/crc16.cpp", "foundation/crc16.h"};
  EXPECT_EQ(sources_holding({std::string("0x") + "8005", std::string("0x") + "a001"}), expected);
}

// True when the words occur in `line` in order, the last one not followed
// by a letter or digit (so "== 1" does not match "== 16").
bool in_order(const std::string& line, const std::vector<std::string>& words) {
  size_t at = 0;
  for (const auto& w : words) {
    at = line.find(w, at);
    if (at == std::string::npos) return false;
    at += w.size();
  }
  return at >= line.size() || !std::isalnum(static_cast<unsigned char>(line[at]));
}

TEST(OneCopy, StartCodeBytesComparedOnlyByTheCursor) {
  // Byte tests of a 00 00 01 prefix as hand-written scans spell them:
  // x[i] == 0 && x[i + 1] == 0 && x[i + 2] == 1, x[0] || x[1] || x[2] != 1,
  // x[i] != 0 || ... || x[i + 2] != 1, and x[i] == 1 && x[i - 1] == 0 && x[i - 2] == 0.
  const auto found = sources_where([&](const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      std::string s;
      for (char c : line)
        if (c != ' ' && c != '\t') s += c;
      if (in_order(s, {"]==0&&", "]==0&&", "]==1"}) || in_order(s, {"]||", "]||", "]!=1"}) ||
          in_order(s, {"]!=0||", "]!=0||", "]!=1"}) || in_order(s, {"]==1&&", "]==0&&", "]==0"}))
        return true;
    }
    return false;
  });
  const std::vector<std::string> expected = {"foundation/start_code.h"};
  EXPECT_EQ(found, expected);
}
