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

// Product sources (not tests, benches or build trees) whose text holds any
// of the words, case-insensitively; paths relative to the root.
std::vector<std::string> sources_holding(const std::vector<std::string>& words) {
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
    const std::string text = lower(s.str());
    for (const auto& w : words)
      if (text.find(lower(w)) != std::string::npos) {
        out.push_back(rel);
        break;
      }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(OneCopy, Crc16HasOneRoutine) {
  // The generator in its direct and reflected spellings.
  const std::vector<std::string> expected = {"foundation/crc16.cpp", "foundation/crc16.h"};
  EXPECT_EQ(sources_holding({std::string("0x") + "8005", std::string("0x") + "a001"}), expected);
}
